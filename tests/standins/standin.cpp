#include "standin.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace standin {

const char kAgentPackageId[] = "com.telvane.quorvin.agent";

namespace {

std::string sysError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

std::string dirOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string joinWords(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
  return out;
}

std::vector<std::string> splitWords(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

std::string selfPath() {
  std::string buf(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", &buf[0], buf.size());
  if (n <= 0) return std::string();
  buf.resize(static_cast<size_t>(n));
  return buf;
}

// A signal mask line of /proc/self/status ("SigIgn:\t0000000000001000").
std::string statusField(const std::string& name) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, name.size() + 1, name + ":") == 0) {
      std::string value = line.substr(name.size() + 1);
      return value.substr(value.find_first_not_of(" \t"));
    }
  }
  return std::string();
}

// Asks the parent to stop, as a terminal and a service manager would, and
// waits (30 s at most) for the SIGTERM or SIGHUP it passes on, blocked since
// the start so none is lost; then exits with `outcome`'s number, or dies of
// the signal.
int stopParent(const std::string& outcome, const sigset_t& set) {
  for (int sig : {SIGINT, SIGQUIT, SIGTERM}) kill(getppid(), sig);
  const struct timespec limit = {30, 0};
  int sig = sigtimedwait(&set, nullptr, &limit);
  if (sig < 0) return 198;
  if (outcome.size() > 4) return std::atoi(outcome.c_str() + 4);
  signal(sig, SIG_DFL);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  return 199;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string escape(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string unescape(const std::string& text) {
  std::string out;
  for (std::string::size_type i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
    } else if (text[i + 1] == '\\') {
      out += '\\';
      ++i;
    } else if (text[i + 1] == 'x' && i + 3 < text.size() &&
               hexValue(text[i + 2]) >= 0 && hexValue(text[i + 3]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 2]) * 16 +
                               hexValue(text[i + 3]));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool mkdirs(const std::string& dir, std::string* err) {
  if (dir.empty()) return true;
  std::string::size_type pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    std::string prefix = dir.substr(0, pos);
    if (prefix.empty()) continue;
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
      *err = sysError("mkdir", prefix);
      return false;
    }
  }
  return true;
}

bool writeFile(const std::string& path, const std::string& content,
               std::string* err) {
  if (!mkdirs(dirOf(path), err)) return false;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    *err = sysError("open", path);
    return false;
  }
  bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) *err = sysError("write", path);
  return ok;
}

bool copyFile(const std::string& from, const std::string& to, mode_t mode,
              std::string* err) {
  std::ifstream in(from, std::ios::binary);
  if (!in) {
    *err = sysError("open", from);
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  // A fresh file, so a running copy of the old program is never overwritten.
  unlink(to.c_str());
  if (!writeFile(to, content.str(), err)) return false;
  if (chmod(to.c_str(), mode) != 0) {
    *err = sysError("chmod", to);
    return false;
  }
  return true;
}

bool writePlan(const std::string& path, const Plan& plan, std::string* err) {
  std::ostringstream out;
  out << "record " << plan.record << "\n";
  out << "outcomes " << joinWords(plan.outcomes) << "\n";
  if (plan.installs) {
    const AgentInstall& a = plan.install;
    out << "install.dir " << a.dir << "\n"
        << "install.dataDir " << a.dataDir << "\n"
        << "install.version " << a.version << "\n"
        << "install.program " << a.program << "\n"
        << "install.source " << a.source << "\n"
        << "install.executable " << (a.executable ? 1 : 0) << "\n"
        << "install.locationFile " << a.locationFile << "\n"
        << "install.locationValue " << a.locationValue << "\n"
        << "install.agentRecord " << a.agentRecord << "\n"
        << "install.agentOutcomes " << joinWords(a.agentOutcomes) << "\n"
        << "install.pauseMs " << a.pauseMs << "\n";
  }
  return writeFile(path, out.str(), err);
}

bool readPlan(const std::string& path, Plan* plan, std::string* err) {
  std::ifstream in(path);
  if (!in) {
    *err = sysError("open", path);
    return false;
  }
  *plan = Plan();
  std::string line;
  while (std::getline(in, line)) {
    std::string::size_type sp = line.find(' ');
    std::string key = line.substr(0, sp);
    std::string value = sp == std::string::npos ? "" : line.substr(sp + 1);
    AgentInstall& a = plan->install;
    if (key.compare(0, 8, "install.") == 0) plan->installs = true;
    if (key == "record") plan->record = value;
    else if (key == "outcomes") plan->outcomes = splitWords(value);
    else if (key == "install.dir") a.dir = value;
    else if (key == "install.dataDir") a.dataDir = value;
    else if (key == "install.version") a.version = value;
    else if (key == "install.program") a.program = value;
    else if (key == "install.source") a.source = value;
    else if (key == "install.executable") a.executable = value == "1";
    else if (key == "install.locationFile") a.locationFile = value;
    else if (key == "install.locationValue") a.locationValue = value;
    else if (key == "install.agentRecord") a.agentRecord = value;
    else if (key == "install.agentOutcomes") a.agentOutcomes = splitWords(value);
    else if (key == "install.pauseMs") a.pauseMs = std::atoi(value.c_str());
  }
  return true;
}

bool appendRecord(const std::string& path, const Record& r, std::string* err) {
  std::string text = "run\n";
  text += "exe " + escape(r.exe) + "\n";
  text += "pid " + std::to_string(r.pid) + "\n";
  text += "ppid " + std::to_string(r.ppid) + "\n";
  text += "cwd " + escape(r.cwd) + "\n";
  for (const std::string& a : r.argv) text += "arg " + escape(a) + "\n";
  for (const std::string& e : r.env) text += "env " + escape(e) + "\n";
  text += "sigign " + r.sigIgnored + "\n";
  text += "sigblk " + r.sigBlocked + "\n";
  text += "end\n";
  if (!mkdirs(dirOf(path), err)) return false;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) {
    *err = sysError("open", path);
    return false;
  }
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *err = sysError("write", path);
      close(fd);
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return close(fd) == 0;
}

std::vector<Record> readRecords(const std::string& path) {
  std::vector<Record> runs;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    std::string::size_type sp = line.find(' ');
    std::string key = line.substr(0, sp);
    std::string value = sp == std::string::npos ? "" : line.substr(sp + 1);
    if (key == "run") {
      runs.emplace_back();
      continue;
    }
    if (runs.empty()) continue;
    Record& r = runs.back();
    if (key == "exe") r.exe = unescape(value);
    else if (key == "pid") r.pid = static_cast<pid_t>(std::atol(value.c_str()));
    else if (key == "ppid") r.ppid = static_cast<pid_t>(std::atol(value.c_str()));
    else if (key == "cwd") r.cwd = unescape(value);
    else if (key == "arg") r.argv.push_back(unescape(value));
    else if (key == "env") r.env.push_back(unescape(value));
    else if (key == "sigign") r.sigIgnored = value;
    else if (key == "sigblk") r.sigBlocked = value;
  }
  return runs;
}

bool installAgent(const AgentInstall& a, std::string* err) {
  std::string dataDir = a.dataDir.empty() ? a.dir + "/data" : a.dataDir;
  std::string program = a.dir + "/" + a.program;
  auto pause = [&a] { if (a.pauseMs > 0) usleep(static_cast<useconds_t>(a.pauseMs) * 1000); };
  pause();
  if (!copyFile(a.source, program, a.executable ? 0755 : 0644, err)) return false;
  Plan agentPlan;
  agentPlan.record = a.agentRecord;
  agentPlan.outcomes = a.agentOutcomes;
  pause();
  if (!writePlan(program + ".plan", agentPlan, err)) return false;
  pause();
  if (!writeFile(a.dir + "/eclipse/configuration/config.ini",
                 "# written by the stand-in installer\n"
                 "zel.appDataLocation=" + dataDir + "\n",
                 err)) {
    return false;
  }
  pause();
  if (!writeFile(dataDir + "/installed.xml",
                 "<?xml version='1.0' encoding='UTF-8'?>\n"
                 "<installed>\n"
                 "  <package id='" + std::string(kAgentPackageId) +
                     "' version='" + a.version + "'/>\n"
                 "</installed>\n",
                 err)) {
    return false;
  }
  if (!a.locationFile.empty()) {
    std::string location = a.locationValue.empty() ? a.dir : a.locationValue;
    pause();
    if (!writeFile(a.locationFile,
                   "location=" + location + "\nversion=" + a.version + "\n",
                   err)) {
      return false;
    }
  }
  return true;
}

int runStandin(int argc, char** argv, char** envp) {
  std::string self = selfPath();
  Plan plan;
  std::string err;
  if (self.empty() || !readPlan(self + ".plan", &plan, &err)) {
    std::fprintf(stderr, "standin %s: no plan: %s\n", self.c_str(), err.c_str());
    return 199;
  }
  std::vector<Record> earlier = readRecords(plan.record);
  std::string outcome = "0";
  if (!plan.outcomes.empty()) {
    size_t run = earlier.size();
    outcome = plan.outcomes[run < plan.outcomes.size() ? run
                                                       : plan.outcomes.size() - 1];
  }

  Record r;
  r.exe = self;
  r.pid = getpid();
  r.ppid = getppid();
  std::string cwd(8192, '\0');
  if (getcwd(&cwd[0], cwd.size())) r.cwd = cwd.c_str();
  for (int i = 0; i < argc; ++i) r.argv.push_back(argv[i]);
  for (char** e = envp; *e; ++e) r.env.push_back(*e);
  r.sigIgnored = statusField("SigIgn");
  r.sigBlocked = statusField("SigBlk");
  sigset_t waitSet;
  sigemptyset(&waitSet);
  sigaddset(&waitSet, SIGTERM);
  sigaddset(&waitSet, SIGHUP);
  bool waits = outcome.compare(0, 4, "stop") == 0;
  if (waits) sigprocmask(SIG_BLOCK, &waitSet, nullptr);
  if (!appendRecord(plan.record, r, &err)) {
    std::fprintf(stderr, "standin %s: %s\n", self.c_str(), err.c_str());
    return 199;
  }

  if (plan.installs && !installAgent(plan.install, &err)) {
    std::fprintf(stderr, "standin %s: install: %s\n", self.c_str(), err.c_str());
    return 199;
  }
  if (waits) return stopParent(outcome, waitSet);

  if (outcome.compare(0, 3, "sig") == 0) {
    int sig = std::atoi(outcome.c_str() + 3);
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    kill(getpid(), sig);
    std::fprintf(stderr, "standin %s: signal %d did not end me\n", self.c_str(),
                 sig);
    return 199;
  }
  return std::atoi(outcome.c_str());
}

}  // namespace standin
