// The system calls a program in the throwaway copy may not make: those that
// reach past any namespace to the real machine (keyrings, modules, kexec,
// reboot, swap, the clock) or that would let it build a way out (mounts,
// new namespaces, handles to files of the machine). Each refused call fails
// with EPERM, and a supervisor outside learns its name, so that the trial
// can say what was refused.
#ifndef LAUNCHER_SYSCALLFILTER_H_
#define LAUNCHER_SYSCALLFILTER_H_

#include <string>
#include <vector>

// In the process to be filtered, once it needs no more of these calls
// itself: loads the filter, which holds for it and everything it starts,
// 32-bit programs included, and sends the descriptor that hears refused
// calls on the unix socket `channel`. 0, or -1 with *why.
int installSyscallFilter(int channel, std::string* why);

// In the supervisor: the descriptor a filtered process sent on `channel`,
// or -1 when none has come yet (never waits).
int receiveSyscallListener(int channel);

// Answers every refused call waiting on `listener` with EPERM, adding the
// name of each call not yet in *refused. Never waits. False once no process
// that the filter holds is left: the listener may then be closed.
bool answerRefusedCalls(int listener, std::vector<std::string>* refused);

#endif  // LAUNCHER_SYSCALLFILTER_H_
