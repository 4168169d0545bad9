// The reader of the agent configuration file (the data-directory line), and
// the clean-ups its value goes through.
#include "fuzz_common.h"
#include "install.h"
#include "utilities.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = fuzz::writeFile("config.ini", data, size);
  std::string raw = "stale";
  fuzz::check(getAppDataDir(path, &raw) == 0, "the reader returns 0");
  // The value is what follows the '=' of a line that starts with the key.
  fuzz::check(raw.empty() || raw.size() + sizeof "zel.appDataLocation" <= size + 1,
              "value shorter than a line less its key");
  fuzz::check(raw.find('\n') == std::string::npos, "value ends at the line end");
  if (!raw.empty()) {
    fuzz::check(std::string(reinterpret_cast<const char*>(data), size)
                        .find(raw) != std::string::npos,
                "value comes from the file");
  }
  std::string dataDir = removeDoubleSlash(removeDriveLetterSlash(raw));
  removeTrailSlash(&dataDir);
  fuzz::check(dataDir.size() <= raw.size(), "clean-ups never lengthen");
  return 0;
}
