#include "sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <linux/capability.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "syscallFilter.h"
#include "utilities.h"

namespace {

const long kPollNanoseconds = 20L * 1000 * 1000;

// What a root inside the copy keeps: what an installer needs to own, write
// and run files and to change user. Anything more could reach the real
// machine: loading modules, making device nodes, mounting, tracing the
// namespace's first process, opening files by handle on a file system the
// copy shares with the real one.
const int kKeptCapabilities[] = {
    CAP_CHOWN,  CAP_DAC_OVERRIDE, CAP_FOWNER,  CAP_FSETID,           CAP_KILL,
    CAP_SETGID, CAP_SETUID,       CAP_SETPCAP, CAP_NET_BIND_SERVICE, CAP_SYS_CHROOT,
    CAP_AUDIT_WRITE, CAP_SETFCAP};

bool isKeptCapability(int capability) {
  for (int kept : kKeptCapabilities) {
    if (kept == capability) return true;
  }
  return false;
}

// --- Frames on the control socket -------------------------------------------

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t done = write(fd, data, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

bool readAll(int fd, char* data, size_t size) {
  while (size > 0) {
    ssize_t done = read(fd, data, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

// A peer that has gone is an answer, not a reason to die of SIGPIPE.
bool sendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t done = send(fd, data, size, MSG_NOSIGNAL);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

bool sendFrame(int fd, const std::string& frame) {
  uint64_t size = frame.size();
  return sendAll(fd, reinterpret_cast<const char*>(&size), sizeof size) &&
         sendAll(fd, frame.data(), frame.size());
}

bool receiveFrame(int fd, std::string* frame) {
  uint64_t size;
  if (!readAll(fd, reinterpret_cast<char*>(&size), sizeof size)) return false;
  // Both ends are this program; a frame is never near this size.
  if (size > (1ULL << 32)) return false;
  frame->assign(size, '\0');
  return size == 0 || readAll(fd, frame->data(), size);
}

std::string failure(const char* what, const std::string& path) {
  return formatText("%s %s: %s", what, path.c_str(), strerror(errno));
}

bool writeFile(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool done = writeAll(fd, text.data(), text.size());
  return close(fd) == 0 && done;
}

std::string readSmallFile(const std::string& path) {
  char buffer[64] = {0};
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  ssize_t got = read(fd, buffer, sizeof buffer - 1);
  close(fd);
  return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : std::string();
}

// Why the kernel refused a user namespace, in the words of its switches.
std::string userNamespaceRefusal() {
  if (readSmallFile("/proc/sys/kernel/unprivileged_userns_clone") == "0\n" ||
      readSmallFile("/proc/sys/user/max_user_namespaces") == "0\n" ||
      readSmallFile("/proc/sys/kernel/apparmor_restrict_unprivileged_userns") == "1\n" ||
      errno == EPERM) {
    return "unprivileged user namespaces are off: run as root";
  }
  return std::string("no user namespace (") + strerror(errno) + "): run as root";
}

// --- Building the copy (in the namespace's first process) -------------------

bool makeDir(const std::string& path, mode_t mode) {
  return mkdir(path.c_str(), mode) == 0 || errno == EEXIST;
}

bool makeDirs(const std::string& path, mode_t mode) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (!makeDir(path.substr(0, slash), mode)) return false;
  }
  return makeDir(path, mode);
}

// Read-only, all the way down where the kernel can do that, keeping the
// flags a user namespace may not clear.
bool makeReadOnly(const std::string& path, bool recursive) {
  if (recursive) {
    struct mount_attr attr;
    memset(&attr, 0, sizeof attr);
    attr.attr_set = MOUNT_ATTR_RDONLY;
    // Only the top mount read-only would leave those below it writable.
    return mount_setattr(AT_FDCWD, path.c_str(), AT_RECURSIVE, &attr, sizeof attr) == 0;
  }
  struct statvfs fs;
  if (statvfs(path.c_str(), &fs) != 0) return false;
  unsigned long flags = MS_BIND | MS_REMOUNT | MS_RDONLY;
  if (fs.f_flag & ST_NOSUID) flags |= MS_NOSUID;
  if (fs.f_flag & ST_NODEV) flags |= MS_NODEV;
  if (fs.f_flag & ST_NOEXEC) flags |= MS_NOEXEC;
  return mount(nullptr, path.c_str(), nullptr, flags, nullptr) == 0;
}

bool bindReadOnly(const std::string& from, const std::string& to, bool recursive) {
  return mount(from.c_str(), to.c_str(), nullptr, MS_BIND | (recursive ? MS_REC : 0),
               nullptr) == 0 &&
         makeReadOnly(to, recursive);
}

// The directory at which the file system holding `path` is mounted.
std::string mountPointOf(const std::string& path) {
  struct stat here;
  if (stat(path.c_str(), &here) != 0) return "/";
  std::string dir = path;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  while (dir.size() > 1) {
    std::string parent = dir.substr(0, dir.rfind('/'));
    if (parent.empty()) parent = "/";
    struct stat up;
    if (stat(parent.c_str(), &up) != 0 || up.st_dev != here.st_dev) return dir;
    dir = parent;
  }
  return "/";
}

// A /dev with the harmless devices only: no disk is reachable inside.
bool buildDev(const std::string& root, const std::string& size, std::string* why) {
  std::string dev = root + "/dev";
  if (mount("tmpfs", dev.c_str(), "tmpfs", MS_NOSUID | MS_NOEXEC,
            ("mode=0755" + size).c_str()) != 0) {
    *why = failure("cannot mount a private", "/dev");
    return false;
  }
  // No tty: a program in the copy could type into the caller's terminal.
  for (const char* name : {"null", "zero", "full", "random", "urandom"}) {
    std::string node = dev + "/" + name;
    int fd = open(node.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) close(fd);
    std::string real = std::string("/dev/") + name;
    if (mount(real.c_str(), node.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      *why = failure("cannot bind", real);
      return false;
    }
  }
  const std::pair<const char*, const char*> links[] = {
      {"/proc/self/fd", "fd"},          {"/proc/self/fd/0", "stdin"},
      {"/proc/self/fd/1", "stdout"},    {"/proc/self/fd/2", "stderr"},
      {"pts/ptmx", "ptmx"}};
  for (const auto& link : links) {
    if (symlink(link.first, (dev + "/" + link.second).c_str()) != 0) {
      *why = failure("cannot link", "/dev/" + std::string(link.second));
      return false;
    }
  }
  makeDir(dev + "/pts", 0755);
  makeDir(dev + "/shm", 01777);
  // Terminals are a convenience: an installer without one still runs.
  mount("devpts", (dev + "/pts").c_str(), "devpts", MS_NOSUID | MS_NOEXEC,
        "newinstance,ptmxmode=0666,mode=0620");
  if (mount("tmpfs", (dev + "/shm").c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
            ("mode=1777" + size).c_str()) != 0) {
    *why = failure("cannot mount", "/dev/shm");
    return false;
  }
  return true;
}

// What the copy is made of, for collecting what changed in it.
struct CopyLayout {
  std::vector<std::string> overlaid;  // top-level directories with a layer
  std::vector<std::string> original;  // every top-level name of the machine
  std::string keptInHome;  // the package, shown in the scratch home
  std::vector<std::string> readOnly;  // shown as they are, unwritable
  // The scratch file systems: where each is mounted here, and the path it
  // is shown at inside.
  std::vector<std::pair<std::string, std::string>> bounded;
  std::string lower;  // the tree the copy is made of; empty: this machine
};

// Each scratch file system holds at most this much: one installer must not
// fill the machine's memory.
std::string sizeOption(const SandboxOptions& options) {
  return formatText(",size=%llu", options.scratchBytes);
}

// What reaches the real machine's kernel whatever the namespaces: shown
// read-only, or masked (a directory by an empty read-only file system, a
// file by the null device), as container runtimes do by default. A path
// this kernel lacks needs nothing.
const char* const kReadOnlyKernelPaths[] = {"/proc/bus", "/proc/fs", "/proc/irq", "/proc/sys",
                                            "/proc/sysrq-trigger"};
const char* const kMaskedKernelPaths[] = {"/proc/acpi",      "/proc/kcore",      "/proc/keys",
                                          "/proc/sched_debug", "/proc/scsi",
                                          "/proc/timer_list", "/sys/firmware"};

bool shieldKernelPaths(const std::string& root, std::string* why) {
  struct stat st;
  for (const char* path : kReadOnlyKernelPaths) {
    std::string inside = root + path;
    if (lstat(inside.c_str(), &st) != 0) continue;
    if (!bindReadOnly(inside, inside, false)) {
      *why = failure("cannot make read-only", path);
      return false;
    }
  }
  for (const char* path : kMaskedKernelPaths) {
    std::string inside = root + path;
    if (lstat(inside.c_str(), &st) != 0) continue;
    bool masked = S_ISDIR(st.st_mode)
                      ? mount("tmpfs", inside.c_str(), "tmpfs",
                              MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC, "mode=0555") == 0
                      : bindReadOnly("/dev/null", inside, false);
    if (!masked) {
      *why = failure("cannot mask", path);
      return false;
    }
  }
  return true;
}

// The mode that gives the caller what it may do in a directory of the real
// machine, on a directory the caller owns: in a user namespace the real
// owner often cannot be mapped, and owning the copy must not open it.
mode_t modeForCaller(const struct stat& st) {
  mode_t mode = st.st_mode & 07777;
  if (st.st_uid == getuid()) return mode;
  mode_t granted = st.st_gid == getgid() ? (mode & 070) >> 3 : mode & 07;
  return (mode & ~static_cast<mode_t>(0700)) | (granted << 6);
}

// `path` takes the owner and mode of the real directory `st` describes, or
// in a user namespace the caller's share of it.
bool takeOwnerAndMode(const std::string& path, const struct stat& st, bool userNamespace) {
  if (!userNamespace) {
    return chown(path.c_str(), st.st_uid, st.st_gid) == 0 &&
           chmod(path.c_str(), st.st_mode & 07777) == 0;
  }
  return chmod(path.c_str(), modeForCaller(st)) == 0;
}

bool isSpecialTop(const std::string& name) {
  return name == "proc" || name == "sys" || name == "dev" || name == "run";
}

// One top-level entry of the machine in the copy: a directory as an overlay
// with its own upper layer, a link as a link, anything else read-only.
// A directory the kernel will not overlay (one with mounts below it that a
// user namespace may not take apart, or an unusual file system) is shown
// read-only as a whole.
bool copyTopEntry(const std::string& scratch, const std::string& name, bool userNamespace,
                  CopyLayout* layout, std::string* why) {
  std::string real = layout->lower + "/" + name, inside = scratch + "/root/" + name;
  struct stat st;
  if (lstat(real.c_str(), &st) != 0) return true;
  layout->original.push_back(name);
  if (S_ISLNK(st.st_mode)) {
    std::vector<char> target(static_cast<size_t>(st.st_size) + 2, '\0');
    ssize_t got = readlink(real.c_str(), target.data(), target.size() - 1);
    if (got < 0 || symlink(std::string(target.data(), static_cast<size_t>(got)).c_str(),
                           inside.c_str()) != 0) {
      *why = failure("cannot copy the link", real);
      return false;
    }
    return true;
  }
  if (!S_ISDIR(st.st_mode)) {
    int fd = open(inside.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) close(fd);
    if (fd < 0 || !bindReadOnly(real, inside, false)) {
      *why = failure("cannot show", real);
      return false;
    }
    return true;
  }
  if (!makeDir(inside, 0755) || !takeOwnerAndMode(inside, st, userNamespace)) {
    *why = failure("cannot create", inside);
    return false;
  }
  if (isSpecialTop(name)) return true;
  // The overlay's top directory is the upper layer's: it must allow what
  // the real one allows, /tmp's sticky bit and /root's privacy included.
  std::string upper = scratch + "/upper/" + name, work = scratch + "/work/" + name;
  if (!makeDir(upper, 0755) || !makeDir(work, 0700) ||
      !takeOwnerAndMode(upper, st, userNamespace)) {
    *why = failure("cannot create", upper);
    return false;
  }
  std::string layers = "lowerdir=" + real + ",upperdir=" + upper + ",workdir=" + work;
  if (userNamespace) layers += ",userxattr";
  if (mount("overlay", inside.c_str(), "overlay", 0, layers.c_str()) == 0) {
    layout->overlaid.push_back(name);
    return true;
  }
  std::string overlayFailure = failure("cannot mount an overlay (overlayfs) over", real);
  if (errno == ENODEV) {
    *why = overlayFailure + " (no overlayfs in this kernel)";
    return false;
  }
  if (!bindReadOnly(real, inside, true)) {
    *why = overlayFailure;
    if (userNamespace) *why += " (as an ordinary user this needs Linux 5.11 or later: run as root)";
    return false;
  }
  layout->readOnly.push_back(real);
  return true;
}

// Creates `path` under `root` a directory at a time: a link in another
// system's tree may point anywhere, and an absolute one would lead the
// set-up out of the copy onto this machine.
bool makeDirsWithoutLinks(const std::string& root, const std::string& path) {
  std::string at = root;
  size_t start = 1;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start) {
      at += "/" + path.substr(start, slash - start);
      struct stat st;
      if (lstat(at.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
          errno = ENOTDIR;
          return false;
        }
      } else if (!makeDir(at, 0755)) {
        return false;
      }
    }
    start = slash + 1;
  }
  return true;
}

// A directory of this machine shown read-only at its own path in the copy.
bool showAtOwnPath(const std::string& root, const std::string& dir, CopyLayout* layout,
                   std::string* why) {
  if (!makeDirsWithoutLinks(root, dir) || !bindReadOnly(dir, root + dir, true)) {
    *why = failure("cannot show in the copy", dir);
    return false;
  }
  layout->readOnly.push_back(dir);
  return true;
}

bool buildCopy(const SandboxOptions& options, const Sandbox& box, CopyLayout* layout,
               std::string* why) {
  // Nothing mounted from here on may reach the rest of the machine.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    *why = failure("cannot make the mounts private under", "/");
    return false;
  }
  const std::string& scratch = box.scratch;
  std::string size = sizeOption(options);
  if (mount("tmpfs", scratch.c_str(), "tmpfs", 0, ("mode=0700" + size).c_str()) != 0) {
    *why = failure("cannot mount a scratch file system on", scratch);
    return false;
  }
  std::string root = scratch + "/root";
  layout->lower = box.lower;
  const std::string lowerTop = box.lower.empty() ? "/" : box.lower;
  struct stat realRoot;
  if (stat(lowerTop.c_str(), &realRoot) != 0 || !makeDir(scratch + "/upper", 0755) ||
      !makeDir(scratch + "/work", 0700) || !makeDir(root, 0755) ||
      mount("tmpfs", root.c_str(), "tmpfs", 0, ("mode=0755" + size).c_str()) != 0 ||
      !takeOwnerAndMode(root, realRoot, box.userNamespace)) {
    *why = failure("cannot create the root of the copy in", scratch);
    return false;
  }
  DIR* top = opendir(lowerTop.c_str());
  if (!top) {
    *why = failure("cannot read", lowerTop);
    return false;
  }
  std::vector<std::string> names;
  // One thread: readdir's shared buffer is safe here.
  // cppcheck-suppress readdirCalled
  while (const struct dirent* entry = readdir(top)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(top);
  for (const std::string& name : names) {
    if (!copyTopEntry(scratch, name, box.userNamespace, layout, why)) return false;
  }
  for (const char* name : {"proc", "sys", "dev", "run"}) makeDir(root + "/" + name, 0755);
  // The package may lie on a file system of its own, which the overlay of
  // the root does not show: it is shown as it is, but read-only.
  // On another system's tree the package is shown by itself, further down.
  std::string packageMount =
      box.keep.empty() || !box.lower.empty() ? "/" : mountPointOf(box.keep);
  if (packageMount != "/") {
    if (!bindReadOnly(packageMount, root + packageMount, true)) {
      *why = failure("cannot show the package's file system", packageMount);
      return false;
    }
    layout->readOnly.push_back(packageMount);
  }
  std::string proc = root + "/proc";
  if (mount("proc", proc.c_str(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
    *why = failure("cannot mount", "/proc");
    return false;
  }
  if (!bindReadOnly("/sys", root + "/sys", true)) {
    *why = failure("cannot show read-only", "/sys");
    return false;
  }
  if (!shieldKernelPaths(root, why) || !buildDev(root, size, why)) return false;
  // /run holds the sockets of the machine's services: none is reachable.
  if (mount("tmpfs", (root + "/run").c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
            ("mode=0755" + size).c_str()) != 0) {
    *why = failure("cannot mount a private", "/run");
    return false;
  }
  const SandboxIdentity& user = options.user;
  std::string home = root + box.home;
  std::string homeOptions = formatText("mode=0700,uid=%u,gid=%u",
                                       static_cast<unsigned>(user.uid),
                                       static_cast<unsigned>(user.gid)) + size;
  if (!makeDirsWithoutLinks(root, box.home) ||
      mount("tmpfs", home.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, homeOptions.c_str()) != 0) {
    *why = failure("cannot make a scratch home directory at", user.home);
    return false;
  }
  // A package in the home directory stays reachable in the empty one.
  const std::string& package = box.keep;
  if (package.compare(0, box.home.size() + 1, box.home + "/") == 0) {
    if (!makeDirs(root + package, 0755) || !bindReadOnly(package, root + package, true)) {
      *why = failure("cannot show the package in the scratch home directory:", package);
      return false;
    }
    layout->keptInHome = package;
    layout->readOnly.push_back(package);
  } else if (!package.empty() && !box.lower.empty() && !showAtOwnPath(root, package, layout, why)) {
    return false;
  }
  for (const std::string& dir : box.shown) {
    if (!showAtOwnPath(root, dir, layout, why)) return false;
  }
  layout->bounded = {{scratch, "/"},          {root, "/"},
                     {home, box.home},        {root + "/run", "/run"},
                     {root + "/dev", "/dev"}, {root + "/dev/shm", "/dev/shm"}};
  return true;
}

// --- Running a step ----------------------------------------------------------

bool enterCopy(const std::string& root, std::string* why) {
  if (unshare(CLONE_NEWNS) != 0) {
    *why = failure("cannot unshare the mounts of", root);
    return false;
  }
  // The old root is detached, not hidden: nothing inside can reach it.
  if (chdir(root.c_str()) != 0 || syscall(SYS_pivot_root, ".", ".") != 0 ||
      umount2(".", MNT_DETACH) != 0 || chdir("/") != 0) {
    *why = failure("cannot make the copy the root:", root);
    return false;
  }
  // Every capability the kernel knows, not a list of those known today.
  for (int capability = 0; prctl(PR_CAPBSET_READ, capability, 0, 0, 0) >= 0; ++capability) {
    if (!isKeptCapability(capability)) prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
  }
  return true;
}

bool becomeUser(const SandboxIdentity& user, bool userNamespace, std::string* why) {
  // A user namespace may not change the groups; they stay the caller's.
  if (!userNamespace && setgroups(user.groups.size(), user.groups.data()) != 0) {
    *why = failure("cannot set the groups of", user.name);
    return false;
  }
  if (setgid(user.gid) != 0 || setuid(user.uid) != 0 || getuid() != user.uid) {
    *why = failure("cannot become", user.name.empty() ? std::to_string(user.uid) : user.name);
    return false;
  }
  setenv("HOME", user.home.c_str(), 1);
  setenv("USER", user.name.c_str(), 1);
  setenv("LOGNAME", user.name.c_str(), 1);
  return true;
}

[[noreturn]] void runStepChild(const SandboxOptions& options, const Sandbox& box,
                               void* context, SandboxStep step, bool asUser,
                               const std::string& input, int out, int control,
                               int filterChannel) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  // A session of its own, without the caller's terminal: nothing inside can
  // type into it (TIOCSTI) or be stopped by its job control.
  setsid();
  close(control);
  std::string why;
  // The filter comes while the step may still load it without
  // no_new_privs, and after the copy's own mounts, which it would refuse.
  bool entered = enterCopy(box.scratch + "/root", &why) &&
                 installSyscallFilter(filterChannel, &why) == 0;
  close(filterChannel);
  if (!entered || (asUser && !becomeUser(options.user, box.userNamespace, &why))) {
    dprintf(out, "sandbox: %s\n", why.c_str());
    _exit(125);
  }
  if (options.workDir.empty() || chdir(options.workDir.c_str()) != 0) {
    if (chdir(asUser ? options.user.home.c_str() : "/") != 0 && chdir("/") != 0) _exit(125);
  }
  int null = open("/dev/null", O_RDONLY);
  if (null >= 0 && null != 0) {
    dup2(null, 0);
    close(null);
  }
  // A descriptor the caller left open would be a way out of the copy for
  // every program the step starts.
  if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
    for (int fd = 3; fd < 1024; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  int status = step(context, input, out);
  fflush(nullptr);
  _exit(status);
}

double now() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// What the first process watches while steps run: the refused calls of
// every step so far (processes a step left behind are still held by its
// filter), and the scratch file systems that ran full.
struct CopyWatch {
  int channel = -1;  // where the running step sends its filter's listener
  std::vector<int> listeners;
  std::vector<std::string> refused, full;
};

const unsigned long long kFullBelowBytes = 64ULL * 1024;

void watchCopy(const CopyLayout& layout, CopyWatch* watch) {
  if (watch->channel >= 0) {
    int listener = receiveSyscallListener(watch->channel);
    if (listener >= 0) {
      watch->listeners.push_back(listener);
      close(watch->channel);
      watch->channel = -1;
    }
  }
  for (size_t i = 0; i < watch->listeners.size();) {
    if (answerRefusedCalls(watch->listeners[i], &watch->refused)) {
      ++i;
      continue;
    }
    close(watch->listeners[i]);
    watch->listeners.erase(watch->listeners.begin() + static_cast<long>(i));
  }
  // A write that failed for want of room leaves its file system full, or
  // nearly: an installer may remove what it wrote, but not at once.
  for (const auto& bounded : layout.bounded) {
    struct statvfs fs;
    if (statvfs(bounded.first.c_str(), &fs) != 0) continue;
    bool full = static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize < kFullBelowBytes ||
                (fs.f_files > 0 && fs.f_favail == 0);
    bool known = false;
    for (const std::string& path : watch->full) known = known || path == bounded.second;
    if (full && !known) watch->full.push_back(bounded.second);
  }
}

// Runs one step, collecting its output until it ends or its time is up.
// The caller never speaks during a step: anything on `control` then means
// it is gone, and the step is ended at once.
void runStep(const SandboxOptions& options, const Sandbox& box, const CopyLayout& layout,
             CopyWatch* watch, void* context, int control, SandboxStep step, bool asUser,
             const std::string& input, int seconds, std::string* output, int* status) {
  int pipeFds[2], filterFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    *output = failure("cannot make a pipe for", "a step");
    *status = 125;
    return;
  }
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, filterFds) != 0) {
    *output = failure("cannot make a socket for", "a step");
    *status = 125;
    close(pipeFds[0]);
    close(pipeFds[1]);
    return;
  }
  if (watch->channel >= 0) close(watch->channel);
  watch->channel = -1;
  pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    close(filterFds[0]);
    // Only the first process answers for the filters.
    for (int listener : watch->listeners) close(listener);
    runStepChild(options, box, context, step, asUser, input, pipeFds[1], control,
                 filterFds[1]);
  }
  close(pipeFds[1]);
  close(filterFds[1]);
  watch->channel = filterFds[0];
  if (child < 0) {
    close(pipeFds[0]);
    *output = failure("cannot start", "a step");
    *status = 125;
    return;
  }
  double deadline = now() + seconds;
  bool open = true, ended = false;
  int wstatus = 0;
  char buffer[4096];
  while (!ended) {
    watchCopy(layout, watch);
    struct pollfd caller = {control, POLLIN, 0};
    bool callerGone = poll(&caller, 1, 0) > 0;
    if (waitpid(child, &wstatus, WNOHANG) == child) {
      ended = true;
    } else if (now() >= deadline || callerGone) {
      kill(child, SIGKILL);
      waitpid(child, &wstatus, 0);
      ended = true;
    }
    // Whatever the step wrote is read before it counts as ended; a program
    // it left behind may hold the pipe open, so nothing waits for its end.
    struct pollfd ready = {pipeFds[0], POLLIN, 0};
    while (open && poll(&ready, 1, ended ? 0 : 20) > 0) {
      ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
      if (got <= 0) {
        open = false;
        break;
      }
      output->append(buffer, static_cast<size_t>(got));
      if (!ended) break;
    }
    if (!open && !ended) {
      struct timespec pause = {0, kPollNanoseconds};
      nanosleep(&pause, nullptr);
    }
  }
  close(pipeFds[0]);
  watchCopy(layout, watch);
  *status = WIFSIGNALED(wstatus) ? 128 + WTERMSIG(wstatus) : WEXITSTATUS(wstatus);
}

// --- Collecting changes -------------------------------------------------------

char typeOf(mode_t mode) {
  return S_ISDIR(mode) ? 'd' : S_ISREG(mode) ? 'f' : S_ISLNK(mode) ? 'l' : 'o';
}

bool isOpaque(const std::string& path, bool userNamespace) {
  char value[4];
  const char* name = userNamespace ? "user.overlay.opaque" : "trusted.overlay.opaque";
  ssize_t got = lgetxattr(path.c_str(), name, value, sizeof value);
  return got == 1 && value[0] == 'y';
}

void addChange(std::vector<SandboxChange>* changes, char change, const struct stat& st,
               const std::string& path) {
  SandboxChange entry;
  entry.change = change;
  entry.type = typeOf(st.st_mode);
  entry.path = path;
  entry.size = S_ISDIR(st.st_mode) ? 0 : static_cast<long long>(st.st_size);
  entry.modified = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  changes->push_back(entry);
}

// Walks a layer directory; `real` is the path its content stands for.
// `everythingNew` for a directory the real machine does not have at all.
// `skip`, when given, is the sandbox's own: left out, and so are the
// directories above it.
void walkLayer(const std::string& top, const std::string& topReal, bool topNew,
               bool userNamespace, std::vector<SandboxChange>* changes,
               const std::string& skip = std::string(),
               const std::string& lowerRoot = std::string()) {
  struct Pending {
    std::string dir, real;
    bool everythingNew;
  };
  std::vector<Pending> pending = {{top, topReal == "/" ? "" : topReal, topNew}};
  while (!pending.empty()) {
    Pending here = pending.back();
    pending.pop_back();
    // A leftover process may swap a link in for a directory: never follow it.
    int dirFd = open(here.dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* directory = dirFd < 0 ? nullptr : fdopendir(dirFd);
    if (!directory) {
      if (dirFd >= 0) close(dirFd);
      continue;
    }
    std::vector<std::string> names;
    // One process walks: readdir's shared buffer is safe here.
    // cppcheck-suppress readdirCalled
    while (const struct dirent* entry = readdir(directory)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(directory);
    for (const std::string& name : names) {
      std::string path = here.dir;
      path.append("/").append(name);
      std::string realPath = here.real;
      realPath.append("/").append(name);
      struct stat st, lower;
      if (lstat(path.c_str(), &st) != 0 || realPath == skip) continue;
      bool above = !skip.empty() && skip.compare(0, realPath.size() + 1, realPath + "/") == 0;
      bool inLower = !here.everythingNew && lstat((lowerRoot + realPath).c_str(), &lower) == 0;
      if (S_ISCHR(st.st_mode) && st.st_rdev == 0) {
        if (inLower) addChange(changes, '-', lower, realPath);
        continue;
      }
      if (S_ISDIR(st.st_mode)) {
        bool replaced = inLower && isOpaque(path, userNamespace);
        if (!above && (!inLower || replaced || !S_ISDIR(lower.st_mode))) {
          addChange(changes, inLower ? '~' : '+', st, realPath);
        }
        pending.push_back({path, realPath, !inLower || replaced});
        continue;
      }
      addChange(changes, inLower ? '~' : '+', st, realPath);
    }
  }
}

std::string encodeChanges(const std::vector<SandboxChange>& changes) {
  std::string out;
  for (const SandboxChange& c : changes) {
    out += formatText("%c%c%lld/%lld", c.change, c.type, c.size, c.modified);
    out += '\0';
    out += c.path;
    out += '\0';
  }
  return out;
}

void decodeChanges(const std::string& text, std::vector<SandboxChange>* changes) {
  size_t at = 0;
  while (at < text.size()) {
    size_t head = text.find('\0', at);
    if (head == std::string::npos || head - at < 3) return;
    size_t tail = text.find('\0', head + 1);
    if (tail == std::string::npos) return;
    SandboxChange c;
    c.change = text[at];
    c.type = text[at + 1];
    std::string numbers = text.substr(at + 2, head - at - 2);
    char* end = nullptr;
    c.size = strtoll(numbers.c_str(), &end, 10);
    if (*end == '/') c.modified = strtoll(end + 1, nullptr, 10);
    c.path = text.substr(head + 1, tail - head - 1);
    changes->push_back(c);
    at = tail + 1;
  }
}

// --- The namespace's first process ------------------------------------------

struct StepRequest {
  SandboxStep step;
  int asUser;
  int seconds;
};

void collectChanges(const Sandbox& box,
                    const CopyLayout& layout, std::vector<SandboxChange>* changes) {
  for (const std::string& name : layout.overlaid) {
    walkLayer(box.scratch + "/upper/" + name, "/" + name, false, box.userNamespace, changes,
              std::string(), layout.lower);
  }
  // New top-level entries lie in the copy's own root; the home directory's
  // mount point is the sandbox's, and what lies in it comes next.
  const std::string& home = box.home;
  std::string homeTop = home.substr(1, home.find('/', 1) - 1);
  std::string root = box.scratch + "/root";
  DIR* top = opendir(root.c_str());
  std::vector<std::string> added;
  // cppcheck-suppress readdirCalled
  while (const struct dirent* entry = top ? readdir(top) : nullptr) {
    std::string name = entry->d_name;
    // The virtual file systems are the copy's own, also where the system
    // tree has no directory for them.
    if (name == "." || name == ".." || name == homeTop || isSpecialTop(name)) continue;
    bool known = false;
    for (const std::string& original : layout.original) known = known || original == name;
    if (!known) added.push_back(name);
  }
  if (top) closedir(top);
  for (const std::string& name : added) {
    std::string path = root;
    path.append("/").append(name);
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    addChange(changes, '+', st, "/" + name);
    if (S_ISDIR(st.st_mode)) walkLayer(path, "/" + name, true, box.userNamespace, changes);
  }
  walkLayer(root + home, home, true, box.userNamespace, changes, layout.keptInHome);
  // The copy's own /run and /dev start as the sandbox made them: whatever
  // lies there beyond that is the steps' (a runtime unit in /run would take
  // effect on a real machine).
  walkLayer(root + "/run", "/run", true, box.userNamespace, changes);
  walkLayer(root + "/dev", "/dev", true, box.userNamespace, changes, "/dev/pts");
}

std::string encodeEvents(CopyWatch* watch) {
  std::string out;
  for (const std::string& name : watch->refused) out += "r" + name + '\0';
  for (const std::string& path : watch->full) out += "f" + path + '\0';
  watch->refused.clear();
  watch->full.clear();
  return out;
}

[[noreturn]] void serve(const SandboxOptions& options, const Sandbox& box,
                        const CopyLayout& layout, void* context, int control) {
  std::string frame;
  CopyWatch watch;
  while (receiveFrame(control, &frame) && !frame.empty()) {
    char command = frame[0];
    if (command == 'R' && frame.size() >= 1 + sizeof(StepRequest)) {
      StepRequest request;
      memcpy(&request, frame.data() + 1, sizeof request);
      std::string input = frame.substr(1 + sizeof request), output;
      int status = 0;
      runStep(options, box, layout, &watch, context, control, request.step,
              request.asUser != 0, input, request.seconds, &output, &status);
      std::string reply(reinterpret_cast<const char*>(&status), sizeof status);
      if (!sendFrame(control, reply + output)) break;
    } else if (command == 'C') {
      std::vector<SandboxChange> changes;
      collectChanges(box, layout, &changes);
      if (!sendFrame(control, encodeChanges(changes))) break;
    } else if (command == 'S') {
      watchCopy(layout, &watch);
      if (!sendFrame(control, encodeEvents(&watch))) break;
    } else {
      break;
    }
  }
  // The first process of a PID namespace ends everything in it, whatever
  // ignored or escaped its parent.
  kill(-1, SIGKILL);
  while (waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
  }
  sendFrame(control, "ended");
  _exit(0);
}

bool enterUserNamespace(std::string* why) {
  uid_t uid = getuid();
  gid_t gid = getgid();
  if (unshare(CLONE_NEWUSER) != 0) {
    *why = userNamespaceRefusal();
    return false;
  }
  // An ordinary user may map only its own ids: inside, it stays who it is.
  if (!writeFile("/proc/self/setgroups", "deny") ||
      !writeFile("/proc/self/uid_map", formatText("%u %u 1\n", uid, uid)) ||
      !writeFile("/proc/self/gid_map", formatText("%u %u 1\n", gid, gid))) {
    *why = failure("cannot map the user's ids into", "a user namespace");
    return false;
  }
  return true;
}

const int kStopSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

// A network namespace of its own starts with loopback down: programs that
// talk to themselves over 127.0.0.1 need it up.
bool bringUpLoopback(std::string* why) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  struct ifreq request;
  memset(&request, 0, sizeof request);
  memcpy(request.ifr_name, "lo", 3);
  bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  if (!up) *why = failure("cannot bring up", "loopback in the copy's network");
  if (fd >= 0) close(fd);
  return up;
}

// The keeper: owns the namespaces, and removes the scratch directory once
// their first process has ended. It outlives a caller that is stopped or
// killed: the first process sees the control socket close and ends
// everything, and the keeper then cleans up.
[[noreturn]] void keep(const SandboxOptions& options, const Sandbox& box, void* context,
                       int control) {
  for (int stop : kStopSignals) signal(stop, SIG_IGN);
  std::string why;
  if (box.userNamespace && !enterUserNamespace(&why)) {
    sendFrame(control, "F" + why);
    _exit(1);
  }
  int network = options.shareNetwork ? 0 : CLONE_NEWNET;
  if (unshare(CLONE_NEWPID | CLONE_NEWIPC | CLONE_NEWUTS | network) != 0) {
    sendFrame(control, "F" + failure("cannot make private namespaces", "(PID, IPC, UTS, network)") +
                           (errno == EPERM ? ": run as root" : ""));
    _exit(1);
  }
  if (network && !bringUpLoopback(&why)) {
    sendFrame(control, "F" + why);
    _exit(1);
  }
  pid_t first = fork();
  if (first < 0) {
    sendFrame(control, "F" + failure("cannot start", "the sandbox"));
    _exit(1);
  }
  if (first == 0) {
    // Its parent lies outside its PID namespace: getppid() says 0 here.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // Its root and working directory are the real machine's, and its /proc
    // entries show them inside: nothing there may open them. Its children,
    // the steps, inherit this until they start a program.
    prctl(PR_SET_DUMPABLE, 0);
    for (int stop : kStopSignals) signal(stop, SIG_DFL);
    // Its own mount namespace: the keeper's stays as the machine's, so that
    // it can remove the scratch directory.
    if (unshare(CLONE_NEWNS) != 0) {
      sendFrame(control, "F" + failure("cannot make a private mount namespace", "") +
                             (errno == EPERM ? ": run as root" : ""));
      _exit(1);
    }
    CopyLayout layout;
    if (!buildCopy(options, box, &layout, &why)) {
      sendFrame(control, "F" + why);
      _exit(1);
    }
    std::string ready = "OK";
    for (const std::string& path : layout.readOnly) ready += path + '\0';
    sendFrame(control, ready);
    serve(options, box, layout, context, control);
  }
  close(control);
  int status = 0;
  while (waitpid(first, &status, 0) < 0 && errno == EINTR) {
  }
  rmdir(box.scratch.c_str());
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

// `path` without links or dots where it exists, then the rest as written:
// inside the copy the sandbox works on paths of the real machine through its
// own root, where a link to an absolute target would lead out of the copy.
// Empty when the part that does not exist holds "." or "..".
std::string canonicalPath(const std::string& path) {
  std::string existing = path, rest;
  char* real = nullptr;
  while (!(real = realpath(existing.c_str(), nullptr))) {
    size_t slash = existing.rfind('/');
    if (slash == std::string::npos || existing == "/") return std::string();
    std::string last = existing.substr(slash + 1);
    if (last == "." || last == "..") return std::string();
    if (!last.empty()) rest.insert(0, "/" + last);
    existing = slash == 0 ? "/" : existing.substr(0, slash);
  }
  std::string result = real;
  free(real);
  return result == "/" && !rest.empty() ? rest : result + rest;
}

// The tree another system's copy is made of: a directory other than this
// machine's root, that an overlay's options can name.
bool lowerRootUsable(const std::string& given, std::string* lower, std::string* why) {
  *lower = canonicalPath(given);
  struct stat st;
  if (lower->empty() || stat(lower->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *why = given + " is no directory";
    return false;
  }
  if (*lower == "/") {
    *why = given + " is this machine's root";
    return false;
  }
  if (lower->find_first_of(",:") != std::string::npos) {
    *why = given + " holds ',' or ':', which an overlay cannot name";
    return false;
  }
  return true;
}

}  // namespace

int sandboxSetUp(const SandboxOptions& options, void* context, Sandbox* box,
                 std::string* why) {
  box->home = canonicalPath(options.user.home);
  box->keep = options.keepDir.empty() ? std::string() : canonicalPath(options.keepDir);
  if (box->home.size() < 2) {
    *why = "the home directory " + options.user.home + " is not a plain absolute path";
    return -1;
  }
  if (!options.lowerRoot.empty() && !lowerRootUsable(options.lowerRoot, &box->lower, why)) {
    return -1;
  }
  for (const std::string& dir : options.alsoShow) {
    box->shown.push_back(canonicalPath(dir));
    if (box->shown.back().size() < 2) {
      *why = dir + " is not a plain absolute path";
      return -1;
    }
  }
  const char* tmp = getenv("TMPDIR");
  std::string base = tmp && tmp[0] == '/' ? tmp : "/tmp";
  // The overlay's options list its layers separated by ',' and ':'.
  if (base.find_first_of(",:") != std::string::npos) {
    *why = "TMPDIR " + base + " holds ',' or ':', which an overlay cannot name";
    return -1;
  }
  std::string pattern = base + "/launcher-trial.XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!mkdtemp(name.data())) {
    *why = failure("cannot create a scratch directory in", base);
    return -1;
  }
  box->scratch = name.data();
  box->userNamespace = geteuid() != 0;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    *why = failure("cannot make a socket for", "the sandbox");
    rmdir(box->scratch.c_str());
    box->scratch.clear();
    return -1;
  }
  fflush(nullptr);
  pid_t keeper = fork();
  if (keeper == 0) {
    close(pair[0]);
    keep(options, *box, context, pair[1]);
  }
  close(pair[1]);
  box->control = pair[0];
  box->keeper = keeper;
  std::string answer;
  if (keeper < 0 || !receiveFrame(box->control, &answer) || answer.compare(0, 2, "OK") != 0) {
    *why = keeper < 0 ? failure("cannot start", "the sandbox")
           : answer.size() > 1 && answer[0] == 'F'
               ? answer.substr(1)
               : std::string("the sandbox ended while it was set up");
    sandboxTearDown(box);
    return -1;
  }
  for (size_t at = 2, end; (end = answer.find('\0', at)) != std::string::npos; at = end + 1) {
    box->readOnly.push_back(answer.substr(at, end - at));
  }
  return 0;
}

int sandboxRun(Sandbox* box, SandboxStep step, bool asUser, const std::string& input,
               int seconds, std::string* output, int* status) {
  StepRequest request{step, asUser ? 1 : 0, seconds};
  std::string frame = "R";
  frame.append(reinterpret_cast<const char*>(&request), sizeof request);
  frame += input;
  std::string reply;
  if (box->control < 0 || !sendFrame(box->control, frame) ||
      !receiveFrame(box->control, &reply) || reply.size() < sizeof(int)) {
    return -1;
  }
  memcpy(status, reply.data(), sizeof(int));
  *output = reply.substr(sizeof(int));
  return 0;
}

int sandboxChanges(Sandbox* box, std::vector<SandboxChange>* changes) {
  std::string reply;
  if (box->control < 0 || !sendFrame(box->control, "C") ||
      !receiveFrame(box->control, &reply)) {
    return -1;
  }
  decodeChanges(reply, changes);
  return 0;
}

int sandboxEvents(Sandbox* box, SandboxEvents* events) {
  std::string reply;
  if (box->control < 0 || !sendFrame(box->control, "S") ||
      !receiveFrame(box->control, &reply)) {
    return -1;
  }
  for (size_t at = 0, end; (end = reply.find('\0', at)) != std::string::npos; at = end + 1) {
    if (end == at) continue;
    std::string value = reply.substr(at + 1, end - at - 1);
    if (reply[at] == 'r') events->refusedCalls.push_back(value);
    if (reply[at] == 'f') events->fullFileSystems.push_back(value);
  }
  return 0;
}

void sandboxTearDown(Sandbox* box) {
  std::string reply;
  if (box->control >= 0) {
    // The first process answers once everything inside has ended.
    if (sendFrame(box->control, "E")) receiveFrame(box->control, &reply);
    close(box->control);
    box->control = -1;
  }
  if (box->keeper > 0) {
    // A sandbox that no longer answers ends with its keeper.
    if (reply != "ended") kill(box->keeper, SIGKILL);
    while (waitpid(box->keeper, nullptr, 0) < 0 && errno == EINTR) {
    }
    box->keeper = -1;
  }
  if (!box->scratch.empty()) {
    rmdir(box->scratch.c_str());
    box->scratch.clear();
  }
}
