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
  // In pieces through fgets, which copies a buffered line at once: a loop
  // of getc costs a run several thousand instructions more. fgets writes
  // the last byte of `piece` only when it fills it, so that byte, set before,
  // tells a full piece from one that ended the line (at a newline or at the
  // end of the file). strlen stops at the first NUL byte; a full piece tells
  // from its size whether it held one.
  char piece[256];
  const size_t kFull = sizeof piece - 1;
  bool ended = false, tooLong = false;
  for (bool first = true;; first = false) {
    piece[kFull] = 1;
    if (!fgets(piece, sizeof piece, file)) {
      if (first) return false;
      break;
    }
    bool full = piece[kFull] == '\0';
    bool lineEnds = !full || piece[kFull - 1] == '\n';
    if (!ended && !tooLong) {
      size_t length = strlen(piece);
      if (full && length < kFull) ended = true;
      if (length > 0 && piece[length - 1] == '\n') --length;
      if (line->size() + length > kMaxLineBytes) {
        tooLong = true;
      } else {
        line->append(piece, length);
      }
    }
    if (lineEnds) break;
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
