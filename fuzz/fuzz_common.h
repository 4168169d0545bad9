// Shared plumbing of the fuzz targets: a private scratch directory, input
// files written into it, and the input split into NUL-separated texts.
#ifndef LAUNCHER_FUZZ_COMMON_H_
#define LAUNCHER_FUZZ_COMMON_H_

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz {

// A directory of this process only, under $TMPDIR, made on first use. The
// file readers under test take paths, so every input goes through it. It is
// not removed here (a crash would skip that anyway): scripts/fuzz.sh points
// TMPDIR at a directory of its own and removes that.
inline const std::string& scratchDir() {
  static const std::string dir = [] {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") +
                          "/launcher-fuzz-XXXXXX";
    if (!mkdtemp(&pattern[0])) {
      perror("mkdtemp");
      abort();
    }
    return pattern;
  }();
  return dir;
}

// Writes the bytes to `name` in the scratch directory and returns its path.
inline std::string writeFile(const std::string& name, const uint8_t* data,
                             size_t size) {
  std::string path = scratchDir() + "/" + name;
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) {
    perror(path.c_str());
    abort();
  }
  if (size > 0 && fwrite(data, 1, size, file) != size) abort();
  if (fclose(file) != 0) abort();
  return path;
}

// The input as texts separated by NUL bytes: every command-line argument and
// every line of a file reaches the launcher as a C string, so no text here
// holds a NUL itself.
inline std::vector<std::string> splitAtNul(const uint8_t* data, size_t size) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      parts.emplace_back();
    } else {
      parts.back() += static_cast<char>(data[i]);
    }
  }
  return parts;
}

// Ends the run as a finding, with the reason on stderr.
inline void fail(const char* what) {
  fprintf(stderr, "property violated: %s\n", what);
  abort();
}

inline void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

}  // namespace fuzz

#endif  // LAUNCHER_FUZZ_COMMON_H_
