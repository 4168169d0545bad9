#include "checkFiles.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "commands.h"
#include "files.h"
#include "utilities.h"

namespace {

const char kNotExecutable[] = "not executable";

std::string realPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  std::string out = real ? real : "";
  free(real);
  return out;
}

bool isInside(const std::string& path, const std::string& dir) {
  return path == dir || (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
                         (dir == "/" || path[dir.size()] == '/'));
}

std::string linkTarget(const std::string& link) {
  char buffer[PATH_MAX];
  ssize_t got = readlink(link.c_str(), buffer, sizeof buffer);
  return got < 0 ? std::string() : std::string(buffer, static_cast<size_t>(got));
}

void checkInstaller(const KeyLines& keyLine, CheckReport* report) {
  const IniSettings& ini = report->ini;
  const std::string& iniPath = report->iniPath;
  int line = lineOf(keyLine, "LOCATION");
  if (ini.iniInstallerLocation.empty()) {
    addProblem(report, iniPath, 0, CHECK_WARNING, "no-installer",
               "no LOCATION in [INSTALLER]: the package works only where a "
               "sufficient agent is already installed",
               "LOCATION=<the installer, relative to the launcher's directory>");
    return;
  }
  InstallerCommand installer;
  createAgtInstallerArgList(report->info, ini, report->cmd, report->settings, &installer);
  std::string link, target;
  // Not even its #! line is read.
  if (linksOutOfPackage(*report,
                        isMSIFile(ini.iniInstallerLocation) ? installer.msiFile
                                                            : installer.InstallerProgram,
                        &link, &target)) {
    addProblem(report, iniPath, line, CHECK_ERROR, "installer-outside-package",
               "the installer: " + linkOutMessage(link, target), kLinkOutFix);
    return;
  }
  if (isMSIFile(ini.iniInstallerLocation)) {
    std::string why = fileProblem(*report, installer.msiFile);
    if (!why.empty()) {
      addProblem(report, iniPath, line, CHECK_ERROR, "installer-missing",
                 "the installer package " + installer.msiFile + ": " + why,
                 "put the installer there, or correct LOCATION");
    }
    if (installer.InstallerProgram.empty()) {
      addProblem(report, iniPath, line, CHECK_ERROR, "no-msiexec",
                 "a .msi installer needs msiexec.exe, and there is none on PATH "
                 "here",
                 "a native installer, or msiexec.exe on the users' PATH");
    }
    return;
  }
  const std::string& program = installer.InstallerProgram;
  std::string why = programProblem(*report, program);
  if (why.empty()) return;
  const char* code = "installer-cannot-start";
  std::string fix = startFix(program, why);
  if (!isFileExist(program)) {
    code = "installer-missing";
    fix = "put the installer there, or correct LOCATION";
  } else if (why == "not a regular file") {
    code = "installer-not-file";
    fix = "put the installer there, or correct LOCATION";
  } else if (why == kNotExecutable) {
    code = "installer-not-executable";
  }
  addProblem(report, iniPath, line, CHECK_ERROR, code,
             "the installer " + installer.InstallerProgram + ": " + why, fix);
}

void checkInputFile(const KeyLines& keyLine, CheckReport* report) {
  const std::string& inputFile = report->settings.inputFile;
  if (inputFile.empty()) return;
  std::string why = fileProblem(*report, inputFile);
  if (why.empty()) return;
  bool fromOption = !report->cmd.argInputFile.empty();
  addProblem(report, fromOption ? std::string() : report->iniPath,
             fromOption ? 0 : lineOf(keyLine, "INPUT_FILE"), CHECK_WARNING,
             "input-missing",
             std::string(fromOption ? "-input" : "INPUT_FILE") + " names " +
                 inputFile + ": " + why + "; the agent gets the path all the same",
             "put the file into the package, or correct the name");
}

// INI files beside the launcher that belong to other launcher names.
std::vector<std::string> otherIniNames(const CheckReport& report,
                                       const std::string& dir) {
  std::vector<std::string> names;
  DIR* directory = opendir(dir.empty() ? "." : dir.c_str());
  if (!directory) return names;
  // The tool is single-threaded: readdir's shared buffer is safe here.
  // cppcheck-suppress readdirCalled
  while (const struct dirent* entry = readdir(directory)) {
    std::string name = entry->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ini") == 0 &&
        fileProblem(report, dir + name).empty()) {
      names.push_back(name);
    }
  }
  closedir(directory);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

const char kLinkOutFix[] =
    "put the file itself into the package directory (a link may point inside it)";

bool linksOutOfPackage(const CheckReport& report, const std::string& path, std::string* link,
                       std::string* target) {
  const std::string& dir = report.info.launcherDir;
  std::string packageDir = realPath(dir);
  if (packageDir.empty() || path.compare(0, dir.size(), dir) != 0) return false;
  std::string at = dir;
  size_t from = dir.size();
  while (from < path.size()) {
    size_t end = path.find('/', from);
    if (end == std::string::npos) end = path.size();
    std::string name = path.substr(from, end - from);
    from = end + 1;
    if (name.empty() || name == ".") continue;
    at += (at.back() == '/' ? "" : "/") + name;
    struct stat st;
    if (lstat(at.c_str(), &st) != 0) return false;
    if (!S_ISLNK(st.st_mode)) continue;
    std::string points = linkTarget(at);
    std::string resolved = realPath(at);
    // A link that leads nowhere leads out when it names an absolute path
    // out of the package.
    if (resolved.empty()) resolved = !points.empty() && points[0] == '/' ? points : packageDir;
    if (!isInside(resolved, packageDir)) {
      *link = at;
      *target = points;
      return true;
    }
  }
  return false;
}

std::string linkOutMessage(const std::string& link, const std::string& target) {
  return link + " is a symbolic link leading out of the package directory, to " + target +
         ": a package ships the link, not the file, so launcher-check neither reads nor "
         "shows it";
}

FILE* openPackageIni(const CheckReport& report, std::string* link, std::string* target) {
  if (linksOutOfPackage(report, report.iniPath, link, target)) return nullptr;
  FILE* file = openRegularFile(report.iniPath);
  if (!file) return nullptr;
  // The file opened is the one to judge: a link swapped in since the look
  // is caught here, before a byte is read.
  std::string opened = linkTarget("/proc/self/fd/" + std::to_string(fileno(file)));
  std::string packageDir = realPath(report.info.launcherDir);
  if (!opened.empty() && !packageDir.empty() && !isInside(opened, packageDir)) {
    fclose(file);
    *link = report.iniPath;
    *target = opened;
    return nullptr;
  }
  return file;
}

void checkIniLinkedOut(const std::string& link, const std::string& target, CheckReport* report) {
  addProblem(report, report->iniPath, 0, CHECK_ERROR, "ini-outside-package",
             "the INI file: " + linkOutMessage(link, target), kLinkOutFix);
}

std::string fileProblem(const CheckReport& report, const std::string& path) {
  return readProblem(report.identity, path);
}

std::string programProblem(const CheckReport& report, const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return strerror(errno);
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (!isExecutableBy(report.identity, path)) return kNotExecutable;
  return runProblem(report.identity, path);
}

std::string startFix(const std::string& path, const std::string& why) {
  if (why == kNotExecutable) return "chmod 755 " + path;
  if (why.find("carriage return") != std::string::npos) {
    return "save " + path + " with LF line ends (sed -i 's/[[:cntrl:]]*$//' " + path + ")";
  }
  if (why.find("interpreter") != std::string::npos) {
    return "name an interpreter that exists on the users' machines in the #! line "
           "(e.g. #!/bin/sh)";
  }
  if (why.find("format") != std::string::npos) {
    return "a program for this machine, or a script that begins with a #! line";
  }
  if (why.find("read") != std::string::npos || why.find("search") != std::string::npos) {
    return "chmod a+rX along the package (it was perhaps unpacked with umask 077)";
  }
  return "a program the users can start at " + path;
}

void checkLauncherFile(CheckReport* report) {
  const std::string& launcherPath = report->info.launcherFullPath;
  std::string why = programProblem(*report, launcherPath);
  if (why.empty()) return;
  bool missing = !isFileExist(launcherPath) || why == "not a regular file";
  addProblem(report, launcherPath, 0, CHECK_ERROR,
             missing ? "launcher-missing" : "launcher-not-executable",
             "the launcher " + launcherPath + ": " + why,
             missing ? "copy the launcher program there" : startFix(launcherPath, why));
}

void checkIniMissing(CheckReport* report) {
  const LauncherInfo& info = report->info;
  std::string expected = info.launcherName + ".ini";
  std::vector<std::string> others = otherIniNames(*report, info.launcherDir);
  if (!others.empty()) {
    const std::string& other = others[0];
    std::string otherName = other.substr(0, other.size() - 4);
    addProblem(report, report->iniPath, 0, CHECK_ERROR, "ini-other-name",
               "there is no " + expected + ", but " + other + " lies beside "
               "the launcher: the launcher named " + info.launcherFile +
                   " reads " + expected + ", so every run ends with status 1",
               "rename " + other + " to " + expected + ", or the launcher to " +
                   otherName);
    return;
  }
  addProblem(report, report->iniPath, 0, CHECK_ERROR, "ini-missing",
             "the INI file cannot be read: " + fileProblem(*report, report->iniPath) +
                 "; every run ends with status 1",
             expected + " beside " + info.launcherFile);
}

void checkIniUnreadable(const std::string& why, CheckReport* report) {
  addProblem(report, report->iniPath, 0, CHECK_ERROR, "ini-not-readable",
             "the INI file cannot be read by " + identityText(report->identity) +
                 ": " + why + "; every run ends with status 1",
             "chmod a+r " + report->iniPath +
                 ", and a+x on the directories above it (a package unpacked "
                 "with umask 077 keeps other users out)");
}

void checkPackageFiles(const KeyLines& keyLine, CheckReport* report) {
  checkInstaller(keyLine, report);
  checkInputFile(keyLine, report);
}
