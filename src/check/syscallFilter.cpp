#include "syscallFilter.h"

#include <poll.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "utilities.h"

namespace {

// What container runtimes refuse by default, less what the copy already
// takes away with the capabilities: these work with none, or reach past the
// namespaces, or only make sense for a way out. Names this kernel's
// architectures lack are left out by the library.
const char* const kRefusedCalls[] = {
    // Keyrings follow the uid, not any namespace: a key added here would
    // stay in the real root's keyring.
    "add_key", "keyctl", "request_key",
    "init_module", "finit_module", "delete_module", "create_module",
    "query_module", "get_kernel_syms",
    "kexec_load", "kexec_file_load", "reboot",
    "swapon", "swapoff",
    "settimeofday", "clock_settime", "clock_adjtime", "adjtimex", "stime",
    "acct", "quotactl", "quotactl_fd", "lookup_dcookie", "perf_event_open", "bpf",
    "userfaultfd", "open_by_handle_at", "name_to_handle_at", "iopl", "ioperm",
    "syslog", "vhangup", "uselib", "nfsservctl", "_sysctl", "vm86", "vm86old",
    // The copy's mounts and namespaces are set up before the filter: from
    // here on, changing them can only undo it.
    "mount", "umount", "umount2", "pivot_root", "move_mount", "open_tree", "fsopen",
    "fsconfig", "fsmount", "fspick", "mount_setattr", "unshare", "setns"};

const unsigned long kNamespaceFlags[] = {CLONE_NEWNS,  CLONE_NEWUTS, CLONE_NEWIPC,
                                         CLONE_NEWUSER, CLONE_NEWPID, CLONE_NEWNET,
                                         CLONE_NEWCGROUP};

const int kAnswersPerRound = 256;

std::string libraryFailure(const char* what, int rc) {
  return formatText("%s: %s", what, strerror(-rc));
}

// The filter with every rule; nullptr with *why when the library or the
// kernel cannot make it.
scmp_filter_ctx buildFilter(std::string* why) {
  scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
  if (!filter) {
    *why = "cannot make a system-call filter";
    return nullptr;
  }
  // Both ways into the kernel of an x86-64 machine: a 32-bit installer must
  // not be a way around the rules. x32 calls are no such way: they fail.
  int rc = 0;
  const uint32_t arches[] = {SCMP_ARCH_X86_64, SCMP_ARCH_X86};
  for (uint32_t arch : arches) {
    int added = seccomp_arch_add(filter, arch);
    if (added != 0 && added != -EEXIST) rc = added;
  }
  if (rc == 0) rc = seccomp_attr_set(filter, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_ERRNO(EPERM));
  for (const char* name : kRefusedCalls) {
    int number = seccomp_syscall_resolve_name(name);
    if (rc != 0 || number == __NR_SCMP_ERROR) continue;
    int added = seccomp_rule_add(filter, SCMP_ACT_NOTIFY, number, 0);
    // A call no architecture of the filter has is no way out.
    if (added != 0 && number >= 0) rc = added;
  }
  // New namespaces through clone as well; clone3 hides its flags from a
  // filter, so it is "not there" and the C library falls back to clone.
  for (unsigned long flag : kNamespaceFlags) {
    struct scmp_arg_cmp flags;
    memset(&flags, 0, sizeof flags);
    flags.arg = 0;
    flags.op = SCMP_CMP_MASKED_EQ;
    flags.datum_a = flag;
    flags.datum_b = flag;
    if (rc == 0) rc = seccomp_rule_add_array(filter, SCMP_ACT_NOTIFY, SCMP_SYS(clone), 1, &flags);
  }
  if (rc == 0) rc = seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0);
  if (rc != 0) {
    *why = libraryFailure("cannot build the system-call filter", rc);
    seccomp_release(filter);
    return nullptr;
  }
  return filter;
}

bool sendDescriptor(int channel, int fd) {
  char byte = 'L';
  struct iovec data = {&byte, 1};
  union {
    char buffer[CMSG_SPACE(sizeof(int))];
    struct cmsghdr align;
  } control;
  memset(&control, 0, sizeof control);
  struct msghdr message;
  memset(&message, 0, sizeof message);
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control.buffer;
  message.msg_controllen = sizeof control.buffer;
  struct cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  memcpy(CMSG_DATA(header), &fd, sizeof fd);
  ssize_t sent;
  do {
    sent = sendmsg(channel, &message, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent == 1;
}

}  // namespace

int installSyscallFilter(int channel, std::string* why) {
  scmp_filter_ctx filter = buildFilter(why);
  if (!filter) return -1;
  // Without no_new_privs where the process may do without it: an installer
  // run as an ordinary user may still need a set-user-ID program.
  seccomp_attr_set(filter, SCMP_FLTATR_CTL_NNP, 0);
  int rc = seccomp_load(filter);
  if (rc == -EACCES) {
    seccomp_attr_set(filter, SCMP_FLTATR_CTL_NNP, 1);
    rc = seccomp_load(filter);
  }
  int listener = rc == 0 ? seccomp_notify_fd(filter) : -1;
  seccomp_release(filter);
  if (rc != 0 || listener < 0) {
    *why = libraryFailure("cannot load the system-call filter", rc != 0 ? rc : -EINVAL);
    return -1;
  }
  bool sent = sendDescriptor(channel, listener);
  close(listener);
  if (!sent) {
    *why = formatText("cannot hand on the system-call filter's listener: %s", strerror(errno));
    return -1;
  }
  return 0;
}

int receiveSyscallListener(int channel) {
  char byte;
  struct iovec data = {&byte, 1};
  union {
    char buffer[CMSG_SPACE(sizeof(int))];
    struct cmsghdr align;
  } control;
  memset(&control, 0, sizeof control);
  struct msghdr message;
  memset(&message, 0, sizeof message);
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control.buffer;
  message.msg_controllen = sizeof control.buffer;
  if (recvmsg(channel, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC) != 1) return -1;
  struct cmsghdr* header = CMSG_FIRSTHDR(&message);
  if (!header || header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS ||
      header->cmsg_len != CMSG_LEN(sizeof(int))) {
    return -1;
  }
  int fd;
  memcpy(&fd, CMSG_DATA(header), sizeof fd);
  return fd;
}

bool answerRefusedCalls(int listener, std::vector<std::string>* refused) {
  struct seccomp_notif* request = nullptr;
  struct seccomp_notif_resp* response = nullptr;
  if (seccomp_notify_alloc(&request, &response) != 0) return true;
  bool alive = true;
  struct pollfd ready = {listener, POLLIN, 0};
  // Bounded: a flood of refused calls must not keep the supervisor from
  // its other work; the rest wait for the next round.
  for (int round = 0; round < kAnswersPerRound && poll(&ready, 1, 0) > 0; ++round) {
    if (!(ready.revents & POLLIN)) {
      alive = (ready.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
      break;
    }
    // The caller may have ended in between: nothing then waits for an answer.
    if (seccomp_notify_receive(listener, request) != 0) continue;
    response->id = request->id;
    response->val = 0;
    response->error = -EPERM;
    response->flags = 0;
    seccomp_notify_respond(listener, response);
    char* resolved = seccomp_syscall_resolve_num_arch(request->data.arch, request->data.nr);
    std::string name = resolved ? resolved : formatText("system call %d", request->data.nr);
    free(resolved);
    bool known = false;
    for (const std::string& earlier : *refused) known = known || earlier == name;
    if (!known) refused->push_back(name);
  }
  seccomp_notify_free(request, response);
  return alive;
}
