#include "checkIdentity.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "programFile.h"
#include "trust.h"
#include "utilities.h"
#include "utilitiesLinux.h"

const char kFirstLoginAccount[] = "first login account";
const char kAssumedNewUser[] = "assumed: no login account here";

namespace {

const char kLoginDefs[] = "/etc/login.defs";
const char kAssumedHome[] = "/home/new-user";
// useradd's own defaults, when login.defs does not say.
const uid_t kDefaultUidMin = 1000;
const uid_t kDefaultUidMax = 60000;

enum Want { WANT_READ = 4, WANT_WRITE = 2, WANT_SEARCH = 1 };

bool isInGroup(const CheckIdentity& identity, gid_t gid) {
  if (gid == identity.gid) return true;
  for (gid_t group : identity.groups) {
    if (group == gid) return true;
  }
  return false;
}

// The kernel's rule for one class of the mode: the owner's bits for the
// owner, the group's for a member, else the others'. Root may read, write
// and search anything.
bool mayAccess(const CheckIdentity& identity, const struct stat& st, int want) {
  if (identity.uid == 0) return true;
  unsigned bits = st.st_mode & 07U;
  if (st.st_uid == identity.uid) {
    bits = (st.st_mode >> 6) & 07U;
  } else if (isInGroup(identity, st.st_gid)) {
    bits = (st.st_mode >> 3) & 07U;
  }
  return (bits & static_cast<unsigned>(want)) == static_cast<unsigned>(want);
}

// The directories above an absolute path, from the root down.
std::vector<std::string> directoriesAbove(const std::string& path) {
  std::vector<std::string> dirs;
  if (!isFileAbsolute(path)) return dirs;
  dirs.emplace_back("/");
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (slash > 0 && path[slash - 1] != '/') dirs.push_back(path.substr(0, slash));
  }
  return dirs;
}

// A directory above `path` that `identity` cannot search; "" when none.
std::string searchProblem(const CheckIdentity& identity, const std::string& path) {
  if (identity.caller) return std::string();
  for (const std::string& dir : directoriesAbove(path)) {
    struct stat st;
    if (stat(dir.c_str(), &st) == 0 && !mayAccess(identity, st, WANT_SEARCH)) {
      return "the directory " + dir + " cannot be searched by " + identityText(identity);
    }
  }
  return std::string();
}

bool isScript(const std::string& path) {
  char head[2] = {0, 0};
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  bool script = read(fd, head, 2) == 2 && head[0] == '#' && head[1] == '!';
  close(fd);
  return script;
}

// A password database entry, copied at once: the next lookup overwrites it.
struct UserEntry {
  bool found = false;
  std::string name, dir;
  uid_t uid = 0;
  gid_t gid = 0;
};

UserEntry copied(const struct passwd* entry) {
  UserEntry user;
  if (!entry) return user;
  user.found = true;
  user.name = entry->pw_name ? entry->pw_name : "";
  user.dir = entry->pw_dir ? entry->pw_dir : "";
  user.uid = entry->pw_uid;
  user.gid = entry->pw_gid;
  return user;
}

// The tool is single-threaded, and each entry is copied at once.
// cppcheck-suppress getpwuidCalled
UserEntry userById(uid_t uid) { return copied(getpwuid(uid)); }
// cppcheck-suppress getpwnamCalled
UserEntry userByName(const std::string& name) { return copied(getpwnam(name.c_str())); }

// UID_MIN or UID_MAX from login.defs, else `fallback`.
uid_t loginDefsNumber(const std::string& defs, const char* key, uid_t fallback) {
  size_t at = 0;
  const size_t keyLength = strlen(key);
  while (at < defs.size()) {
    size_t end = defs.find('\n', at);
    if (end == std::string::npos) end = defs.size();
    std::string line = trim(defs.substr(at, end - at));
    at = end + 1;
    if (line.compare(0, keyLength, key) != 0 || line.size() == keyLength ||
        (line[keyLength] != ' ' && line[keyLength] != '\t')) {
      continue;
    }
    std::string value = trim(line.substr(keyLength));
    if (value.empty() || value.size() > 9 ||
        value.find_first_not_of("0123456789") != std::string::npos) {
      return fallback;
    }
    return static_cast<uid_t>(strtoul(value.c_str(), nullptr, 10));
  }
  return fallback;
}

std::string smallFile(const char* path) {
  std::string text;
  FILE* file = fopen(path, "re");
  if (!file) return text;
  char buffer[4096];
  size_t got;
  // login.defs is a few kilobytes; more is not a login.defs.
  while (text.size() < (1U << 20) && (got = fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, got);
  }
  fclose(file);
  return text;
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The tool is single-threaded; each entry is copied at once.
std::vector<LoginCandidate> passwordEntries() {
  std::vector<LoginCandidate> entries;
  setpwent();
  // cppcheck-suppress getpwentCalled
  while (const struct passwd* entry = getpwent()) {
    LoginCandidate candidate;
    candidate.name = entry->pw_name ? entry->pw_name : "";
    candidate.home = entry->pw_dir ? entry->pw_dir : "";
    candidate.shell = entry->pw_shell ? entry->pw_shell : "";
    candidate.uid = entry->pw_uid;
    entries.push_back(candidate);
  }
  endpwent();
  return entries;
}

std::vector<std::string> loginShells() {
  std::vector<std::string> shells;
  setusershell();
  while (const char* shell = getusershell()) shells.emplace_back(shell);
  endusershell();
  return shells;
}

void fillFromEntry(const UserEntry& user, const std::string& home,
                   CheckIdentity* identity) {
  if (user.found) {
    identity->name = user.name;
    identity->gid = user.gid;
    int count = 0;
    getgrouplist(user.name.c_str(), user.gid, nullptr, &count);
    if (count > 0) {
      identity->groups.resize(static_cast<size_t>(count));
      if (getgrouplist(user.name.c_str(), user.gid, identity->groups.data(), &count) < 0) {
        identity->groups.clear();
      }
    }
  }
  identity->hasHome = !home.empty() || !user.dir.empty();
  identity->home = !home.empty() ? home : user.dir;
}

// The ordinary user a package is checked for when none is named: someone
// who can log in, with a home of their own. A system account such as nobody
// has none, so every per-user layout would seem to fail for it.
bool ordinaryIdentity(const std::string& home, CheckIdentity* identity) {
  std::string defs = smallFile(kLoginDefs);
  uid_t uidMin = loginDefsNumber(defs, "UID_MIN", kDefaultUidMin);
  uid_t uidMax = loginDefsNumber(defs, "UID_MAX", kDefaultUidMax);
  std::vector<LoginCandidate> entries = passwordEntries();
  int first = firstLoginAccount(entries, uidMin, uidMax, loginShells(), isDirectory);
  *identity = CheckIdentity();
  if (first >= 0) {
    const LoginCandidate& account = entries[static_cast<size_t>(first)];
    UserEntry entry = userByName(account.name);
    identity->uid = account.uid;
    fillFromEntry(entry, home, identity);
    identity->chosen = kFirstLoginAccount;
  } else {
    // The uid useradd would give the next user.
    uid_t uid = uidMin;
    while (uid < uidMax && userById(uid).found) ++uid;
    identity->uid = uid;
    identity->gid = static_cast<gid_t>(uid);
    identity->name = std::to_string(uid);
    identity->hasHome = true;
    identity->home = home.empty() ? std::string(kAssumedHome) : home;
    identity->chosen = kAssumedNewUser;
  }
  identity->assumedHome = !isDirectory(identity->home);
  identity->caller = identity->uid == getuid();
  return true;
}

// Whether `path` lies in a home directory taken as the user's own though it
// is not on this machine.
bool isInAssumedHome(const CheckIdentity& identity, const std::string& path) {
  if (!identity.assumedHome || identity.home.size() < 2) return false;
  std::string home = identity.home;
  removeTrailSlash(&home);
  return path == home || path.compare(0, home.size() + 1, home + "/") == 0;
}

}  // namespace

int firstLoginAccount(const std::vector<LoginCandidate>& entries, uid_t uidMin,
                      uid_t uidMax, const std::vector<std::string>& shells,
                      bool (*homeExists)(const std::string& home)) {
  for (size_t i = 0; i < entries.size(); ++i) {
    const LoginCandidate& entry = entries[i];
    if (entry.uid < uidMin || entry.uid > uidMax) continue;
    // An empty shell field means /bin/sh.
    std::string shell = entry.shell.empty() ? "/bin/sh" : entry.shell;
    bool canLogIn = false;
    for (const std::string& known : shells) canLogIn = canLogIn || known == shell;
    if (!canLogIn || entry.home.size() < 2 || entry.home[0] != '/') continue;
    if (homeExists(entry.home)) return static_cast<int>(i);
  }
  return -1;
}

CheckIdentity callerIdentity() {
  CheckIdentity identity;
  identity.uid = getuid();
  identity.gid = getgid();
  UserEntry user = userById(identity.uid);
  identity.name = user.found ? user.name : std::to_string(identity.uid);
  int count = getgroups(0, nullptr);
  if (count > 0) {
    identity.groups.resize(static_cast<size_t>(count));
    count = getgroups(count, identity.groups.data());
    identity.groups.resize(count > 0 ? static_cast<size_t>(count) : 0);
  }
  const char* home = getenv("HOME");
  identity.hasHome = home != nullptr;
  if (home) identity.home = home;
  return identity;
}

bool rootIdentity(const std::string& home, CheckIdentity* identity) {
  if (getuid() == 0 && home.empty()) {
    *identity = callerIdentity();
    return true;
  }
  *identity = CheckIdentity();
  identity->caller = getuid() == 0;
  identity->name = "root";
  fillFromEntry(userById(0), home, identity);
  identity->uid = 0;
  return true;
}

bool userIdentity(const std::string& user, const std::string& home,
                  CheckIdentity* identity, std::string* err) {
  if (user.empty() && getuid() != 0) {
    *identity = callerIdentity();
    if (!home.empty()) identity->home = home, identity->hasHome = true;
    return true;
  }
  if (user.empty()) return ordinaryIdentity(home, identity);
  const std::string& name = user;
  UserEntry entry;
  uid_t uid = 0;
  bool numeric = name.find_first_not_of("0123456789") == std::string::npos;
  if (numeric) {
    if (name.size() > 9) {
      *err = "no such user: " + name;
      return false;
    }
    uid = static_cast<uid_t>(strtoul(name.c_str(), nullptr, 10));
    entry = userById(uid);
  } else {
    entry = userByName(name);
    if (!entry.found) {
      *err = "no such user: " + name;
      return false;
    }
    uid = entry.uid;
  }
  if (uid == 0) {
    *err = "--as-user needs an ordinary user, not root: use --as-root";
    return false;
  }
  *identity = CheckIdentity();
  identity->uid = uid;
  identity->gid = static_cast<gid_t>(uid);
  identity->name = std::to_string(uid);
  fillFromEntry(entry, home, identity);
  identity->caller = uid == getuid();
  return true;
}

std::string identityText(const CheckIdentity& identity) {
  std::string text = identity.uid == 0                  ? std::string("root")
                     : identity.chosen == kAssumedNewUser ? std::string("a new user")
                                                          : "user " + identity.name;
  text += " (uid " + std::to_string(identity.uid);
  if (*identity.chosen) text += std::string(", ") + identity.chosen;
  return text + ")";
}

void actAs(const CheckIdentity& identity) {
  assumeUserId(static_cast<long>(identity.uid));
  if (identity.hasHome) {
    setenv("HOME", identity.home.c_str(), 1);
  } else {
    unsetenv("HOME");
  }
}

std::string readProblem(const CheckIdentity& identity, const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return strerror(errno);
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (identity.caller) {
    return access(path.c_str(), R_OK) == 0 ? std::string() : strerror(errno);
  }
  std::string why = searchProblem(identity, path);
  if (!why.empty()) return why;
  if (!mayAccess(identity, st, WANT_READ)) {
    return formatText("mode %04o, owner uid %lu: %s cannot read it",
                      static_cast<unsigned>(st.st_mode & 07777U),
                      static_cast<unsigned long>(st.st_uid),
                      identityText(identity).c_str());
  }
  return std::string();
}

bool isExecutableBy(const CheckIdentity& identity, const std::string& path) {
  if (identity.caller) return access(path.c_str(), X_OK) == 0;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  // Root, too, needs one execute bit on a file.
  if (identity.uid == 0) return (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
  return mayAccess(identity, st, WANT_SEARCH);
}

std::string runProblem(const CheckIdentity& identity, const std::string& path) {
  std::string why = whyProgramCannotStart(path, 0, identity.uid, identity.gid);
  if (why.empty()) why = searchProblem(identity, path);
  if (why.empty() && identity.uid != 0 && isScript(path)) {
    struct stat st;
    bool readable = identity.caller ? access(path.c_str(), R_OK) == 0
                                    : stat(path.c_str(), &st) == 0 &&
                                          mayAccess(identity, st, WANT_READ);
    if (!readable) {
      why = "a script that " + identityText(identity) +
            " cannot read, so its interpreter cannot either";
    }
  }
  return why;
}

std::string writeProblem(const CheckIdentity& identity, const std::string& path) {
  // Root may write anywhere a tool that is not root cannot even look.
  if (identity.uid == 0 && !identity.caller) return std::string();
  if (isInAssumedHome(identity, path)) return std::string();
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && st.st_uid != 0 &&
      st.st_uid != identity.uid) {
    return "a symbolic link owned by another user, which the launcher does not follow";
  }
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return "a directory";
    if (identity.caller) {
      return access(path.c_str(), W_OK) == 0 ? std::string() : strerror(errno);
    }
    std::string why = searchProblem(identity, path);
    if (!why.empty()) return why;
    return mayAccess(identity, st, WANT_WRITE) ? std::string()
                                               : identityText(identity) + " may not write it";
  }
  if (errno != ENOENT) return strerror(errno);
  std::string dir = dirName(path);
  if (dir.empty()) dir = ".";
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return "there is no directory " + dir;
  }
  if (identity.caller) {
    return access(dir.c_str(), W_OK | X_OK) == 0
               ? std::string()
               : "cannot create a file in " + dir + ": " + strerror(errno);
  }
  std::string why = searchProblem(identity, dir + "/");
  if (!why.empty()) return why;
  return mayAccess(identity, st, WANT_WRITE | WANT_SEARCH)
             ? std::string()
             : identityText(identity) + " may not create a file in " + dir;
}

std::string createProblem(const CheckIdentity& identity, const std::string& path) {
  if (isInAssumedHome(identity, path)) return std::string();
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return writeProblem(identity, path);
  // The directories that are missing are made from the deepest one there.
  std::string missing = path;
  std::string dir = dirName(path);
  while (!dir.empty() && dir != "/" && stat(dir.c_str(), &st) != 0) {
    removeTrailSlash(&dir);
    missing = dir;
    dir = dirName(dir);
  }
  std::string why = writeProblem(identity, missing);
  if (why.empty() || missing == path) return why;
  return "it cannot make " + missing + ": " + why;
}

namespace {

// Root's rule for the file at `path` with status `st`, its ACL included.
std::string rootsProblem(const std::string& path, const struct stat& st, bool stickyAllowed) {
  std::string why = ownershipProblem(st.st_uid, st.st_gid, st.st_mode, 0, stickyAllowed);
  if (!why.empty() || (stickyAllowed && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX))) return why;
  return aclProblemAt(path.c_str(), 0);
}

}  // namespace

std::string untrustedByRoot(const std::string& path) {
  std::vector<std::string> entries = directoriesAbove(path);
  entries.push_back(path);
  for (size_t i = 0; i < entries.size(); ++i) {
    struct stat st;
    if (stat(entries[i].c_str(), &st) != 0) {
      // Whoever may write the directory may create the entry first, sticky
      // or not: the launcher would then refuse it, or follow it.
      struct stat above;
      if (i == 0 || stat(entries[i - 1].c_str(), &above) != 0) return std::string();
      std::string why = rootsProblem(entries[i - 1], above, false);
      if (why.empty()) return std::string();
      return entries[i - 1] + " " + why + ", so another user could create " + entries[i];
    }
    // The launcher's own rule, as root applies it to every name on the way.
    bool isLast = i + 1 == entries.size();
    std::string why = rootsProblem(entries[i], st, !isLast);
    if (!why.empty()) return entries[i] + " " + why;
  }
  return std::string();
}
