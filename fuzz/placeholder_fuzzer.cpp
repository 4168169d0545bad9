// Placeholder expansion of reference-file paths and the replace it rests on.
// Input: one flag byte, then the path, the launcher directory, $HOME and a
// search text, separated by NUL bytes.
#include <cstdlib>

#include "fuzz_common.h"
#include "install.h"
#include "utilities.h"
#include "utilitiesLinux.h"

namespace {

const char* const kPlaceholders[] = {"<My Documents>", "<HOME>", "<PROFILE>",
                                     "<CURRDIR>", "<APPDATA>"};

void checkReplace(const std::string& text, const std::string& search,
                  const std::string& with) {
  std::string result = replace(text, search, with);
  size_t at = search.empty() ? std::string::npos : text.find(search);
  if (at == std::string::npos) {
    fuzz::check(result == text, "replace without a match copies");
    return;
  }
  fuzz::check(result.size() == text.size() - search.size() + with.size() &&
                  result.compare(0, at, text, 0, at) == 0 &&
                  result.compare(at, with.size(), with) == 0 &&
                  result.compare(at + with.size(), std::string::npos, text,
                                 at + search.size(), std::string::npos) == 0,
              "replace swaps the first occurrence only");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int isUserAdmin = data[0] & 1;
  const bool homeUnset = (data[0] & 2) != 0;
  std::vector<std::string> parts = fuzz::splitAtNul(data + 1, size - 1);
  parts.resize(4);
  const std::string& src = parts[0];
  LauncherInfo info;
  info.launcherDir = parts[1];
  if (homeUnset) {
    unsetenv("HOME");
  } else {
    setenv("HOME", parts[2].c_str(), 1);
  }
  checkReplace(src, parts[3], parts[1]);

  std::string dst = "stale";
  int result = parseSystemValue(&dst, src, info, isUserAdmin);
  for (const char* placeholder : kPlaceholders) {
    if (src.find(placeholder) == std::string::npos) continue;
    std::string directory;
    int found = 0;
    if (std::string(placeholder) == "<CURRDIR>") {
      directory = info.launcherDir;
    } else if (std::string(placeholder) == "<APPDATA>" && isUserAdmin) {
      directory = "/etc";
    } else {
      found = getHomeDir(&directory);
    }
    if (found != 0) {
      fuzz::check(result == -1 && dst.empty(), "no home: nothing to read");
    } else {
      fuzz::check(result == 0 && dst == replace(src, placeholder, directory),
                  "only the first placeholder of the list is expanded");
    }
    return 0;
  }
  fuzz::check(result == 0 && dst == src, "a path without placeholders is kept");
  return 0;
}
