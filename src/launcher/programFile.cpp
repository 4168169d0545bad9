#include "programFile.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

#include "utilities.h"
namespace {

// As much of a file as the kernel reads to choose how to run it, the #!
// line included.
const size_t kHeadSize = 256;
// The kernel gives up on interpreters of interpreters after a few levels.
const int kMaxInterpreterDepth = 5;

const char kNoSuchFile[] = "no such file";
const char kNestedTooDeeply[] = "#! interpreters nested too deeply";

bool isInGroup(gid_t fileGid, uid_t uid, gid_t gid) {
  if (fileGid == gid) return true;
  // Only the running identity's supplementary groups are known.
  if (uid != geteuid()) return false;
  int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  count = getgroups(count, groups.data());
  for (int i = 0; i < count; ++i) {
    if (groups[static_cast<size_t>(i)] == fileGid) return true;
  }
  return false;
}

// The kernel's rule: root needs any execute bit; everyone else the bit of
// the one class they fall in, even where another class has it.
bool mayExecute(const struct stat& st, uid_t uid, gid_t gid) {
  if (uid == 0) return (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
  if (st.st_uid == uid) return (st.st_mode & S_IXUSR) != 0;
  if (isInGroup(st.st_gid, uid, gid)) return (st.st_mode & S_IXGRP) != 0;
  return (st.st_mode & S_IXOTH) != 0;
}

// The first bytes of a regular file; false when it cannot be read (a
// program may be executable without being readable).
bool readHead(const std::string& path, char* head, size_t* length) {
  *length = 0;
  // O_NONBLOCK: a FIFO swapped in since the check must not hang the caller.
  int fd = openat(AT_FDCWD, path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  while (ok && *length < kHeadSize) {
    ssize_t got = read(fd, head + *length, kHeadSize - *length);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    *length += static_cast<size_t>(got);
  }
  close(fd);
  return ok;
}

// The interpreter's name as the log can show it: a carriage return or any
// other control byte made visible.
std::string quoted(const std::string& text) {
  std::string result = "\"";
  for (unsigned char c : text) {
    if (c == '\r') {
      result += "\\r";
    } else if (c < 0x20 || c == 0x7f) {
      result += formatText("\\x%02x", c);
    } else {
      if (c == '"' || c == '\\') result += '\\';
      result += static_cast<char>(c);
    }
  }
  return result + "\"";
}

// Whether this system runs ELF files for `machine`; true where the system
// is not one of those known here.
bool isRunnableMachine(unsigned machine) {
  struct System {
    const char* name;
    unsigned machines[2];
  };
  static const System kSystems[] = {
      {"x86_64", {EM_X86_64, EM_386}}, {"i686", {EM_386, EM_386}},
      {"i586", {EM_386, EM_386}},      {"i386", {EM_386, EM_386}},
      {"aarch64", {EM_AARCH64, EM_ARM}},
  };
  struct utsname name;
  if (uname(&name) != 0) return true;
  for (const System& system : kSystems) {
    if (strcmp(name.machine, system.name) == 0) {
      return machine == system.machines[0] || machine == system.machines[1];
    }
  }
  return true;
}

unsigned elfMachine(const char* head) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(head);
  const size_t at = offsetof(Elf32_Ehdr, e_machine);
  if (bytes[EI_DATA] == ELFDATA2MSB) return bytes[at] << 8 | bytes[at + 1];
  return bytes[at + 1] << 8 | bytes[at];
}

// The interpreter a #! line names, read as the kernel reads it: blanks
// before the name, which ends at a blank or the line's end. A carriage
// return is neither. Empty, with *reason set, when the line is unusable.
std::string interpreterOf(const char* head, size_t length, std::string* reason) {
  size_t i = 2;
  while (i < length && (head[i] == ' ' || head[i] == '\t')) ++i;
  size_t start = i;
  while (i < length && head[i] != ' ' && head[i] != '\t' && head[i] != '\n' &&
         head[i] != '\0') {
    ++i;
  }
  if (i == length && length == kHeadSize) {
    *reason = "the #! line is too long";
    return std::string();
  }
  if (i == start) *reason = "the #! line names no interpreter";
  return std::string(head + start, i - start);
}

// The reason `path` itself cannot be started; empty when there is none,
// with *interpreter set when it is a script whose interpreter decides.
std::string fileReason(const std::string& path, int execErrno, uid_t uid,
                       gid_t gid, std::string* interpreter) {
  if (path.empty()) return "no program path";
  struct stat st;
  if (fstatat(AT_FDCWD, path.c_str(), &st, 0) != 0) {
    if (errno == ENOENT) return kNoSuchFile;
    if (errno == ENOTDIR) return "a part of the path is not a directory";
    if (errno == EACCES) return "a directory on the path cannot be searched";
    return strerror(errno);
  }
  if (S_ISDIR(st.st_mode)) return "a directory";
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (!mayExecute(st, uid, gid)) return "no execute permission";
  struct statvfs fs;
  if (statvfs(path.c_str(), &fs) == 0 && (fs.f_flag & ST_NOEXEC)) {
    return "on a file system mounted noexec";
  }
  char head[kHeadSize];
  size_t length;
  if (!readHead(path, head, &length)) return std::string();
  if (length >= 2 && head[0] == '#' && head[1] == '!') {
    std::string reason;
    *interpreter = interpreterOf(head, length, &reason);
    return reason;
  }
  if (length < SELFMAG || memcmp(head, ELFMAG, SELFMAG) != 0) {
    return "no known executable format";
  }
  if (length >= sizeof(Elf32_Ehdr) && !isRunnableMachine(elfMachine(head))) {
    return "an ELF file for another machine (type " +
           std::to_string(elfMachine(head)) + ")";
  }
  // The file is there and runnable, so what the kernel did not find is the
  // loader the file names.
  if (execErrno == ENOENT) return "the dynamic loader it names is missing";
  return std::string();
}

// How a reason about the interpreter `name` reads in the script's terms.
std::string asInterpreter(const std::string& name, const std::string& reason) {
  std::string text = reason == kNoSuchFile
                         ? "interpreter " + quoted(name) + " not found"
                         : "interpreter " + quoted(name) + ": " + reason;
  if (name.back() == '\r') {
    text = "the #! line ends with a carriage return (CRLF line ends): " + text;
  }
  return text;
}

// Follows the chain of #! interpreters as the kernel does.
std::string chainReason(const std::string& path, int execErrno, uid_t uid,
                        gid_t gid) {
  std::string file = path;
  std::string interpreters;  // those passed so far, as the reason's start
  for (int depth = 0;; ++depth) {
    std::string interpreter;
    std::string reason = fileReason(file, execErrno, uid, gid, &interpreter);
    if (!reason.empty()) {
      return depth == 0 ? reason : interpreters + asInterpreter(file, reason);
    }
    if (interpreter.empty()) return reason;
    if (depth + 1 >= kMaxInterpreterDepth) return kNestedTooDeeply;
    if (depth > 0) interpreters += asInterpreter(file, std::string());
    file = interpreter;
  }
}

}  // namespace

std::string whyProgramCannotStart(const std::string& path, int execErrno,
                                  uid_t uid, gid_t gid) {
  // Other errors (too long an argument list, no memory, a busy text file)
  // are no matter of the file's name, permissions or contents.
  const bool fileMatters = execErrno == 0 || execErrno == ENOENT ||
                           execErrno == EACCES || execErrno == ENOEXEC ||
                           execErrno == ENOTDIR || execErrno == ELOOP;
  std::string reason;
  if (fileMatters) reason = chainReason(path, execErrno, uid, gid);
  if (reason.empty() && execErrno != 0) reason = strerror(execErrno);
  return reason;
}

std::string whyProgramCannotStart(const std::string& path, int execErrno) {
  return whyProgramCannotStart(path, execErrno, geteuid(), getegid());
}
