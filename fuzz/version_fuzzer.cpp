// The version parser and both comparisons: no crash or overflow on any text,
// and the comparisons behave as orderings.
#include "fuzz_common.h"
#include "install.h"
#include "utilities.h"

namespace {

int sign(int value) { return (value > 0) - (value < 0); }

void checkParse(const std::string& text) {
  int major = -7, minor = -7, micro = -7;
  std::string qualifier = "stale";
  fuzz::check(parseVersion(text, &major, &minor, &micro, &qualifier) == 0,
              "parseVersion returns 0");
  size_t dots = 0;
  for (char c : text) dots += c == '.';
  if (dots < 3) {
    fuzz::check(qualifier.empty(), "no qualifier before the third dot");
  } else {
    fuzz::check(text.size() >= qualifier.size() &&
                    text.compare(text.size() - qualifier.size(),
                                 qualifier.size(), qualifier) == 0,
                "the qualifier is the end of the text");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> parts = fuzz::splitAtNul(data, size);
  parts.resize(3);
  const std::string& a = parts[0];
  const std::string& b = parts[1];
  const std::string& c = parts[2];
  checkParse(a);

  fuzz::check(compareVersion(a, a) == 0, "compareVersion(x, x) == 0");
  fuzz::check(compareQRVersion(a, a) == 0, "compareQRVersion(x, x) == 0");
  fuzz::check(sign(compareVersion(a, b)) == -sign(compareVersion(b, a)),
              "compareVersion is antisymmetric");
  int ab = sign(compareQRVersion(a, b));
  int bc = sign(compareQRVersion(b, c));
  fuzz::check(ab == -sign(compareQRVersion(b, a)),
              "compareQRVersion is antisymmetric");
  // Whether an installed agent suffices must not depend on the order in
  // which versions happen to be compared.
  if (ab <= 0 && bc <= 0) {
    fuzz::check(sign(compareQRVersion(a, c)) <= 0, "compareQRVersion is transitive");
  }
  return 0;
}
