// The path functions on arbitrary texts, and the command search on arbitrary
// names. Input: the path, then optionally a NUL and a value for $PATH.
#include <cstdlib>

#include "fuzz_common.h"
#include "utilities.h"

namespace {

bool isPrefix(const std::string& prefix, const std::string& text) {
  return text.compare(0, prefix.size(), prefix) == 0 && prefix.size() <= text.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> parts = fuzz::splitAtNul(data, size);
  const std::string& path = parts[0];

  std::string dir = dirName(path);
  std::string base = baseName(path);
  fuzz::check(dir + base == path, "dirName(p) + baseName(p) == p");
  fuzz::check(dir.empty() || dir.back() == '/', "dirName ends with '/'");
  fuzz::check(base.find('/') == std::string::npos, "baseName holds no '/'");

  std::string parent = parentDirName(path);
  fuzz::check(isPrefix(parent, dir) && (parent.empty() || parent.back() == '/'),
              "parentDirName is a directory above");
  fuzz::check(parent.empty() || parent.size() < dir.size(),
              "parentDirName is shorter than dirName");

  std::string name = removeSuffix(base);
  fuzz::check(isPrefix(name, base), "removeSuffix keeps the front");
  if (name != base) {
    fuzz::check(base[name.size()] == '.' && name.size() + 1 < base.size() &&
                    base.find('.', name.size() + 1) == std::string::npos,
                "removeSuffix cuts at the last dot only");
  }

  // The command search stats whatever it is given; it must answer an
  // existing path or nothing.
  static const std::string originalPath = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", parts.size() > 1 ? parts[1].c_str() : originalPath.c_str(), 1);
  std::string found = findCommand(path);
  fuzz::check(found.empty() || isFileExist(found) == 1,
              "findCommand finds existing files only");
  return 0;
}
