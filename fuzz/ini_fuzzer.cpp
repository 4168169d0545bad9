// The launcher INI reader on arbitrary file content.
#include "fuzz_common.h"
#include "install.h"

namespace {

// Every stored value comes from one whole line: it never holds a line end,
// and it is never longer than the file.
bool isLineValue(const std::string& value, size_t size) {
  return value.size() <= size && value.find('\n') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = fuzz::writeFile("setup.ini", data, size);
  IniSettings ini;
  fuzz::check(processINI(path, &ini) == 1, "an existing INI file is read");
  fuzz::check(ini.mode >= MODE_INSTALL && ini.mode <= MODE_EXTENSION,
              "launch mode is one of the three");
  for (const std::string* value :
       {&ini.iniInstallerLocation, &ini.iniLicenseAccepted,
        &ini.iniManagerLocationKey, &ini.iniManagerLocationFile,
        &ini.iniManagerVersion, &ini.iniManagerLauncher,
        &ini.iniManagerLauncherSilent, &ini.iniManagerInput, &ini.iniMode,
        &ini.iniSilent, &ini.iniIsAdmin, &ini.iniAppDataLocation, &ini.iniNL}) {
    fuzz::check(isLineValue(*value, size), "INI value within one line");
  }
  // Each ARG line holds at least "ARG=", so the lists can never outnumber
  // the file's bytes / 4.
  fuzz::check((ini.iniInstallerArgs.size() + ini.iniManagerArgs.size()) * 4 <=
                  size,
              "no more ARG entries than ARG lines");
  return 0;
}
