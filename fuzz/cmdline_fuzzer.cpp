// The command-line parser on arbitrary arguments (the input split at NUL
// bytes), checked against a small model of the option rules.
#include <initializer_list>

#include "fuzz_common.h"
#include "install.h"

namespace {

bool isOneOf(const std::string& arg, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (arg == name) return true;
  }
  return false;
}

// What the parser should make of `args`; false when a help form is reached
// in the normal state, where the real parser ends the process.
bool model(const std::vector<std::string>& args, CmdSettings* out) {
  std::vector<std::string>* collecting = nullptr;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-installerArgs") {
      collecting = &out->argInstallerArgs;
    } else if (arg == "-managerArgs") {
      collecting = &out->argManagerArgs;
    } else if (collecting) {
      collecting->push_back(arg);
    } else if (isOneOf(arg, {"-help", "--help", "-h", "-?", "/help", "/?"})) {
      return false;
    } else if (isOneOf(arg, {"-input", "-appDataLocation", "-nl", "-log"})) {
      if (i + 1 >= args.size()) continue;
      const std::string& value = args[++i];
      if (arg == "-input") out->argInputFile = value;
      if (arg == "-appDataLocation") out->argAppDataLocation = value;
      if (arg == "-nl") out->argNL = value;
      if (arg == "-log") {
        out->argLogFile = value;
        out->isDebug = 1;
      }
    } else if (arg == "-silent") {
      out->argIsSilent = 1;
    } else if (arg == "-wait") {
      out->isWait = 1;
    } else if (arg == "-isAdmin") {
      out->argIsUserAdmin = 1;
    } else if (arg == "-licenseAccepted") {
      out->argLicenseAccepted = 1;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args = fuzz::splitAtNul(data, size);
  args.insert(args.begin(), "/opt/pkg/setup");
  CmdSettings expected;
  if (!model(args, &expected)) return 0;

  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  CmdSettings cmd;
  fuzz::check(parseCmdlineArg(static_cast<int>(args.size()), argv.data(),
                              &cmd) == 1,
              "parsing always succeeds");
  fuzz::check(cmd.argInputFile == expected.argInputFile &&
                  cmd.argAppDataLocation == expected.argAppDataLocation &&
                  cmd.argNL == expected.argNL &&
                  cmd.argLogFile == expected.argLogFile,
              "value options as modelled");
  fuzz::check(cmd.isDebug == expected.isDebug &&
                  cmd.argIsSilent == expected.argIsSilent &&
                  cmd.isWait == expected.isWait &&
                  cmd.argIsUserAdmin == expected.argIsUserAdmin &&
                  cmd.argLicenseAccepted == expected.argLicenseAccepted,
              "flags as modelled");
  fuzz::check(cmd.argInstallerArgs == expected.argInstallerArgs &&
                  cmd.argManagerArgs == expected.argManagerArgs,
              "collected arguments as modelled");
  return 0;
}
