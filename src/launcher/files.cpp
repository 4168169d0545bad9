#include "files.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "trust.h"

namespace {

// fgets with a 255-byte buffer: the piece size that every file format of the
// launcher is defined by.
const int kPieceBufferSize = 255;

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

bool readPiece(FILE* file, std::string* piece, bool* endsLine) {
  char buffer[kPieceBufferSize];
  if (!fgets(buffer, sizeof buffer, file)) return false;
  // fgets stops after a newline or when the buffer is full; a NUL byte
  // inside the line ends the text there, as for every C string the formats
  // were written for.
  char* newline = strchr(buffer, '\n');
  if (newline) *newline = '\0';
  bool ended = newline != nullptr || feof(file) != 0;
  piece->assign(buffer);
  if (endsLine) *endsLine = ended;
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
