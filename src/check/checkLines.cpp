#include "checkLines.h"

#include <cstring>

#include "probe.h"
#include "utilities.h"

namespace {

void collectLine(const IniLine& line, void* context) {
  static_cast<IniAnalysis*>(context)->lines.push_back(line);
}

std::vector<std::string> headerTexts() {
  std::vector<std::string> texts;
  for (const char* header : iniSectionHeaders()) texts.emplace_back(header);
  return texts;
}

// Keys whose value is a path or a program: every byte of it counts.
bool isPathKey(const std::string& key) {
  static const char* const kPathKeys[] = {"LOCATION", "LOCATION_KEY", "LOCATION_FILE",
                                          "LAUNCHER", "LAUNCHER_SILENT", "INPUT_FILE",
                                          "APPDATALOCATION"};
  for (const char* name : kPathKeys) {
    if (key == name) return true;
  }
  return false;
}

// Blanks around a value that change what the launcher makes of it. An
// argument may hold blanks on purpose; anywhere else they are invisible in
// the file yet part of what the launcher reads.
void checkValueBlanks(const IniLine& line, CheckReport* report) {
  std::string bare = trim(line.value);
  if (bare == line.value || line.key == "MODE") return;
  if (line.key == "VERSION" && compareQRVersion(line.value, bare) == 0) return;
  if (isBooleanKey(line.key) && !isBooleanWord(line.key, bare)) return;
  std::string meaning = isBooleanKey(line.key)
                            ? "the whole value is compared, so " +
                                  shown(line.value) + " is not the word " +
                                  shown(bare)
                            : "the blanks are part of the value " +
                                  shown(line.value);
  addProblem(report, report->iniPath, line.lineNumber,
             line.key == "ARG" ? CHECK_WARNING : CHECK_ERROR, "blank-value",
             "blanks around the value of " + line.key + ": " + meaning,
             line.key + "=" + bare);
}

// Quotes around a path: no shell removes them, so they become part of it.
void checkValueQuotes(const IniLine& line, CheckReport* report) {
  std::string bare = trim(line.value);
  if (!isPathKey(line.key) || bare.size() < 2 || (bare[0] != '"' && bare[0] != '\'') ||
      bare.back() != bare[0]) {
    return;
  }
  addProblem(report, report->iniPath, line.lineNumber, CHECK_ERROR, "quoted-value",
             "the quotes around the value of " + line.key +
                 " are part of it: the launcher reads the path " + shown(line.value) +
                 ", quote characters included",
             line.key + "=" + bare.substr(1, bare.size() - 2));
}

void checkKeyLine(const IniLine& line, KeyLines* firstLine, KeyLines* keyLine,
                  CheckReport* report) {
  std::string where = std::string(line.section) + " " + line.key;
  if (line.key != "ARG") {
    auto seen = firstLine->find(where);
    if (seen != firstLine->end()) {
      addProblem(report, report->iniPath, line.lineNumber, CHECK_WARNING,
                 "duplicate-key",
                 line.key + " is given again in " + line.section +
                     " (first on line " + std::to_string(seen->second) +
                     "): the last one wins",
                 "keep one " + line.key + " line");
    } else {
      (*firstLine)[where] = line.lineNumber;
    }
  }
  (*keyLine)[line.key] = line.lineNumber;
  checkValueBlanks(line, report);
  checkValueQuotes(line, report);
}

void checkUnknownKey(const IniLine& line, CheckReport* report) {
  const std::string& iniPath = report->iniPath;
  std::string bareKey = trim(line.key);
  if (bareKey != line.key && iniSectionOfKey(bareKey)) {
    addProblem(report, iniPath, line.lineNumber, CHECK_ERROR, "blank-key",
               "blanks around the key make it " + shown(line.key) +
                   ", which the launcher does not know: the line is ignored",
               bareKey + "=" + trim(line.value));
    return;
  }
  if (const char* section = iniSectionOfKey(line.key)) {
    std::string home = line.key == "ARG" ? "[INSTALLER] or [MANAGER]" : section;
    addProblem(report, iniPath, line.lineNumber, CHECK_WARNING, "wrong-section",
               line.key + " belongs in " + home + "; in " + line.section +
                   " it is ignored",
               "move the line to " + home);
    return;
  }
  std::string nearest = nearestText(bareKey, iniKnownKeys());
  std::string fix = "remove the line";
  if (!nearest.empty()) {
    fix = nearest + "=" + line.value;
    const char* section = iniSectionOfKey(nearest);
    if (nearest != "ARG" && section && strcmp(section, line.section) != 0) {
      fix += std::string(" (in ") + section + ")";
    }
  }
  addProblem(report, iniPath, line.lineNumber, CHECK_WARNING, "unknown-key",
             "unknown key " + shown(line.key) + " in " + line.section +
                 ": the line is ignored",
             fix);
}

void checkUnknownSection(const IniLine& line, CheckReport* report) {
  std::string text = trim(line.text);
  std::string fix = "remove it, or write [INSTALLER], [MANAGER] or [COMMON]";
  for (const char* header : iniSectionHeaders()) {
    if (text.compare(0, strlen(header), header) == 0) {
      fix = std::string(header) + " alone on its line";
    }
  }
  std::string nearest = nearestText(text, headerTexts());
  if (!nearest.empty() && fix[0] != '[') fix = nearest;
  addProblem(report, report->iniPath, line.lineNumber, CHECK_WARNING,
             "unknown-section",
             "unknown section " + shown(text) +
                 ": the lines after it are ignored up to the next known section",
             fix);
}

// `text` without blanks or tabs around it: what the author sees as the
// line's content, unlike the reader's own trim.
std::string visibleText(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

void checkOtherLine(const IniLine& line, bool sawHeader, CheckReport* report) {
  const std::string& iniPath = report->iniPath;
  std::string text = visibleText(line.text);
  if (text.empty()) return;
  if (line.action == INI_LINE_OUTSIDE_SECTION) {
    // Lines after an unknown section are that section's problem.
    if (sawHeader) return;
    addProblem(report, iniPath, line.lineNumber, CHECK_WARNING,
               "text-before-section",
               "text before the first section is ignored: " + shown(line.text),
               "put it under [INSTALLER], [MANAGER] or [COMMON], or begin it with ;");
    return;
  }
  for (const char* header : iniSectionHeaders()) {
    if (text == header) {
      addProblem(report, iniPath, line.lineNumber, CHECK_WARNING,
                 "not-a-header",
                 shown(line.text) +
                     " is not a section header: only blanks may surround it",
                 std::string(header) + " at the start of the line");
      return;
    }
  }
  addProblem(report, iniPath, line.lineNumber, CHECK_WARNING, "not-a-key",
             "not a KEY=value line, ignored: " + shown(line.text),
             "KEY=value, or begin the line with ; to make it a comment");
}

const char kByteOrderMark[] = "\xef\xbb\xbf";

// A byte-order mark is invisible in an editor, yet the reader takes it as
// part of the first line.
bool checkByteOrderMark(const IniLine& line, CheckReport* report) {
  if (line.lineNumber != 1 ||
      line.text.compare(0, strlen(kByteOrderMark), kByteOrderMark) != 0) {
    return false;
  }
  std::string rest = visibleText(line.text.substr(strlen(kByteOrderMark)));
  std::string effect;
  for (const char* header : iniSectionHeaders()) {
    if (rest == header) {
      effect = std::string("the header ") + header +
               " is not recognised, so the lines after it up to the next "
               "section header are ignored";
    }
  }
  // Before a comment or an empty line the mark changes nothing yet.
  addProblem(report, report->iniPath, 1, effect.empty() ? CHECK_WARNING : CHECK_ERROR,
             "byte-order-mark",
             "the file begins with a byte-order mark (the invisible bytes EF BB "
             "BF), which the launcher reads as part of the first line" +
                 (effect.empty() ? std::string() : ": " + effect),
             "save the file without a byte-order mark (tail -c +4 FILE >FILE.new && mv FILE.new FILE)");
  return true;
}

}  // namespace

IniListener iniAnalysisListener(IniAnalysis* analysis) {
  return IniListener{collectLine, analysis};
}

bool isBooleanKey(const std::string& key) {
  return key == "SILENT" || key == "ISADMIN" || key == "LICENSEACCEPTED";
}

bool isBooleanWord(const std::string& key, const std::string& value) {
  return isTrueWord(value) || (key == "ISADMIN" && isFalseWord(value));
}

KeyLines checkIniLines(const IniAnalysis& analysis, CheckReport* report) {
  KeyLines firstLine, keyLine;
  bool sawHeader = false;
  int crlfLines = 0, firstCrlf = 0;
  for (const IniLine& line : analysis.lines) {
    if (checkByteOrderMark(line, report)) continue;
    // A carriage return spoils every header and value; one report says it.
    if (!line.text.empty() && line.text.back() == '\r') {
      if (crlfLines++ == 0) firstCrlf = line.lineNumber;
      continue;
    }
    switch (line.action) {
      case INI_LINE_COMMENT:
        break;
      case INI_LINE_SECTION:
        sawHeader = true;
        break;
      case INI_LINE_UNKNOWN_SECTION:
        sawHeader = true;
        checkUnknownSection(line, report);
        break;
      case INI_LINE_OUTSIDE_SECTION:
      case INI_LINE_NOT_A_KEY:
        checkOtherLine(line, sawHeader, report);
        break;
      case INI_LINE_KEY_APPLIED:
        checkKeyLine(line, &firstLine, &keyLine, report);
        break;
      case INI_LINE_KEY_UNKNOWN:
        checkUnknownKey(line, report);
        break;
    }
  }
  if (crlfLines > 0) {
    addProblem(report, report->iniPath, firstCrlf, CHECK_ERROR, "crlf",
               plural(crlfLines, "line") +
                   " end with CR LF: no section header is recognised and "
                   "no value is read from them",
               "save the file with LF line ends (sed -i 's/[[:cntrl:]]*$//' FILE)");
  }
  return keyLine;
}
