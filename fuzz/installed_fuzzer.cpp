// The reader of the agent's installed-packages file (the package version).
#include "fuzz_common.h"
#include "install.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = fuzz::writeFile("installed.xml", data, size);
  std::string version = "stale";
  fuzz::check(getQRVersion(path, &version) == 0, "the reader returns 0");
  fuzz::check(version.find('\'') == std::string::npos &&
                  version.find('\n') == std::string::npos,
              "version ends before its closing quote");
  // "version='", the version and its closing quote lie in one line of the
  // file.
  fuzz::check(version.empty() || version.size() + sizeof "version='" <= size,
              "version fits in a line of the file");
  if (!version.empty()) {
    std::string text(reinterpret_cast<const char*>(data), size);
    fuzz::check(text.find("version='" + version + "'") != std::string::npos,
                "version is quoted in the file");
  }
  return 0;
}
