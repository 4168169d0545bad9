#include "files.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "trust.h"

namespace {

// O_NONBLOCK keeps the open itself from waiting for a FIFO's writer.
const int kReadFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;

FILE* streamOfRegularFile(int fd) {
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  FILE* file = fdopen(fd, "r");
  if (!file) close(fd);
  return file;
}

}  // namespace

FILE* openRegularFile(const std::string& path) {
  return openRegularFileAt(AT_FDCWD, path);
}

FILE* openRegularFileAt(int dirFd, const std::string& path) {
  return streamOfRegularFile(openat(dirFd, path.c_str(), kReadFlags));
}

FILE* openDecidingFile(int dirFd, const std::string& path, std::string* why) {
  return streamOfRegularFile(openTrusted(dirFd, path, kReadFlags, why));
}

FILE* openDecidingFile(const std::string& path) {
  std::string why;
  return openDecidingFile(AT_FDCWD, path, &why);
}

bool readLine(FILE* file, std::string* line) {
  line->clear();
  int c = getc_unlocked(file);
  if (c == EOF) return false;
  bool ended = false, tooLong = false;
  for (; c != EOF && c != '\n'; c = getc_unlocked(file)) {
    if (c == '\0') ended = true;
    if (ended || tooLong) continue;
    if (line->size() == kMaxLineBytes) {
      tooLong = true;
      continue;
    }
    line->push_back(static_cast<char>(c));
  }
  if (tooLong) line->clear();
  return true;
}

int mkdir_p(const std::string& path, int permissions) {
  static const int kBits[] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP,
                              S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
  mode_t mode = 0;
  for (int bit : kBits) {
    if (permissions & bit) mode |= bit;
  }
  size_t current = path.find('/');
  if (current == std::string::npos) return 0;
  while (path.size() - current > 1) {
    size_t next = path.find('/', current + 1);
    std::string prefix = path.substr(0, next);
    struct stat st;
    if (stat(prefix.c_str(), &st) != 0 && mkdir(prefix.c_str(), mode) != 0) {
      printf("Error when creating directory: %s\n", prefix.c_str());
      return 1;
    }
    if (next == std::string::npos) break;
    current = next;
  }
  return 0;
}
