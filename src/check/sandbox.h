// A throwaway copy of this machine: a private mount namespace whose root is
// an overlay over the real root file system, with its upper layer in a
// scratch directory, and a PID namespace whose end ends every process
// started in it. Whatever runs inside may write anywhere; the real machine
// keeps none of it.
//
// Four operations: set up, run a step as some user inside, collect what
// changed, tear down. A step is a function of this program, run in a child
// process that sees only the copy.
#ifndef LAUNCHER_SANDBOX_H_
#define LAUNCHER_SANDBOX_H_

#include <sys/types.h>

#include <string>
#include <vector>

struct SandboxIdentity {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;  // supplementary groups
  std::string name;
  std::string home;  // absolute: an empty, private directory there
};

// How much each scratch file system of the copy holds (its layer over the
// machine's files, the home directory, /run, /dev, /dev/shm), unless told
// otherwise. Room for an installer that unpacks a runtime and an agent
// twice over, while six of them filled at once stay under half the memory
// of a small build machine (24 GiB).
const unsigned long long kSandboxScratchBytes = 2ULL << 30;

struct SandboxOptions {
  SandboxIdentity user;  // the ordinary identity steps may run as
  // The working directory of steps, when it exists inside.
  std::string workDir;
  // A directory that must be seen inside (the package): when it lies on
  // another file system than the root, that file system is shown read-only.
  std::string keepDir;
  // The machine's network instead of one of its own with only loopback.
  bool shareNetwork = false;
  unsigned long long scratchBytes = kSandboxScratchBytes;
  // A root file system tree (an unpacked image of another system) the copy
  // is made of instead of this machine's root; it is never written. Empty:
  // this machine.
  std::string lowerRoot;
  // More directories that must be seen inside at their own paths (an older
  // release of the package), shown read-only.
  std::vector<std::string> alsoShow;
};

struct Sandbox {
  pid_t keeper = -1;  // outside: the process that owns the namespaces
  int control = -1;   // socket to the namespace's first process
  std::string scratch;
  bool userNamespace = false;  // set up without root, in a user namespace
  // Where the scratch home and the package are shown: their paths without
  // links, so that no link leads the set-up out of the copy.
  std::string home, keep;
  std::string lower;               // lowerRoot without links; empty: "/"
  std::vector<std::string> shown;  // alsoShow, likewise
  // What the copy shows as it is, unwritable: the package when it lies on a
  // file system of its own or in the home directory, and top-level
  // directories the kernel would not overlay.
  std::vector<std::string> readOnly;
};

// One file the steps created, changed or removed, as a path of the real
// machine.
struct SandboxChange {
  char change = '+';  // '+' created, '~' changed, '-' removed
  char type = 'f';    // 'f' file, 'd' directory, 'l' link, 'o' other
  std::string path;
  long long size = 0;
  // Nanoseconds: a file written again at the same size is a change too.
  long long modified = 0;
  // A directory's own time moves with every entry made in it, and those
  // entries are listed themselves: only a file's or a link's time counts.
  bool operator==(const SandboxChange& other) const {
    return change == other.change && type == other.type && path == other.path &&
           size == other.size && (type == 'd' || modified == other.modified);
  }
};

// A step: runs inside, as the identity it was given, with `input` from the
// caller; whatever it writes to `out` comes back as the step's output. Its
// result becomes the exit status. `context` is the caller's pointer as it
// was when the sandbox was set up: the step runs in a copy of that memory.
typedef int (*SandboxStep)(void* context, const std::string& input, int out);

// Sets the sandbox up; 0, or -1 with *why saying what the kernel or the
// machine does not allow. Never leaves anything behind on failure.
int sandboxSetUp(const SandboxOptions& options, void* context, Sandbox* box,
                 std::string* why);
// Runs `step` inside as root (`asUser` false) or as the ordinary identity,
// for at most `seconds`; the step's process is killed after that. *status is
// its exit status (128 + signal when killed). Returns 0, or -1 when the
// sandbox no longer answers.
int sandboxRun(Sandbox* box, SandboxStep step, bool asUser,
               const std::string& input, int seconds, std::string* output,
               int* status);
// Every file created, changed or removed inside so far.
int sandboxChanges(Sandbox* box, std::vector<SandboxChange>* changes);

// What the copy refused or ran out of since the last time it was asked.
struct SandboxEvents {
  std::vector<std::string> refusedCalls;  // system calls, by name, once each
  // Scratch file systems that were full at some moment, by the path they
  // are shown at ("/" for the layer over the machine's files).
  std::vector<std::string> fullFileSystems;
};
int sandboxEvents(Sandbox* box, SandboxEvents* events);
// Ends every process inside, drops the copy and removes the scratch
// directory. Safe to call on a sandbox that was never set up.
void sandboxTearDown(Sandbox* box);

#endif  // LAUNCHER_SANDBOX_H_
