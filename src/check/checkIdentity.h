// launcher-check: whom a run is explained for. The launcher's own functions
// take the user from the real user id and the home directory from HOME; the
// tool sets both in its own process for the identity it explains (and
// changes nothing else), and judges file permissions for that identity.
#ifndef LAUNCHER_CHECKIDENTITY_H_
#define LAUNCHER_CHECKIDENTITY_H_

#include <sys/types.h>

#include <string>
#include <vector>

struct CheckIdentity {
  std::string name;  // a user name, or the number when there is none
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;  // supplementary groups
  bool caller = true;  // the tool's own user and environment, unchanged
  bool hasHome = false;
  std::string home;    // HOME for the run (when hasHome)
  // How the ordinary user was chosen when nobody named one: "" (asked for,
  // or the caller), kFirstLoginAccount or kAssumedNewUser.
  const char* chosen = "";
  // The home is not on this machine: it is taken as an existing, empty
  // directory the user owns, as a new user's would be.
  bool assumedHome = false;
};

extern const char kFirstLoginAccount[];
extern const char kAssumedNewUser[];

// The tool's own user, with HOME as it is.
CheckIdentity callerIdentity();
// root, or a user by name or number; `home` replaces the password
// database's home directory when not empty. False, with *err, when there
// is no such user. For root, an empty `user` is the ordinary user: the first
// login account (see firstLoginAccount), else an assumed new user.
bool rootIdentity(const std::string& home, CheckIdentity* identity);
bool userIdentity(const std::string& user, const std::string& home,
                  CheckIdentity* identity, std::string* err);
// One password database entry, as the choice of the ordinary user sees it.
struct LoginCandidate {
  std::string name, home, shell;
  uid_t uid = 0;
};
// The first entry someone can log in as: a uid from `uidMin` to `uidMax`, a
// shell among `shells`, and a home that `homeExists`. -1 when none.
int firstLoginAccount(const std::vector<LoginCandidate>& entries, uid_t uidMin,
                      uid_t uidMax, const std::vector<std::string>& shells,
                      bool (*homeExists)(const std::string& home));
// "root (uid 0)", "user nobody (uid 65534)", "user alice (uid 1000, first
// login account)".
std::string identityText(const CheckIdentity& identity);

// Makes the launcher's functions in this process answer for `identity`:
// its user id and its HOME. Only this process's environment changes.
void actAs(const CheckIdentity& identity);

// Why `identity` cannot read `path`, or cannot search a directory above it;
// "" when it can. A file that is not a regular file is refused too.
std::string readProblem(const CheckIdentity& identity, const std::string& path);
// Whether `identity` has execute permission for the file `path`.
bool isExecutableBy(const CheckIdentity& identity, const std::string& path);
// Why `identity` cannot start the program `path`; "" when it can.
std::string runProblem(const CheckIdentity& identity, const std::string& path);
// Why `identity` cannot create or write `path`; "" when it can.
std::string writeProblem(const CheckIdentity& identity, const std::string& path);
// Why `identity` cannot write `path`, or create it with the directories
// above it that are missing; "" when it can.
std::string createProblem(const CheckIdentity& identity, const std::string& path);
// Why another user than root could change the file at `path` or put one
// there: the file or a directory above it is owned by another user, or may
// be written by others (or by a group other than root's; a sticky directory
// is allowed above an entry root owns). "" when only root can.
std::string untrustedByRoot(const std::string& path);

#endif  // LAUNCHER_CHECKIDENTITY_H_
