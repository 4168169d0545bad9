#include "check.h"

#include <algorithm>
#include <cstdio>

#include "utilities.h"

namespace {

// Length of the valid UTF-8 sequence at `text[i]`, or 0 when the byte there
// does not begin one.
size_t utf8Length(const std::string& text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char c = byte(i);
  if (c < 0x80) return 1;
  size_t length;
  unsigned long code;
  if (c >= 0xc2 && c <= 0xdf) {
    length = 2, code = c & 0x1fU;
  } else if (c >= 0xe0 && c <= 0xef) {
    length = 3, code = c & 0x0fU;
  } else if (c >= 0xf0 && c <= 0xf4) {
    length = 4, code = c & 0x07U;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xc0U) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3fU);
  }
  // Overlong forms, surrogates and code points past Unicode are invalid.
  if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
      (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff) {
    return 0;
  }
  return length;
}

// `text` in double quotes, with quotes, backslashes, control bytes and each
// byte of invalid UTF-8 escaped: as JSON wants it (\n, \t, \r, \u00XX), or
// for the text output as \xNN.
std::string quoted(const std::string& text, bool json) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = utf8Length(text, i);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (json && c == '\n') {
      out += "\\n";
    } else if (json && c == '\t') {
      out += "\\t";
    } else if (json && c == '\r') {
      out += "\\r";
    } else if (length == 0 || c < 0x20 || (!json && c == 0x7f)) {
      out += formatText(json ? "\\u%04x" : "\\x%02x", c);
      length = 1;
    } else {
      out.append(text, i, length);
    }
    i += length;
  }
  return out + "\"";
}

size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      bool same = toupper(static_cast<unsigned char>(a[i - 1])) ==
                  toupper(static_cast<unsigned char>(b[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

int lineOf(const KeyLines& keyLine, const std::string& key) {
  auto found = keyLine.find(key);
  return found == keyLine.end() ? 0 : found->second;
}

void addProblem(CheckReport* report, const std::string& file, int line,
                CheckSeverity severity, const char* code,
                const std::string& message, const std::string& fix) {
  CheckProblem problem;
  problem.file = file;
  problem.line = line;
  problem.severity = severity;
  problem.code = code;
  problem.message = message;
  problem.fix = fix;
  report->problems.push_back(problem);
}

int countProblems(const CheckReport& report, CheckSeverity severity) {
  int count = 0;
  for (const CheckProblem& problem : report.problems) {
    if (problem.severity == severity) ++count;
  }
  return count;
}

const CheckProblem* firstCause(const CheckReport& report) {
  for (const CheckProblem& problem : report.problems) {
    if (problem.severity == CHECK_ERROR && !problem.consequences.empty()) return &problem;
  }
  return nullptr;
}

std::string plural(int count, const char* word) {
  return formatText("%d %s%s", count, word, count == 1 ? "" : "s");
}

std::string shown(const std::string& text) { return quoted(text, false); }

std::string jsonString(const std::string& bytes) { return quoted(bytes, true); }

std::string nearestText(const std::string& text,
                        const std::vector<std::string>& known) {
  size_t allowed = text.size() <= 3 ? 0 : text.size() <= 5 ? 1
                                                            : std::max<size_t>(2, text.size() / 3);
  std::string best;
  size_t bestDistance = allowed + 1;
  for (const std::string& candidate : known) {
    size_t distance = editDistance(text, candidate);
    if (distance < bestDistance) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

std::string packagesFileWhy(const std::string& path) {
  const std::string single = std::string("<package id='") + kAgentPackageId + "' version='";
  std::string why = "it holds no line with " + single + "...'";
  FILE* file = fopen(path.c_str(), "re");
  if (!file) return why;
  std::string text;
  char buffer[4096];
  size_t got;
  // An installed-packages file of an agent is small; the line sought is
  // near the top of any that is not.
  while (text.size() < (1U << 20) && (got = fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, got);
  }
  fclose(file);
  const std::string doubled = std::string("<package id=\"") + kAgentPackageId + "\"";
  if (text.find(doubled) == std::string::npos) return why;
  return why + ": its agent line uses double quotes (" + doubled +
         " ...), and the launcher reads only single quotes";
}
