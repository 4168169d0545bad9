// What the launcher trusts when it runs as root, and the one way it opens
// the files that decide what it runs or where it writes: walked name by name
// from a directory handle, each handle checked before the next name is
// looked up in it, and the file used through the descriptor that was checked.
#ifndef LAUNCHER_TRUST_H_
#define LAUNCHER_TRUST_H_

#include <string>
#include <sys/stat.h>
#include <sys/types.h>

// At most this many symbolic links are followed on one path.
const int kMaxLinksFollowed = 40;

// The same file: device and inode.
bool isSameFile(const struct stat& a, const struct stat& b);
// A symbolic link's target, whole, whatever its length ("" for `path`: the
// link `dirFd` itself); empty on failure.
std::string readLink(int dirFd, const char* path);

// The user the rules are decided for: the process's own ids, unless a tool
// that explains a run for another user assumes one (-1 gives the process's
// own back). The launcher itself never assumes one.
void assumeUserId(long uid);
long assumedUserId();
uid_t effectiveUserId();

// 1 when root's rule applies: the effective user is root.
int isTrustEnforced();

// The package directory, opened once at start (-1: unknown). The caller
// chose the package, so nothing at or below it is checked.
void setPackageDirectory(int dirFd);
int packageDirectory();
// Opens `dir` as the package directory in place of an earlier one: for a
// tool that explains one package after another, or from inside a copy of
// the machine, where a handle opened outside would still reach the original.
void reopenPackageDirectory(const std::string& dir);

// The ownership rule for one file or directory, for a reader with user id
// `euid`: empty when it is trusted (owned by root or `euid`, writable by no
// one else, by its group only when that is root's), else what is wrong
// ("is owned by uid 65534", "is writable by others", "is writable by group
// 100"). A sticky directory may be writable by others when `stickyAllowed`.
std::string ownershipProblem(uid_t uid, gid_t gid, mode_t mode, uid_t euid,
                             bool stickyAllowed);
// What an extended access ACL, as the system.posix_acl_access attribute
// holds it (`size` bytes at `acl`), lets someone write beyond what the owner
// and mode say: empty when only root, `euid` and root's group may write
// through it, else "has an ACL that lets user 65534 write", "... group 100
// ..." or "has an ACL that cannot be read". A named entry's rights count
// only as far as the mask lets them.
std::string aclProblem(const char* acl, size_t size, uid_t euid);
// The same for the ACL of the file at `path` (links followed); empty when it
// has none.
std::string aclProblemAt(const char* path, uid_t euid);
// The whole rule for a file opened as `fd` (O_PATH is enough) with status
// `st`: ownershipProblem, then its ACL, read only when the mode's group
// bits (the mask, under an ACL) allow writing. Where /proc is not mounted, a
// regular file's ACL is read by opening `name` in `dirFd` again, when given.
std::string trustProblem(int fd, const struct stat& st, uid_t euid, bool stickyAllowed,
                         int dirFd = -1, const char* name = nullptr);
// Whose symbolic links are followed: root's and the effective user's.
bool isTrustedOwner(uid_t owner, uid_t euid);

// Opens `path` (a relative one from `dirFd`) with `flags` when root's rule
// lets it decide: the file and every directory and link on the way pass it.
// Without root's rule a plain open. -1 when refused or on failure; *why is
// then the refusal, "<name> is owned by uid 65534", or empty for a plain
// failure (errno tells).
int openTrusted(int dirFd, const std::string& path, int flags, std::string* why);

// What is wrong with an existing file as the diagnostic log: empty when it
// is a regular file of `euid` with one link, a terminal, a FIFO of `euid`
// or a character device of root or `euid`.
std::string logTargetProblem(mode_t mode, uid_t uid, nlink_t links, uid_t euid,
                             bool isTerminal);
// The descriptor that /dev/stdout, /dev/stderr, /dev/fd/N or
// /proc/self/fd/N names; -1 for any other path.
int callerDescriptor(const std::string& path);
// Opens the diagnostic log for writing, close-on-exec, never blocking: a
// descriptor the caller handed over is duplicated; otherwise every link on
// the way must be root's or the effective user's, and an existing file must
// pass logTargetProblem (only then is a regular file emptied). A new file
// gets mode 0600. -1 when refused (*why says why) or on failure (*why empty).
int openLogFile(const std::string& path, std::string* why);

#endif  // LAUNCHER_TRUST_H_
