// Where the installed agent is and which version it is, read from the
// location key or reference file and from the agent's own files; and
// whether that version satisfies the package.
#ifndef LAUNCHER_PROBE_H_
#define LAUNCHER_PROBE_H_

#include <cstdio>
#include <string>

#include "records.h"

// Each place one probe looked, for a tool that explains a package. Empty
// fields were not reached.
struct ProbeTrace {
  std::string locationSource;  // "key", "file" or "" (neither configured)
  int keyType = 0;             // KEY_TYPE_USER or KEY_TYPE_MACHINE for a key
  std::string keyFile;         // the file the location was read from (a
                               // relative machine key or reference file
                               // joined to the launcher's directory)
  std::string configFile;      // the agent's configuration file
  std::string appDataDir;      // the data directory it names
  std::string installedXMLFile;
  // A file that root's rule refused, so it counted as missing, and why
  // ("/tmp/x is owned by uid 65534"); empty when none was.
  std::string untrustedFile;
  std::string untrustedReason;
};

void getInstalledAgentInfo(const LauncherInfo& info, const IniSettings& ini,
                           const Settings& settings, AgentInfo* agent,
                           ProbeTrace* trace = nullptr);
// The file the probe reads the agent's location from: the location key file
// or the reference file, as admin mode `isUserAdmin` places it. Returns 0,
// or -1 (and an empty *path) when there is none: neither is configured, or
// a per-user one has no home directory to lie in.
int getLocationFilePath(const LauncherInfo& info, const IniSettings& ini,
                        int isUserAdmin, std::string* path);
// Expands the first placeholder of a reference-file path. Returns 0, or -1
// when the path cannot be formed (no home directory for a per-user
// placeholder). *expanded (when given) is the placeholder expanded, or null.
// The probe joins a path still relative to the launcher's directory, unless
// <CURRDIR> was expanded.
int parseSystemValue(std::string* dst, const std::string& src,
                     const LauncherInfo& info, int isUserAdmin,
                     const char** expanded = nullptr);
// The placeholders a reference-file path may hold, in the order they are
// looked for.
const char* const* referencePlaceholders(int* count);
// Installed agent version under `location`; empty when none.
std::string getInstalledQRVersion(const std::string& location,
                                  ProbeTrace* trace = nullptr);
// Data-directory value of the agent configuration file. Returns 0.
int getAppDataDir(const std::string& configFile, std::string* dst);
// Agent version from the installed-packages file. Returns 0.
int getQRVersion(const std::string& xmlFile, std::string* dst);
// The same two from files the caller opened (null: cannot be opened); the
// file stays open.
int getAppDataDir(FILE* file, std::string* dst);
int getQRVersion(FILE* file, std::string* dst);
// 1 when the agent program at `path` exists and, as root, root's rule
// trusts it and every directory on the way, so its path names the file that
// was checked; a refusal is logged, and *why (when given) says it.
int isAgentProgramUsable(const std::string& path, std::string* why = nullptr);
int compareQRVersion(const std::string& lhs, const std::string& rhs);
// Sufficient when a version was found and it is not older than required.
bool isAgentSufficient(const AgentInfo& agent, const IniSettings& ini);

#endif  // LAUNCHER_PROBE_H_
