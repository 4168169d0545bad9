#include "check.h"

#include <algorithm>
#include <cstdio>

#include "checkEscape.h"
#include "utilities.h"

namespace {

// `text` as a JSON string literal: quotes, backslashes, control bytes and
// each byte of invalid UTF-8 escaped (\n, \t, \r, \u00XX).
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = utf8Length(text, i);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (length == 0 || c < 0x20) {
      out += formatText("\\u%04x", c);
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

std::string shown(const std::string& text) { return "\"" + escapedText(text, '"') + "\""; }

std::string jsonString(const std::string& bytes) { return quoted(bytes); }

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
