// The separator clean-ups applied to directory values written by the agent.
#include "fuzz_common.h"
#include "utilities.h"

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

std::string withoutSeparators(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (!isSeparator(c)) result += c;
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string src(reinterpret_cast<const char*>(data), size);

  std::string drive = removeDriveLetterSlash(src);
  fuzz::check(drive.size() == src.size() || drive.size() + 1 == src.size(),
              "removeDriveLetterSlash drops at most one character");

  std::string single = removeDoubleSlash(src);
  fuzz::check(single.size() <= src.size(), "removeDoubleSlash never lengthens");
  fuzz::check(withoutSeparators(single) == withoutSeparators(src),
              "removeDoubleSlash drops separators only");
  bool adjacent = false;
  for (size_t i = 1; i < src.size(); ++i) {
    adjacent = adjacent || (isSeparator(src[i - 1]) && isSeparator(src[i]));
  }
  if (!adjacent) fuzz::check(single == src, "a clean path is left alone");

  std::string trail = src;
  removeTrailSlash(&trail);
  fuzz::check(trail.size() == src.size() ||
                  (trail.size() + 1 == src.size() && isSeparator(src.back())),
              "removeTrailSlash drops one final separator");
  fuzz::check(src.compare(0, trail.size(), trail) == 0,
              "removeTrailSlash keeps the front");
  return 0;
}
