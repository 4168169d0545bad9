#include "probe.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "files.h"
#include "keyList.h"
#include "log.h"
#include "trust.h"
#include "utilities.h"
#include "utilitiesLinux.h"

namespace {

const char kLocationKey[] = "location";
const char kDataLocationLine[] = "zel.appDataLocation";

struct Placeholder {
  const char* text;
  int (*directory)(std::string* dst, const LauncherInfo& info, int isUserAdmin);
};

int documentDir(std::string* dst, const LauncherInfo&, int) {
  return getMyDocumentDir(dst);
}
int homeDir(std::string* dst, const LauncherInfo&, int) { return getHomeDir(dst); }
int profileDir(std::string* dst, const LauncherInfo&, int) {
  return getProfileDir(dst);
}
int launcherDirectory(std::string* dst, const LauncherInfo& info, int) {
  *dst = info.launcherDir;
  return 0;
}
int appDataDir(std::string* dst, const LauncherInfo&, int isUserAdmin) {
  return getAppDataDir(dst, isUserAdmin);
}

const char kCurrentDirPlaceholder[] = "<CURRDIR>";

const Placeholder kPlaceholders[] = {
    {"<My Documents>", documentDir}, {"<HOME>", homeDir},
    {"<PROFILE>", profileDir},       {kCurrentDirPlaceholder, launcherDirectory},
    {"<APPDATA>", appDataDir},
};

// The location key as the key functions take it, and its type. *inPackage
// (when given): a relative machine key, which lies in the package directory.
std::string locationKeyName(const LauncherInfo& info, const IniSettings& ini,
                            int isUserAdmin, int* keyType, bool* inPackage) {
  *keyType = isUserAdmin ? KEY_TYPE_MACHINE : KEY_TYPE_USER;
  std::string keyName = ini.iniManagerLocationKey;
  // A relative machine key would be read from the working directory,
  // which root may start the launcher from without owning it.
  bool relative = *keyType == KEY_TYPE_MACHINE && !isFileAbsolute(keyName);
  if (relative) keyName = joinPath(info.launcherDir, keyName);
  if (inPackage) *inPackage = relative;
  return keyName;
}

// The reference file's path, its placeholder expanded. Returns 0, or -1 when
// it cannot be formed. *inPackage (when given): its name relative to the
// package directory when it lies there, else empty.
int referenceFilePath(const LauncherInfo& info, const IniSettings& ini,
                      int isUserAdmin, std::string* path, std::string* inPackage) {
  std::string unused;
  if (!inPackage) inPackage = &unused;
  inPackage->clear();
  const char* placeholder = nullptr;
  if (parseSystemValue(path, ini.iniManagerLocationFile, info, isUserAdmin,
                       &placeholder) != 0) {
    return -1;
  }
  // Still relative: the package's directory, as for LOCATION, never the
  // working directory. <CURRDIR> already was the package's directory.
  bool currDir = placeholder && strcmp(placeholder, kCurrentDirPlaceholder) == 0;
  const std::string& src = ini.iniManagerLocationFile;
  if (!isFileAbsolute(*path) && !currDir) {
    *inPackage = *path;
    *path = joinPath(info.launcherDir, *path);
  } else if (currDir && src.compare(0, strlen(kCurrentDirPlaceholder),
                                    kCurrentDirPlaceholder) == 0) {
    size_t start = src.find_first_not_of('/', strlen(kCurrentDirPlaceholder));
    *inPackage = start == std::string::npos ? "." : src.substr(start);
  }
  return 0;
}

// Opens a file that decides where the agent is or which version it has. One
// that root's rule refuses counts as missing, with a line in the log.
FILE* openProbed(int dirFd, const std::string& path, const std::string& shown,
                 ProbeTrace* trace) {
  std::string why;
  FILE* file = openDecidingFile(dirFd, path, &why);
  if (!file && !why.empty()) {
    logNotTrusted(shown, why);
    trace->untrustedFile = shown;
    trace->untrustedReason = why;
  }
  return file;
}

// A file of the package, `name` relative to its directory: read through the
// handle the launcher found itself in, never by a name someone may swap.
FILE* openInPackage(const std::string& name, const std::string& shown,
                    ProbeTrace* trace) {
  int dirFd = packageDirectory();
  return dirFd >= 0 ? openProbed(dirFd, name, shown, trace)
                    : openProbed(AT_FDCWD, shown, shown, trace);
}

void readLocation(FILE* file, std::string* dst) {
  getProperty(file, kLocationKey, dst);
  if (file) fclose(file);
}

}  // namespace

void getInstalledAgentInfo(const LauncherInfo& info, const IniSettings& ini,
                           const Settings& settings, AgentInfo* agent,
                           ProbeTrace* trace) {
  ProbeTrace unused;
  if (!trace) trace = &unused;
  logSection("Get Installed Agent Info");
  logValue("iniManagerLocationKey", ini.iniManagerLocationKey);
  logValue("iniManagerLocationFile", ini.iniManagerLocationFile);
  logValue("isAdmin()", isAdmin());
  logValue("isUserAdmin", settings.isUserAdmin);

  if (!ini.iniManagerLocationKey.empty()) {
    int keyType;
    bool inPackage;
    std::string keyName =
        locationKeyName(info, ini, settings.isUserAdmin, &keyType, &inPackage);
    trace->locationSource = "key";
    trace->keyType = keyType;
    if (getRegKeyPath(keyName, keyType, &trace->keyFile) == 0) {
      readLocation(inPackage ? openInPackage(ini.iniManagerLocationKey, trace->keyFile, trace)
                             : openProbed(AT_FDCWD, trace->keyFile, trace->keyFile, trace),
                   &agent->refLocation);
    }
    logLine("Get current agent location from Registry: \n");
    logValue("iniManagerLocationKey", ini.iniManagerLocationKey);
  } else if (!ini.iniManagerLocationFile.empty()) {
    std::string referenceFile;
    trace->locationSource = "file";
    std::string inPackage;  // the name relative to the package, when there
    if (referenceFilePath(info, ini, settings.isUserAdmin, &referenceFile,
                          &inPackage) == 0) {
      trace->keyFile = referenceFile;
      readLocation(inPackage.empty()
                       ? openProbed(AT_FDCWD, referenceFile, referenceFile, trace)
                       : openInPackage(inPackage, referenceFile, trace),
                   &agent->refLocation);
    }
    logLine("Get current agent location from Reference File: \n");
    logValue("refFile", referenceFile);
  }
  agent->refVersion = getInstalledQRVersion(agent->refLocation, trace);
}

int getLocationFilePath(const LauncherInfo& info, const IniSettings& ini,
                        int isUserAdmin, std::string* path) {
  path->clear();
  if (!ini.iniManagerLocationKey.empty()) {
    int keyType;
    std::string keyName = locationKeyName(info, ini, isUserAdmin, &keyType, nullptr);
    if (getRegKeyPath(keyName, keyType, path) == 0) return 0;
    path->clear();
    return -1;
  }
  if (ini.iniManagerLocationFile.empty()) return -1;
  return referenceFilePath(info, ini, isUserAdmin, path, nullptr);
}

int parseSystemValue(std::string* dst, const std::string& src,
                     const LauncherInfo& info, int isUserAdmin,
                     const char** expanded) {
  if (expanded) *expanded = nullptr;
  for (const Placeholder& placeholder : kPlaceholders) {
    if (src.find(placeholder.text) == std::string::npos) continue;
    if (expanded) *expanded = placeholder.text;
    std::string directory;
    if (placeholder.directory(&directory, info, isUserAdmin) != 0) {
      // Without a home directory a per-user path cannot be formed; reading
      // "/a/..." instead would look in the wrong place.
      dst->clear();
      return -1;
    }
    *dst = replace(src, placeholder.text, directory);
    return 0;
  }
  *dst = src;
  return 0;
}

const char* const* referencePlaceholders(int* count) {
  static const char* const kTexts[] = {
      kPlaceholders[0].text, kPlaceholders[1].text, kPlaceholders[2].text,
      kPlaceholders[3].text, kPlaceholders[4].text};
  static_assert(sizeof kTexts / sizeof kTexts[0] ==
                    sizeof kPlaceholders / sizeof kPlaceholders[0],
                "every placeholder is listed");
  *count = static_cast<int>(sizeof kTexts / sizeof kTexts[0]);
  return kTexts;
}

std::string getInstalledQRVersion(const std::string& location,
                                  ProbeTrace* trace) {
  ProbeTrace unused;
  if (!trace) trace = &unused;
  logLine("Get Installed QR Version: \n");
  logValue("qrLocatoin", location);
  if (location.empty()) return std::string();

  std::string base = location;
  removeTrailSlash(&base);
  std::string configFile = base + "/eclipse/configuration/config.ini";
  logValue("configFile", configFile);
  trace->configFile = configFile;

  std::string raw;
  FILE* config = openProbed(AT_FDCWD, configFile, configFile, trace);
  getAppDataDir(config, &raw);
  if (config) fclose(config);
  if (raw.empty()) return std::string();
  std::string dataDir = removeDoubleSlash(removeDriveLetterSlash(raw));
  removeTrailSlash(&dataDir);
  logValue("appDataDir", dataDir);
  trace->appDataDir = dataDir;
  if (dataDir.empty()) return std::string();

  std::string xmlFile = dataDir + "/installed.xml";
  logValue("installedXMLFile", xmlFile);
  trace->installedXMLFile = xmlFile;
  std::string version;
  FILE* xml = openProbed(AT_FDCWD, xmlFile, xmlFile, trace);
  getQRVersion(xml, &version);
  if (xml) fclose(xml);
  logValue("currVersion", version);
  return version;
}

int getAppDataDir(const std::string& configFile, std::string* dst) {
  FILE* file = openDecidingFile(configFile);
  getAppDataDir(file, dst);
  if (file) fclose(file);
  return 0;
}

int getAppDataDir(FILE* file, std::string* dst) {
  if (!file) return 0;
  dst->clear();
  std::string line;
  while (readLine(file, &line)) {
    if (line[0] == '#') continue;
    if (line.compare(0, strlen(kDataLocationLine), kDataLocationLine) != 0) continue;
    size_t equals = line.find('=');
    if (equals == std::string::npos) break;
    dst->assign(line, equals + 1, std::string::npos);
  }
  return 0;
}

int getQRVersion(const std::string& xmlFile, std::string* dst) {
  FILE* file = openDecidingFile(xmlFile);
  getQRVersion(file, dst);
  if (file) fclose(file);
  return 0;
}

int getQRVersion(FILE* file, std::string* dst) {
  if (!file) return 0;
  dst->clear();
  const std::string idAttribute = std::string("id='") + kAgentPackageId + "'";
  const std::string versionAttribute = "version='";
  std::string line;
  while (readLine(file, &line)) {
    if (line.find(idAttribute) == std::string::npos ||
        line.find("<package") == std::string::npos) {
      continue;
    }
    size_t start = line.find(versionAttribute);
    if (start == std::string::npos) continue;
    start += versionAttribute.size();
    size_t end = line.find('\'', start);
    if (end == std::string::npos) continue;
    dst->assign(line, start, end - start);
    break;
  }
  return 0;
}

int isAgentProgramUsable(const std::string& path, std::string* why) {
  std::string refusal;
  if (!why) why = &refusal;
  why->clear();
  if (!isTrustEnforced()) return isFileExist(path);
  int fd = openTrusted(AT_FDCWD, path, O_PATH, why);
  if (fd < 0) {
    if (!why->empty()) logNotTrusted(path, *why);
    return 0;
  }
  close(fd);
  return 1;
}

int compareQRVersion(const std::string& lhs, const std::string& rhs) {
  int numbers = compareVersionNumbers(lhs, rhs);
  if (numbers != 0) return numbers;
  std::string lq = versionQualifier(lhs), rq = versionQualifier(rhs);
  if (lq == rq) return 0;
  // A beta is older than any release of the same number.
  if (lq == "beta") return -1;
  if (rq == "beta") return 1;
  return strcmp(lq.c_str(), rq.c_str());
}

bool isAgentSufficient(const AgentInfo& agent, const IniSettings& ini) {
  return !agent.refVersion.empty() &&
         compareQRVersion(agent.refVersion, ini.iniManagerVersion) >= 0;
}
