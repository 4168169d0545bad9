#include "utilities.h"

#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isRegularFile(const std::string& path) {
  struct stat st;
  return fstatat(AT_FDCWD, path.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode);
}

std::string joinWithSlash(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// atoi's reading of a number: blanks, a sign, digits. The digits are kept as
// text without leading zeros, so a number of any length compares exactly and
// none is ever undefined.
struct VersionNumber {
  bool negative = false;
  std::string digits;  // empty for zero
};

VersionNumber readVersionNumber(const std::string& text) {
  const char* p = text.c_str();
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  VersionNumber number;
  if (*p == '+' || *p == '-') number.negative = *p++ == '-';
  while (*p == '0') ++p;
  while (*p >= '0' && *p <= '9') number.digits += *p++;
  if (number.digits.empty()) number.negative = false;
  return number;
}

int compareNumbers(const VersionNumber& lhs, const VersionNumber& rhs) {
  if (lhs.negative != rhs.negative) return lhs.negative ? -1 : 1;
  int magnitude;
  if (lhs.digits.size() != rhs.digits.size()) {
    magnitude = lhs.digits.size() < rhs.digits.size() ? -1 : 1;
  } else {
    magnitude = lhs.digits.compare(rhs.digits);
    magnitude = (magnitude > 0) - (magnitude < 0);
  }
  return lhs.negative ? -magnitude : magnitude;
}

int saturatedInt(const VersionNumber& number) {
  const int kMaxDigits = 10;  // INT_MAX has 10 digits
  long long value = 0;
  if (number.digits.size() > static_cast<size_t>(kMaxDigits)) {
    value = static_cast<long long>(INT_MAX) + 1;
  } else {
    for (char c : number.digits) value = value * 10 + (c - '0');
  }
  if (number.negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// The three number parts and the qualifier of a version text.
void splitVersion(const std::string& text, std::string parts[3],
                  std::string* qualifier) {
  qualifier->clear();
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    size_t dot = text.find('.', start);
    if (dot == std::string::npos) {
      parts[i] = text.substr(start);
      break;
    }
    parts[i] = text.substr(start, dot - start);
    start = dot + 1;
    if (i == 2) qualifier->assign(text, start, std::string::npos);
  }
}

}  // namespace

std::string currentDirectory() {
  // getcwd(NULL, 0) allocates as much as the path needs, so a working
  // directory of any depth is read whole (or not at all).
  char* cwd = getcwd(nullptr, 0);
  if (!cwd) return std::string();
  std::string result(cwd);
  free(cwd);
  return result;
}

std::string formatText(const char* format, ...) {
  va_list args, copy;
  va_start(args, format);
  va_copy(copy, args);
  int length = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string result;
  if (length > 0) {
    result.resize(static_cast<size_t>(length) + 1);
    vsnprintf(result.data(), result.size(), format, args);
    result.resize(static_cast<size_t>(length));
  }
  va_end(args);
  return result;
}

namespace {

// Walks a ':'-separated search list for `command`: empty entries are
// skipped, entries beginning with "./" or "../" are made absolute, other
// relative entries stay relative.
std::string searchList(const std::string& list, const std::string& command,
                       const CommandFilter& accept) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string entry = list.substr(start, end - start);
    start = end + 1;
    if (entry.empty()) continue;
    std::string candidate = joinWithSlash(entry, command);
    if (candidate.compare(0, 2, "./") == 0 ||
        candidate.compare(0, 3, "../") == 0) {
      std::string cwd = currentDirectory();
      if (cwd.empty()) continue;
      candidate.insert(0, cwd + "/");
    }
    if (isRegularFile(candidate) && accept.accepts(candidate)) return candidate;
  }
  return std::string();
}

}  // namespace

bool CommandFilter::accepts(const std::string& candidate) const {
  return !test || test(candidate, context);
}

std::string findCommand(const std::string& command,
                        const CommandFilter& accept) {
  std::string candidate;
  if (command.empty()) return std::string();
  if (command[0] == '/' || (command.size() > 2 && command[1] == ':')) {
    candidate = command;
  } else if (command.find('/') != std::string::npos) {
    std::string cwd = currentDirectory();
    if (cwd.empty()) return std::string();
    candidate = joinWithSlash(cwd, command);
  } else {
    // The current directory comes first, before every PATH entry; an unset
    // PATH searches the current directory only.
    const char* path = getenv("PATH");
    return searchList(std::string(".:") + (path ? path : ""), command, accept);
  }
  return isRegularFile(candidate) && accept.accepts(candidate) ? candidate
                                                               : std::string();
}

std::string findInPath(const std::string& name) {
  const char* path = getenv("PATH");
  return path ? searchList(path, name, CommandFilter()) : std::string();
}

std::string dirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return path.substr(0, slash + 1);
}

std::string parentDirName(const std::string& path) {
  std::string dir = dirName(path);
  if (dir.empty() || dir == "/") return std::string();
  dir.pop_back();
  return dirName(dir);
}

std::string baseName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return path;
  return path.substr(slash + 1);
}

std::string removeSuffix(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot + 1 == name.size()) return name;
  return name.substr(0, dot);
}

int isFileExist(const std::string& path) {
  struct stat st;
  return fstatat(AT_FDCWD, path.c_str(), &st, 0) == 0 ? 1 : 0;
}

int parseKey(const std::string& line, std::string* key, std::string* value) {
  size_t equals = line.find('=');
  if (equals == std::string::npos || equals == 0) return 1;
  key->assign(line, 0, equals);
  value->assign(line, equals + 1, std::string::npos);
  return 0;
}

std::string trim(const std::string& text) {
  size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(' ');
  return text.substr(start, end - start + 1);
}

std::string replace(const std::string& text, const std::string& search,
                    const std::string& with) {
  size_t at = search.empty() ? std::string::npos : text.find(search);
  if (at == std::string::npos) return text;
  return text.substr(0, at) + with + text.substr(at + search.size());
}

int parseVersion(const std::string& text, int* major, int* minor, int* micro,
                 std::string* qualifier) {
  std::string parts[3];
  splitVersion(text, parts, qualifier);
  *major = saturatedInt(readVersionNumber(parts[0]));
  *minor = saturatedInt(readVersionNumber(parts[1]));
  *micro = saturatedInt(readVersionNumber(parts[2]));
  return 0;
}

int compareVersionNumbers(const std::string& lhs, const std::string& rhs) {
  std::string l[3], r[3], qualifier;
  splitVersion(lhs, l, &qualifier);
  splitVersion(rhs, r, &qualifier);
  for (int i = 0; i < 3; ++i) {
    int order = compareNumbers(readVersionNumber(l[i]), readVersionNumber(r[i]));
    if (order != 0) return order;
  }
  return 0;
}

std::string versionQualifier(const std::string& text) {
  std::string parts[3], qualifier;
  splitVersion(text, parts, &qualifier);
  return qualifier;
}

int compareVersion(const std::string& lhs, const std::string& rhs) {
  int order = compareVersionNumbers(lhs, rhs);
  if (order != 0) return order;
  return strcmp(versionQualifier(lhs).c_str(), versionQualifier(rhs).c_str());
}

std::string addQuotation(const std::string& text) {
  if (text.find(' ') == std::string::npos) return text;
  size_t equals = text.find('=');
  if (equals == std::string::npos) return "\"" + text + "\"";
  // NAME=value keeps the name outside the quotes. With several '=' the first
  // one is taken as the separator.
  return text.substr(0, equals + 1) + "\"" + text.substr(equals + 1) + "\"";
}

std::string removeDriveLetterSlash(const std::string& src) {
  if (src.size() > 2 && src[1] == '\\' && src[2] == ':') {
    return src.substr(0, 1) + src.substr(2);
  }
  return src;
}

std::string removeDoubleSlash(const std::string& src) {
  if (src.size() <= 1) return src;
  std::string dst;
  size_t i = 0;
  if (src[0] == '\\' && src[1] == '\\') {
    dst = "\\\\";
    i = 2;
  }
  bool pair = false;
  for (; i < src.size(); ++i) {
    char c = src[i];
    if (!isSeparator(c)) {
      dst += c;
      pair = false;
    } else if (!pair) {
      dst += c;
      pair = true;
    } else {
      pair = false;
    }
  }
  return dst;
}

void removeTrailSlash(std::string* text) {
  if (!text->empty() && isSeparator(text->back())) text->pop_back();
}
