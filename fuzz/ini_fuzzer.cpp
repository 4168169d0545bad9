// The launcher INI reader on arbitrary file content.
#include "fuzz_common.h"
#include "install.h"

namespace {

// Every stored value comes from one piece of at most 254 bytes, cut at its
// newline.
bool isPieceValue(const std::string& value) {
  return value.size() < 255 && value.find('\n') == std::string::npos;
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
    fuzz::check(isPieceValue(*value), "INI value within one piece");
  }
  // Each ARG line is one piece of at least "ARG=" plus a line end or the
  // 254-byte cut, so the lists can never outnumber the file's bytes / 4.
  fuzz::check((ini.iniInstallerArgs.size() + ini.iniManagerArgs.size()) * 4 <=
                  size,
              "no more ARG entries than ARG lines");
  return 0;
}
