#include "trialVariants.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "check.h"
#include "checkEscape.h"
#include "trust.h"
#include "utilities.h"

namespace {

const long kPollNanoseconds = 20L * 1000 * 1000;
// Longer than any interpreter path the kernel accepts.
const size_t kMostInterpreterBytes = 4096;

bool readAt(int fd, void* buffer, size_t size, off_t at) {
  return pread(fd, buffer, size, at) == static_cast<ssize_t>(size);
}

// The PT_INTERP string of an ELF file of this machine's byte order; empty
// when there is none.
template <typename Header, typename Program>
std::string interpreterIn(int fd) {
  Header header;
  if (!readAt(fd, &header, sizeof header, 0) || header.e_phentsize != sizeof(Program)) {
    return std::string();
  }
  for (unsigned i = 0; i < header.e_phnum; ++i) {
    Program program;
    if (!readAt(fd, &program, sizeof program,
                static_cast<off_t>(header.e_phoff + i * sizeof program))) {
      return std::string();
    }
    if (program.p_type != PT_INTERP) continue;
    if (program.p_filesz < 2 || program.p_filesz > kMostInterpreterBytes) return std::string();
    std::string text(program.p_filesz, '\0');
    if (!readAt(fd, text.data(), text.size(), static_cast<off_t>(program.p_offset))) {
      return std::string();
    }
    return text.substr(0, text.find('\0'));
  }
  return std::string();
}

std::string elfInterpreterOf(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  unsigned char ident[EI_NIDENT] = {0};
  std::string interpreter;
  if (readAt(fd, ident, sizeof ident, 0) && memcmp(ident, ELFMAG, SELFMAG) == 0) {
    interpreter = ident[EI_CLASS] == ELFCLASS64 ? interpreterIn<Elf64_Ehdr, Elf64_Phdr>(fd)
                  : ident[EI_CLASS] == ELFCLASS32 ? interpreterIn<Elf32_Ehdr, Elf32_Phdr>(fd)
                                                  : std::string();
  }
  close(fd);
  return interpreter;
}

// The program a #! line names, as the kernel reads it; empty for any other
// file.
std::string scriptInterpreterOf(const std::string& path) {
  char head[256] = {0};
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  ssize_t got = read(fd, head, sizeof head - 1);
  close(fd);
  if (got < 3 || head[0] != '#' || head[1] != '!') return std::string();
  size_t start = 2;
  while (head[start] == ' ' || head[start] == '\t') ++start;
  size_t end = start;
  while (head[end] && head[end] != ' ' && head[end] != '\t' && head[end] != '\n' &&
         head[end] != '\r') {
    ++end;
  }
  return std::string(head + start, end - start);
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The text between the first pair of quotes in `line` that a shell or env
// uses around a name.
std::string quotedName(const std::string& line) {
  for (const char* quotes : {"''", "`'", "\"\""}) {
    size_t open = line.find(quotes[0]);
    if (open == std::string::npos) continue;
    size_t close = line.find(quotes[1], open + 1);
    if (close != std::string::npos) return line.substr(open + 1, close - open - 1);
  }
  return std::string();
}

}  // namespace

std::string elfInterpreterProblem(const std::string& path) {
  std::string program = path, script = scriptInterpreterOf(path);
  // A script runs on its interpreter: that one's loader decides.
  if (!script.empty()) program = script;
  std::string interpreter = elfInterpreterOf(program);
  struct stat st;
  if (interpreter.empty() || stat(interpreter.c_str(), &st) == 0) return std::string();
  return "ELF interpreter " + interpreter + " not found" +
         (script.empty() ? std::string() : " (needed by " + script + ")");
}

std::string missingCommand(const std::string& output) {
  size_t at = 0;
  while (at < output.size()) {
    size_t end = output.find('\n', at);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // sh and busybox: "...: NAME: not found"; bash: "...: NAME: command not found".
    for (const char* tail : {": command not found", ": not found"}) {
      if (!endsWith(line, tail)) continue;
      std::string head = line.substr(0, line.size() - strlen(tail));
      size_t colon = head.rfind(": ");
      std::string name = colon == std::string::npos ? head : head.substr(colon + 2);
      if (!name.empty()) return name;
    }
    // env: "env: 'NAME': No such file or directory".
    if (line.compare(0, 5, "env: ") == 0 &&
        line.find("No such file or directory") != std::string::npos) {
      std::string name = quotedName(line);
      if (!name.empty()) return name;
    }
  }
  return std::string();
}

std::string missingLibrary(const std::string& output) {
  size_t version = output.find("version `");
  if (version != std::string::npos && output.find("' not found", version) != std::string::npos) {
    size_t end = output.find('\'', version);
    return output.substr(version + 9, end - version - 9);
  }
  const char marker[] = "error while loading shared libraries: ";
  size_t library = output.find(marker);
  if (library != std::string::npos) {
    size_t start = library + strlen(marker);
    size_t end = output.find(':', start);
    if (end != std::string::npos) return output.substr(start, end - start);
  }
  return std::string();
}

int runCaptured(const std::string& path, const std::vector<std::string>& argv, int capture,
                int seconds, bool* running, double* took, bool (*stop)(pid_t, void*),
                void* stopContext) {
  struct timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  // Closes when the child has become the program (or ended): only from then
  // on does `stop` look at it.
  int started[2];
  if (pipe2(started, O_CLOEXEC) != 0) return 255;
  pid_t child = fork();
  if (child == 0) {
    close(started[0]);
    // Its own process group, so that everything it started ends with it.
    setpgid(0, 0);
    if (capture >= 0) {
      dup2(capture, 1);
      dup2(capture, 2);
    }
    execv(path.c_str(), args.data());
    dprintf(2, "cannot start %s: %s\n", path.c_str(), strerror(errno));
    _exit(255);
  }
  close(started[1]);
  if (child < 0) {
    close(started[0]);
    return 255;
  }
  char byte;
  while (read(started[0], &byte, 1) < 0 && errno == EINTR) {
  }
  close(started[0]);
  *running = false;
  int status = 0;
  for (;;) {
    pid_t done = waitpid(child, &status, WNOHANG);
    clock_gettime(CLOCK_MONOTONIC, &now);
    *took = static_cast<double>(now.tv_sec - start.tv_sec) +
            static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
    if (done == child) break;
    if (done < 0 && errno != EINTR) return 255;
    if ((stop && stop(child, stopContext)) || (seconds >= 0 && *took >= seconds)) {
      *running = true;
      kill(-child, SIGKILL);
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return -1;
    }
    struct timespec pause = {0, kPollNanoseconds};
    nanosleep(&pause, nullptr);
  }
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

namespace {

// The launcher that ran, and whether another program has taken its place.
struct AgentWatch {
  struct stat launcher;
  bool replaced;
};

bool launcherReplaced(pid_t child, void* context) {
  AgentWatch* watch = static_cast<AgentWatch*>(context);
  struct stat running;
  std::string exe = formatText("/proc/%d/exe", static_cast<int>(child));
  watch->replaced = stat(exe.c_str(), &running) == 0 && !isSameFile(running, watch->launcher);
  return watch->replaced;
}

}  // namespace

int runLauncherUntilAgent(const std::string& path, const std::vector<std::string>& argv,
                          int capture, int seconds, bool* agentStarted) {
  AgentWatch watch = {};
  *agentStarted = false;
  if (stat(path.c_str(), &watch.launcher) != 0) return 255;
  bool running = false;
  double took = 0;
  int rc = runCaptured(path, argv, capture, seconds, &running, &took, launcherReplaced, &watch);
  *agentStarted = watch.replaced;
  return rc;
}

std::string upgradeText(const TrialUpgrade& u, bool installerRan) {
  std::string out = "  Upgrade from " + escapedText(u.from) + ": ";
  if (!u.oldRan) {
    out += "the old launcher could not be run\n";
  } else if (u.oldAgentStarted) {
    out += "the old launcher installed and started its agent (the trial ended it)\n";
  } else if (u.oldStatus < 0) {
    out += "the old launcher did not end in time; the trial ended it\n";
  } else {
    out += formatText("the old launcher ended with status %d\n", u.oldStatus);
  }
  // Why the old release did not install is the first thing to know.
  if (!u.oldAgentStarted && u.oldStatus != 0 && !u.oldOutput.empty()) {
    out += "    its output (first lines):\n" + escapedLines(u.oldOutput, "      | ");
  }
  out += "  Before this package ran, the launcher found: ";
  if (u.beforeLocation.empty()) {
    out += "no agent\n";
  } else {
    out += (u.beforeVersion.empty() ? std::string("an agent of no known version")
                                    : "version " + escapedText(u.beforeVersion)) +
           " at " + escapedText(u.beforeLocation) +
           (u.beforeSufficient ? ": sufficient\n" : ": not sufficient\n");
  }
  out += installerRan ? "  The new installer ran\n"
                      : "  The new installer did not run\n";
  return out;
}

std::string upgradeJson(const TrialUpgrade& u, bool installerRan) {
  return "{\"from\": " + jsonString(u.from) + ", \"oldRan\": " + (u.oldRan ? "true" : "false") +
         ", \"oldStatus\": " + (u.oldRan && u.oldStatus >= 0 ? std::to_string(u.oldStatus)
                                                              : std::string("null")) +
         ", \"oldAgentStarted\": " + (u.oldAgentStarted ? "true" : "false") +
         ", \"oldOutput\": " + jsonString(u.oldOutput) +
         ",\n       \"before\": {\"location\": " + jsonString(u.beforeLocation) +
         ", \"version\": " + jsonString(u.beforeVersion) +
         ", \"sufficient\": " + (u.beforeSufficient ? "true" : "false") +
         "}, \"installerRan\": " + (installerRan ? "true" : "false") + "}";
}
