// Portable path, string and version helpers.
#ifndef LAUNCHER_UTILITIES_H_
#define LAUNCHER_UTILITIES_H_

#include <string>

// printf into a string of whatever length the result needs.
std::string formatText(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

// A further test a candidate must pass; none accepts every regular file.
struct CommandFilter {
  bool (*test)(const std::string& candidate, void* context) = nullptr;
  void* context = nullptr;
  bool accepts(const std::string& candidate) const;
};

// Path of an existing regular file for `command` (absolute, relative with a
// slash, or a bare name searched in ".", then $PATH) that `accept` accepts;
// a bare name goes on searching past a refused candidate. Empty when none.
std::string findCommand(const std::string& command,
                        const CommandFilter& accept = CommandFilter());
// A regular file `name` in a $PATH entry (the same entry rules, never the
// current directory unless PATH names it); empty when none.
std::string findInPath(const std::string& name);

// The working directory, of any depth; empty when it cannot be read.
std::string currentDirectory();

std::string dirName(const std::string& path);
std::string parentDirName(const std::string& path);
std::string baseName(const std::string& path);
std::string removeSuffix(const std::string& name);

// 1 when a status query of the path (following links) succeeds, else 0.
int isFileExist(const std::string& path);

// Splits a line at its first '='. Returns 0 with key and value filled, or 1
// (and writes neither) when there is no '=' or it is the first character.
int parseKey(const std::string& line, std::string* key, std::string* value);

// Copy without leading and trailing blanks (only ' ' counts as a blank).
std::string trim(const std::string& text);

// `text` with the first occurrence of `search` replaced by `with`.
std::string replace(const std::string& text, const std::string& search,
                    const std::string& with);

// Splits major.minor.micro.qualifier. Numbers outside the int range
// saturate here; the comparisons below never do. Returns 0.
int parseVersion(const std::string& text, int* major, int* minor, int* micro,
                 std::string* qualifier);
// Negative, 0 or positive for lhs older, equal or newer than rhs.
int compareVersion(const std::string& lhs, const std::string& rhs);
// The same for the three numbers alone, each compared exactly, whatever its
// length (a required 2147483648 is newer than an installed 2147483647).
int compareVersionNumbers(const std::string& lhs, const std::string& rhs);
std::string versionQualifier(const std::string& text);

// `text` unchanged when it holds no blank, else quoted ("a b", or
// NAME="value" when it holds one '=').
std::string addQuotation(const std::string& text);

// Separator clean-ups for directory values written by the agent.
std::string removeDriveLetterSlash(const std::string& src);
std::string removeDoubleSlash(const std::string& src);
void removeTrailSlash(std::string* text);

#endif  // LAUNCHER_UTILITIES_H_
