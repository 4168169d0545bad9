#include "trust.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

int packageDirFd = -1;
long assumedUid = -1;
struct stat packageDirId;

bool isPackageDirectory(const struct stat& st) {
  return packageDirFd >= 0 && isSameFile(st, packageDirId);
}

std::string shownJoin(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (name.empty()) return dir;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// One path being resolved: the directory reached so far, as a handle, and
// the names still to look up in it. A link puts its target in front of the
// rest. Start-up cost matters: names are taken from the one pending string.
struct Walk {
  bool checkAll = false;  // root's rule for each directory; else links only
  uid_t euid = 0;
  int dirFd = -1;
  int exemptDepth = -1;   // levels below the package directory; -1 outside
  int linksLeft = kMaxLinksFollowed;
  std::string pending;    // the names still to look up, from `next` on
  size_t next = 0;
  // Messages name the directory as shownBase joined with pending up to
  // dirEnd; only a link's target changes shownBase.
  std::string shownBase;
  size_t dirEnd = 0;

  Walk() = default;
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;
  ~Walk() {
    if (dirFd >= 0) close(dirFd);
  }
};

std::string dirShown(const Walk& walk) {
  return shownJoin(walk.shownBase, walk.pending.substr(0, walk.dirEnd));
}

std::string shownName(const Walk& walk, const std::string& name) {
  return shownJoin(dirShown(walk), name);
}

// The next name; *last when nothing follows it. A path that ends with '/'
// ends with ".", the directory itself.
void takeName(Walk* walk, std::string* name, bool* last) {
  const std::string& path = walk->pending;
  size_t start = path.find_first_not_of('/', walk->next);
  if (start == std::string::npos) {
    walk->next = path.size();
    name->assign(".");
    *last = true;
    return;
  }
  size_t end = path.find('/', start);
  if (end == std::string::npos) end = path.size();
  name->assign(path, start, end - start);
  walk->next = end;
  *last = end == path.size();
}

// Makes `fd` (taken over, closed on failure) the directory the walk stands
// in, after checking it where root's rule applies. `known` is its status
// when the caller has it already, which spares a system call.
bool enter(Walk* walk, int fd, const std::string& name, std::string* why,
           const struct stat* known = nullptr) {
  struct stat own;
  if (!known && fstat(fd, &own) != 0) {
    close(fd);
    return false;
  }
  const struct stat& st = known ? *known : own;
  if (walk->checkAll) {
    if (isPackageDirectory(st)) {
      walk->exemptDepth = 0;
    } else if (walk->exemptDepth >= 0 && name == "..") {
      --walk->exemptDepth;
    } else if (walk->exemptDepth >= 0 && name != ".") {
      ++walk->exemptDepth;
    }
    if (walk->exemptDepth < 0) {
      std::string problem = trustProblem(fd, st, walk->euid, true);
      if (!problem.empty()) {
        *why = (name == "/" ? name : shownName(*walk, name)) + " " + problem;
        close(fd);
        return false;
      }
    }
  }
  if (walk->dirFd >= 0) close(walk->dirFd);
  walk->dirFd = fd;
  walk->dirEnd = walk->next;
  return true;
}

// Starts again at "/", where walk->pending begins.
bool enterRoot(Walk* walk, std::string* why) {
  int fd = openat(AT_FDCWD, "/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  walk->exemptDepth = -1;
  walk->shownBase.clear();
  walk->next = 1;
  return enter(walk, fd, "/", why);
}

bool startAt(Walk* walk, int dirFd, const std::string& path, std::string* why) {
  walk->pending = path;
  walk->next = 0;
  if (path[0] == '/') return enterRoot(walk, why);
  int fd = openat(dirFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  walk->exemptDepth = -1;
  return enter(walk, fd, ".", why);
}

// Follows the link `name` in the current directory, whose handle and
// status the caller took, when its owner may decide where it leads.
bool followLink(Walk* walk, int linkFd, const struct stat& st,
                const std::string& name, std::string* why) {
  if (walk->exemptDepth < 0 && !isTrustedOwner(st.st_uid, walk->euid)) {
    *why = shownName(*walk, name) + " is a link owned by uid " + std::to_string(st.st_uid);
    return false;
  }
  // A loop is a failure like any other, not a refusal.
  if (--walk->linksLeft < 0) {
    errno = ELOOP;
    return false;
  }
  std::string target = readLink(linkFd, "");
  if (target.empty()) return false;
  walk->shownBase = dirShown(*walk);
  walk->pending = target + walk->pending.substr(walk->next);
  walk->next = 0;
  walk->dirEnd = 0;
  return target[0] != '/' || enterRoot(walk, why);
}

// Walks every name but the last; *name is then the last one, to be looked
// up in walk->dirFd.
bool walkToLast(Walk* walk, std::string* name, std::string* why) {
  for (;;) {
    bool last;
    takeName(walk, name, &last);
    if (last) return true;
    int fd = openat(walk->dirFd, name->c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0) {
      close(fd);
      return false;
    }
    if (S_ISLNK(st.st_mode)) {
      bool followed = followLink(walk, fd, st, *name, why);
      close(fd);
      if (!followed) return false;
      continue;
    }
    if (!S_ISDIR(st.st_mode)) {
      close(fd);
      errno = ENOTDIR;
      return false;
    }
    if (!enter(walk, fd, *name, why, &st)) return false;
  }
}

// The handle of the last name, with links followed; -1 when refused or
// missing. *st is its status.
int openLast(Walk* walk, std::string* name, struct stat* st, std::string* why) {
  for (;;) {
    if (!walkToLast(walk, name, why)) return -1;
    int fd = openat(walk->dirFd, name->c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    if (fstat(fd, st) != 0) {
      close(fd);
      return -1;
    }
    if (!S_ISLNK(st->st_mode)) return fd;
    bool followed = followLink(walk, fd, *st, *name, why);
    close(fd);
    if (!followed) return -1;
  }
}

bool isDigits(const std::string& text, size_t from) {
  // Nine digits at most: always an int.
  if (from >= text.size() || text.size() - from > 9) return false;
  for (size_t i = from; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

}  // namespace

bool isSameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string readLink(int dirFd, const char* path) {
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t length = readlinkat(dirFd, path, buffer.data(), buffer.size());
    if (length < 0) return std::string();
    if (static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

void assumeUserId(long uid) { assumedUid = uid < 0 ? -1 : uid; }

long assumedUserId() { return assumedUid; }

uid_t effectiveUserId() {
  return assumedUid >= 0 ? static_cast<uid_t>(assumedUid) : geteuid();
}

int isTrustEnforced() { return effectiveUserId() == 0 ? 1 : 0; }

void setPackageDirectory(int dirFd) {
  if (dirFd >= 0 && fstat(dirFd, &packageDirId) != 0) dirFd = -1;
  packageDirFd = dirFd;
}

int packageDirectory() { return packageDirFd; }

void reopenPackageDirectory(const std::string& dir) {
  if (packageDirFd >= 0) close(packageDirFd);
  packageDirFd = -1;
  if (!dir.empty()) setPackageDirectory(openat(AT_FDCWD, dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

bool isTrustedOwner(uid_t owner, uid_t euid) { return owner == 0 || owner == euid; }

std::string ownershipProblem(uid_t uid, gid_t gid, mode_t mode, uid_t euid,
                             bool stickyAllowed) {
  if (!isTrustedOwner(uid, euid)) return "is owned by uid " + std::to_string(uid);
  // Others may add to a sticky directory, but not rename or remove what
  // root put there; the names taken from it are checked one by one.
  if (stickyAllowed && S_ISDIR(mode) && (mode & S_ISVTX)) return std::string();
  if (mode & S_IWOTH) return "is writable by others";
  if ((mode & S_IWGRP) && gid != 0) return "is writable by group " + std::to_string(gid);
  return std::string();
}

std::string aclProblem(const char* acl, size_t size, uid_t euid) {
  const char* const unreadable = "has an ACL that cannot be read";
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(acl);
  // Little-endian whatever the machine: a 4-byte version, then entries of
  // a 2-byte tag, 2-byte permissions and a 4-byte id.
  auto u16 = [bytes](size_t at) { return static_cast<unsigned>(bytes[at] | bytes[at + 1] << 8); };
  auto u32 = [bytes, u16](size_t at) {
    return static_cast<unsigned long>(u16(at)) | static_cast<unsigned long>(u16(at + 2)) << 16;
  };
  const size_t kHeader = 4, kEntry = 8;
  if (size < kHeader || (size - kHeader) % kEntry != 0 || u32(0) != 2) return unreadable;
  enum { kUserObj = 1, kUser = 2, kGroupObj = 4, kGroup = 8, kMask = 0x10, kOther = 0x20 };
  const unsigned kWrite = 2;
  // Without a mask, nothing limits the named entries.
  unsigned mask = 7;
  for (size_t at = kHeader; at < size; at += kEntry) {
    unsigned tag = u16(at);
    if (tag != kUserObj && tag != kUser && tag != kGroupObj && tag != kGroup &&
        tag != kMask && tag != kOther) {
      return unreadable;
    }
    if (tag == kMask) mask = u16(at + 2);
  }
  // The owner, the owning group and others are the mode's bits, which the
  // caller judged already (the group bits being the mask).
  for (size_t at = kHeader; at < size; at += kEntry) {
    unsigned tag = u16(at);
    if (!(u16(at + 2) & mask & kWrite)) continue;
    unsigned long id = u32(at + 4);
    if (tag == kUser && !isTrustedOwner(static_cast<uid_t>(id), euid)) {
      return "has an ACL that lets user " + std::to_string(id) + " write";
    }
    if (tag == kGroup && id != 0) {
      return "has an ACL that lets group " + std::to_string(id) + " write";
    }
  }
  return std::string();
}

namespace {

// The ACL of the file `fd` (when >= 0) or at `path`, judged; *failed is
// the errno when it could not be read.
std::string readAclProblem(int fd, const char* path, uid_t euid, int* failed) {
  const char* kName = "system.posix_acl_access";
  *failed = 0;
  std::string acl(132, '\0');  // 16 entries, as much as setfacl usually writes
  for (;;) {
    ssize_t length = fd >= 0 ? fgetxattr(fd, kName, acl.data(), acl.size())
                             : getxattr(path, kName, acl.data(), acl.size());
    if (length >= 0) return aclProblem(acl.data(), static_cast<size_t>(length), euid);
    // No ACL, or a file system without them: the mode says it all.
    if (errno == ENODATA || errno == ENOTSUP) return std::string();
    if (errno != ERANGE) {
      *failed = errno;
      return "cannot be examined for an ACL: " + std::string(strerror(errno));
    }
    length = fd >= 0 ? fgetxattr(fd, kName, nullptr, 0) : getxattr(path, kName, nullptr, 0);
    if (length < 0) continue;  // gone meanwhile: the next read says why
    acl.resize(static_cast<size_t>(length) + 1);
  }
}

// The ACL of `fd` read through a descriptor opened again from `dirFd`
// (`name` in it, or the directory itself); `fallback` when that fails or
// leads elsewhere.
std::string reopenedAclProblem(int dirFd, const char* name, const struct stat& st,
                               uid_t euid, const std::string& fallback) {
  int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  // A mode always: with variable flags the checked open would be another import.
  int fd = openat(dirFd, name, flags | (S_ISDIR(st.st_mode) ? O_DIRECTORY : 0), 0);
  struct stat again;
  if (fd < 0) return fallback;
  std::string problem = fallback;
  int failed;
  if (fstat(fd, &again) == 0 && isSameFile(st, again)) problem = readAclProblem(fd, nullptr, euid, &failed);
  close(fd);
  return problem;
}

}  // namespace

std::string aclProblemAt(const char* path, uid_t euid) {
  int failed;
  return readAclProblem(-1, path, euid, &failed);
}

std::string trustProblem(int fd, const struct stat& st, uid_t euid, bool stickyAllowed,
                         int dirFd, const char* name) {
  // The common case first, in one test: a trusted owner, writable by no
  // group or others (nor, then, by anyone an ACL names: see below).
  if (isTrustedOwner(st.st_uid, euid) && !(st.st_mode & (S_IWGRP | S_IWOTH))) return std::string();
  std::string problem = ownershipProblem(st.st_uid, st.st_gid, st.st_mode, euid, stickyAllowed);
  if (!problem.empty() || S_ISLNK(st.st_mode)) return problem;
  if (stickyAllowed && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) return problem;
  // With an ACL, the mode's group bits are its mask, which caps every named
  // user and group entry, and an ACL with a named entry always has a mask
  // (acl(5)). Group bits without write thus leave no one an ACL could let
  // write: the attribute need not be read, which most objects spare.
  if (!(st.st_mode & S_IWGRP)) return problem;
  // An O_PATH descriptor has no attributes of its own to read. A directory
  // opens again from itself; a file is reached through its name in /proc,
  // which leads to the very file the descriptor holds.
  if (S_ISDIR(st.st_mode)) return reopenedAclProblem(fd, ".", st, euid, "cannot be examined for an ACL");
  int failed;
  problem = readAclProblem(-1, ("/proc/self/fd/" + std::to_string(fd)).c_str(), euid, &failed);
  // Without /proc, a regular file is opened for reading instead (and must
  // be the same file): opening anything else might have effects.
  if (failed == ENOENT && S_ISREG(st.st_mode) && name) {
    return reopenedAclProblem(dirFd, name, st, euid, problem);
  }
  return problem;
}

int openTrusted(int dirFd, const std::string& path, int flags, std::string* why) {
  why->clear();
  // A mode always: with variable flags the checked open would be another import.
  if (!isTrustEnforced()) return openat(dirFd, path.c_str(), flags | O_CLOEXEC, 0);
  if (path.empty()) {
    errno = ENOENT;
    return -1;
  }
  Walk walk;
  walk.checkAll = true;
  walk.euid = effectiveUserId();
  if (!startAt(&walk, dirFd, path, why)) return -1;
  std::string name;
  struct stat st;
  int fd = openLast(&walk, &name, &st, why);
  if (fd < 0) return -1;
  bool exempt = isPackageDirectory(st) ||
                walk.exemptDepth > 0 || (walk.exemptDepth == 0 && name != "..");
  std::string problem =
      exempt ? std::string()
             : trustProblem(fd, st, walk.euid, false, walk.dirFd, name.c_str());
  if (!problem.empty()) {
    *why = shownName(walk, name) + " " + problem;
    close(fd);
    return -1;
  }
  if ((flags & O_DIRECTORY) && !S_ISDIR(st.st_mode)) {
    close(fd);
    errno = ENOTDIR;
    return -1;
  }
  if (flags & O_PATH) return fd;
  // Opened again by the same name in the same directory: it must still be
  // the file that was checked.
  int opened = openat(walk.dirFd, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0);
  struct stat again;
  if (opened >= 0 && (fstat(opened, &again) != 0 || !isSameFile(st, again))) {
    close(opened);
    opened = -1;
    errno = ESTALE;
  }
  int saved = errno;
  close(fd);
  errno = saved;
  return opened;
}

std::string logTargetProblem(mode_t mode, uid_t uid, nlink_t links, uid_t euid,
                             bool isTerminal) {
  bool trusted;
  if (isTerminal) {
    trusted = true;
  } else if (S_ISREG(mode)) {
    // Another name for the file would let the log overwrite that file.
    if (uid == euid && links != 1) return "has " + std::to_string(links) + " links";
    trusted = uid == euid;
  } else if (S_ISFIFO(mode)) {
    trusted = uid == euid;
  } else if (S_ISCHR(mode)) {
    trusted = isTrustedOwner(uid, euid);  // /dev/null, /dev/full: nobody else makes one
  } else {
    return "is not a regular file, terminal or FIFO";
  }
  return trusted ? std::string() : "is owned by uid " + std::to_string(uid);
}

int callerDescriptor(const std::string& path) {
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    size_t length = strlen(prefix);
    if (path.compare(0, length, prefix) == 0 && isDigits(path, length)) {
      int fd = 0;
      for (size_t i = length; i < path.size(); ++i) fd = fd * 10 + (path[i] - '0');
      return fd;
    }
  }
  return -1;
}

int openLogFile(const std::string& path, std::string* why) {
  why->clear();
  int caller = callerDescriptor(path);
  if (caller >= 0) return fcntl(caller, F_DUPFD_CLOEXEC, 3);
  if (path.empty()) {
    errno = ENOENT;
    return -1;
  }
  Walk walk;
  walk.euid = effectiveUserId();
  if (!startAt(&walk, AT_FDCWD, path, why)) return -1;
  const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  for (;;) {
    std::string name;
    if (!walkToLast(&walk, &name, why)) return -1;
    // Never truncated by the open: only a file that passes is emptied.
    int fd = openat(walk.dirFd, name.c_str(), flags, 0600);
    struct stat st;
    if (fd < 0) {
      int saved = errno;
      int linkFd = openat(walk.dirFd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
      if (linkFd < 0 || fstat(linkFd, &st) != 0) {
        if (linkFd >= 0) close(linkFd);
        errno = saved;
        return -1;
      }
      if (S_ISLNK(st.st_mode)) {
        bool followed = followLink(&walk, linkFd, st, name, why);
        close(linkFd);
        if (!followed) return -1;
        continue;
      }
      close(linkFd);
      if (S_ISFIFO(st.st_mode) && saved == ENXIO) {
        *why = shownName(walk, name) + " is a FIFO without a reader";
      } else if (saved == EACCES || saved == EPERM) {
        // Refused by the system, perhaps for the reason the rule has too.
        std::string problem =
            logTargetProblem(st.st_mode, st.st_uid, st.st_nlink, walk.euid, false);
        if (!problem.empty()) *why = shownName(walk, name) + " " + problem;
      }
      errno = saved;
      return -1;
    }
    std::string problem;
    if (fstat(fd, &st) != 0) {
      problem = "cannot be examined";
    } else {
      problem = logTargetProblem(st.st_mode, st.st_uid, st.st_nlink, walk.euid,
                                 isatty(fd) == 1);
    }
    if (!problem.empty()) {
      *why = shownName(walk, name) + " " + problem;
      close(fd);
      return -1;
    }
    if (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }
}
