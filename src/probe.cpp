#include "probe.h"

#include <cstring>

#include "files.h"
#include "keyList.h"
#include "log.h"
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

// The location key as the key functions take it, and its type.
std::string locationKeyName(const LauncherInfo& info, const IniSettings& ini,
                            int isUserAdmin, int* keyType) {
  *keyType = isUserAdmin ? KEY_TYPE_MACHINE : KEY_TYPE_USER;
  std::string keyName = ini.iniManagerLocationKey;
  // A relative machine key would be read from the working directory,
  // which root may start the launcher from without owning it.
  if (*keyType == KEY_TYPE_MACHINE && !isFileAbsolute(keyName)) {
    keyName = joinPath(info.launcherDir, keyName);
  }
  return keyName;
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
    std::string keyName = locationKeyName(info, ini, settings.isUserAdmin, &keyType);
    trace->locationSource = "key";
    trace->keyType = keyType;
    getRegKeyPath(keyName, keyType, &trace->keyFile);
    getRegValue(keyName, keyType, kLocationKey, &agent->refLocation);
    logLine("Get current agent location from Registry: \n");
    logValue("iniManagerLocationKey", ini.iniManagerLocationKey);
  } else if (!ini.iniManagerLocationFile.empty()) {
    std::string referenceFile;
    trace->locationSource = "file";
    if (getLocationFilePath(info, ini, settings.isUserAdmin, &referenceFile) == 0) {
      trace->keyFile = referenceFile;
      getProperty(referenceFile, kLocationKey, &agent->refLocation);
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
    std::string keyName = locationKeyName(info, ini, isUserAdmin, &keyType);
    if (getRegKeyPath(keyName, keyType, path) == 0) return 0;
    path->clear();
    return -1;
  }
  if (ini.iniManagerLocationFile.empty()) return -1;
  const char* placeholder = nullptr;
  if (parseSystemValue(path, ini.iniManagerLocationFile, info, isUserAdmin,
                       &placeholder) != 0) {
    return -1;
  }
  // Still relative: the package's directory, as for LOCATION, never the
  // working directory. <CURRDIR> already was the package's directory.
  if (!isFileAbsolute(*path) &&
      (!placeholder || strcmp(placeholder, kCurrentDirPlaceholder) != 0)) {
    *path = joinPath(info.launcherDir, *path);
  }
  return 0;
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
  getAppDataDir(configFile, &raw);
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
  getQRVersion(xmlFile, &version);
  logValue("currVersion", version);
  return version;
}

int getAppDataDir(const std::string& configFile, std::string* dst) {
  FILE* file = openRegularFile(configFile);
  if (!file) return 0;
  dst->clear();
  std::string piece;
  while (readPiece(file, &piece)) {
    if (piece[0] == '#') continue;
    if (piece.compare(0, strlen(kDataLocationLine), kDataLocationLine) != 0) continue;
    size_t equals = piece.find('=');
    if (equals == std::string::npos) break;
    dst->assign(piece, equals + 1, std::string::npos);
  }
  fclose(file);
  return 0;
}

int getQRVersion(const std::string& xmlFile, std::string* dst) {
  FILE* file = openRegularFile(xmlFile);
  if (!file) return 0;
  dst->clear();
  const std::string idAttribute = std::string("id='") + kAgentPackageId + "'";
  const std::string versionAttribute = "version='";
  std::string piece;
  while (readPiece(file, &piece)) {
    if (piece.find(idAttribute) == std::string::npos ||
        piece.find("<package") == std::string::npos) {
      continue;
    }
    size_t start = piece.find(versionAttribute);
    if (start == std::string::npos) continue;
    start += versionAttribute.size();
    size_t end = piece.find('\'', start);
    if (end == std::string::npos) continue;
    dst->assign(piece, start, end - start);
    break;
  }
  fclose(file);
  return 0;
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
