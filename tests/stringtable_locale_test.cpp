// The table choice under real locales. The choice is process-wide and made
// once, so every case runs the probe in a fresh process with an environment
// of its own; the locales come from localedef into a private folder that
// LOCPATH points at, so the machine's own locale set-up plays no part.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "stringtable.h"
#include "stringtable_tables.h"

#ifndef STRINGTABLE_PROBE
#error "STRINGTABLE_PROBE must name the probe executable"
#endif

namespace {

struct LocaleSource {
  const char* name;  // directory name, as the environment will spell it
  const char* input;
  const char* charmap;
};

// Named exactly as the cases spell them: glibc looks the name up as given.
const LocaleSource kFullNames[] = {
    {"en_US.UTF-8", "en_US", "UTF-8"}, {"fr_FR.UTF-8", "fr_FR", "UTF-8"},
    {"de_DE.UTF-8", "de_DE", "UTF-8"}, {"pt_PT.UTF-8", "pt_PT", "UTF-8"},
    {"ja_JP.UTF-8", "ja_JP", "UTF-8"}, {"zh_TW.Big5", "zh_TW", "BIG5"},
    {"zh_HK.UTF-8", "zh_HK", "UTF-8"}, {"zh_SG.UTF-8", "zh_SG", "UTF-8"},
};

// A language-only locale in a folder of its own: glibc falls back to it for
// any zh_XX name it cannot find, the five-character names included.
const LocaleSource kLanguageOnly[] = {{"zh", "zh_CN", "UTF-8"}};

// The five-character names the choice sets the process locale to, kept in a
// folder of their own so a case can have them or not. A legacy charmap on
// purpose: the codeset shows which locale the process ended in.
const LocaleSource kShortNames[] = {
    {"fr_FR", "fr_FR", "ISO-8859-1"},
    {"de_DE", "de_DE", "ISO-8859-1"},
};

bool isFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string readFile(const std::string& path) {
  std::string out;
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, size_t(n));
  close(fd);
  return out;
}

pid_t startLocaledef(const LocaleSource& src, const std::string& dir) {
  std::string out = dir + "/" + src.name;
  std::string log = out + ".log";
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    execlp("localedef", "localedef", "-i", src.input, "-f", src.charmap,
           out.c_str(), static_cast<char*>(nullptr));
    perror("cannot run localedef (package locales)");
    _exit(127);
  }
  return pid;
}

// localedef ends with 1 when it only warned; what counts is that the locale
// was written.
std::string checkLocaledef(const LocaleSource& src, const std::string& dir,
                           int status) {
  std::string out = dir + "/" + src.name;
  bool exitedOk = WIFEXITED(status) &&
                  (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 1);
  if (exitedOk && isFile(out + "/LC_CTYPE") &&
      isFile(out + "/LC_MESSAGES/SYS_LC_MESSAGES")) {
    return "";
  }
  std::string how = WIFEXITED(status)
                        ? "exit status " + std::to_string(WEXITSTATUS(status))
                        : "signal " + std::to_string(WTERMSIG(status));
  return "localedef -i " + std::string(src.input) + " -f " + src.charmap +
         " " + out + " failed (" + how + "): " + readFile(out + ".log") +
         "\n";
}

// Two at a time: the machine has two cores.
std::string generate(const LocaleSource* begin, const LocaleSource* end,
                     const std::string& dir) {
  std::string errors;
  std::vector<std::pair<pid_t, const LocaleSource*>> running;
  auto reapOne = [&]() {
    int status = 0;
    pid_t pid = wait(&status);
    for (size_t i = 0; i < running.size(); ++i) {
      if (running[i].first == pid) {
        errors += checkLocaledef(*running[i].second, dir, status);
        running.erase(running.begin() + long(i));
        return;
      }
    }
    if (pid < 0) running.clear();  // nothing left to wait for
  };
  for (const LocaleSource* src = begin; src != end; ++src) {
    if (running.size() == 2) reapOne();
    pid_t pid = startLocaledef(*src, dir);
    if (pid < 0) {
      errors += std::string("fork for localedef failed: ") + strerror(errno);
      continue;
    }
    running.emplace_back(pid, src);
  }
  while (!running.empty()) reapOne();
  return errors;
}

enum Folders { kNoLocales, kFullNamesOnly, kWithShortNames, kWithBareZh };

class StringTableLocale : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp
                                                                     : "/tmp") +
                          "/stringtable-locales-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
      error_ = "mkdtemp " + pattern + ": " + strerror(errno);
      return;
    }
    root_ = buf.data();
    full_ = root_ + "/full";
    short_ = root_ + "/short";
    bareZh_ = root_ + "/bare-zh";
    empty_ = root_ + "/empty";
    for (const std::string& dir : {full_, short_, bareZh_, empty_}) {
      if (mkdir(dir.c_str(), 0755) != 0) {
        error_ += "mkdir " + dir + ": " + strerror(errno) + "\n";
      }
    }
    if (!error_.empty()) return;
    error_ += generate(std::begin(kFullNames), std::end(kFullNames), full_);
    error_ += generate(std::begin(kShortNames), std::end(kShortNames), short_);
    error_ += generate(std::begin(kLanguageOnly), std::end(kLanguageOnly),
                       bareZh_);
  }

  static void TearDownTestSuite() {
    if (!root_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(root_, ignored);
    }
  }

  void SetUp() override {
    ASSERT_TRUE(error_.empty()) << "cannot generate the test locales:\n"
                                << error_;
  }

  // Runs the probe with only LOCPATH and `vars` in its environment.
  static std::map<std::string, std::string> probe(
      Folders folders, const std::vector<std::string>& vars,
      const std::vector<std::string>& args = {}) {
    std::string locpath = "LOCPATH=";
    locpath += folders == kNoLocales ? empty_ : full_;
    if (folders == kWithShortNames) locpath += ":" + short_;
    if (folders == kWithBareZh) locpath += ":" + bareZh_;
    std::vector<std::string> env = vars;
    env.push_back(locpath);
    std::vector<char*> envp;
    for (std::string& v : env) envp.push_back(&v[0]);
    envp.push_back(nullptr);
    std::vector<std::string> argStrings = args;
    argStrings.insert(argStrings.begin(), STRINGTABLE_PROBE);
    std::vector<char*> argv;
    for (std::string& a : argStrings) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    std::map<std::string, std::string> result;
    int fds[2];
    if (pipe(fds) != 0) return result;
    pid_t pid = fork();
    if (pid == 0) {
      dup2(fds[1], 1);
      close(fds[0]);
      close(fds[1]);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    result["exit"] = std::to_string(WIFEXITED(status) ? WEXITSTATUS(status)
                                                      : 128 + WTERMSIG(status));
    size_t start = 0;
    while (start < out.size()) {
      size_t end = out.find('\n', start);
      if (end == std::string::npos) end = out.size();
      std::string line = out.substr(start, end - start);
      size_t eq = line.find('=');
      if (eq == std::string::npos) {
        result[line] = "";
      } else {
        result[line.substr(0, eq)] = line.substr(eq + 1);
      }
      start = end + 1;
    }
    return result;
  }

  static std::string root_, full_, short_, bareZh_, empty_, error_;
};

std::string StringTableLocale::root_;
std::string StringTableLocale::full_;
std::string StringTableLocale::short_;
std::string StringTableLocale::bareZh_;
std::string StringTableLocale::empty_;
std::string StringTableLocale::error_;

// The name glibc gives a process locale whose categories differ.
std::string composite(
    const std::string& base,
    std::initializer_list<std::pair<std::string, std::string>> set) {
  const char* categories[] = {
      "LC_CTYPE",    "LC_NUMERIC", "LC_TIME",    "LC_COLLATE",
      "LC_MONETARY", "LC_MESSAGES", "LC_PAPER",  "LC_NAME",
      "LC_ADDRESS",  "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION"};
  std::string out;
  for (const char* category : categories) {
    std::string value = base;
    for (const auto& entry : set) {
      if (entry.first == category) value = entry.second;
    }
    if (!out.empty()) out += ";";
    out += std::string(category) + "=" + value;
  }
  return out;
}

const char* titleOf(const char* tag) {
  for (const NamedTable& t : kAllTables) {
    if (strcmp(t.tag, tag) == 0) {
      return getStrFromSpecTable(MSG_ERROR_TITLE, t.table, kMsgTableSize);
    }
  }
  return "(no such table)";
}

TEST_F(StringTableLocale, ChoosesTheTableFromTheEnvironment) {
  const std::string deMessages =
      composite("en_US.UTF-8", {{"LC_MESSAGES", "de_DE.UTF-8"}});
  const std::string cMessages = composite(
      "C", {{"LC_CTYPE", "fr_FR.UTF-8"}, {"LC_TIME", "de_DE.UTF-8"}});
  const struct {
    const char* what;
    Folders folders;
    std::vector<std::string> env;
    const char* table;
    const char* locale;
    std::string process;
    const char* codeset;  // null: not checked
  } cases[] = {
      {"fr, short name available", kWithShortNames, {"LANG=fr_FR.UTF-8"},
       "FR", "fr_FR", "fr_FR", "ISO-8859-1"},
      {"fr, no short name", kFullNamesOnly, {"LANG=fr_FR.UTF-8"},
       "FR", "fr_FR", "fr_FR.UTF-8", "UTF-8"},
      {"LC_ALL wins", kFullNamesOnly,
       {"LC_ALL=fr_FR.UTF-8", "LANG=de_DE.UTF-8"}, "FR", "fr_FR", "fr_FR.UTF-8", nullptr},
      {"unavailable", kWithShortNames, {"LANG=sv_SE.UTF-8"},
       "EN", "en_US", "C", "ANSI_X3.4-1968"},
      {"unavailable, known language", kNoLocales, {"LANG=fr_FR.UTF-8"},
       "EN", "en_US", "C", nullptr},
      {"C", kWithShortNames, {"LANG=C"}, "EN", "C", "C", nullptr},
      {"POSIX", kWithShortNames, {"LC_ALL=POSIX"}, "EN", "C", "C", nullptr},
      {"nothing set", kWithShortNames, {}, "EN", "C", "C", nullptr},
      {"C.UTF-8", kFullNamesOnly, {"LANG=C.UTF-8"},
       "EN", "C.UTF", "C.UTF-8", "UTF-8"},
      {"LANGUAGE alone", kFullNamesOnly, {"LANG=C", "LANGUAGE=fr:de"},
       "EN", "C", "C", nullptr},
      {"composite, short name available", kWithShortNames,
       {"LANG=en_US.UTF-8", "LC_MESSAGES=de_DE.UTF-8"},
       "DE", "de_DE", "de_DE", "ISO-8859-1"},
      {"composite, no short name", kFullNamesOnly,
       {"LANG=en_US.UTF-8", "LC_MESSAGES=de_DE.UTF-8"},
       "DE", "de_DE", deMessages, "UTF-8"},
      {"composite, messages C", kWithShortNames,
       {"LC_CTYPE=fr_FR.UTF-8", "LC_TIME=de_DE.UTF-8"},
       "EN", "C", cMessages, "UTF-8"},
      {"composite, messages unavailable", kWithShortNames,
       {"LANG=de_DE.UTF-8", "LC_MESSAGES=sv_SE.UTF-8"},
       "EN", "en_US", "C", nullptr},
      {"pt_PT", kFullNamesOnly, {"LANG=pt_PT.UTF-8"},
       "PT_BR", "pt_PT", "pt_PT.UTF-8", nullptr},
      {"zh_TW Big5", kFullNamesOnly, {"LANG=zh_TW.Big5"},
       "ZH_TW", "zh_TW", "zh_TW.Big5", "BIG5"},
      {"zh_HK", kFullNamesOnly, {"LANG=zh_HK.UTF-8"},
       "EN", "zh_HK", "zh_HK.UTF-8", nullptr},
      {"zh_SG", kFullNamesOnly, {"LANG=zh_SG.UTF-8"},
       "EN", "zh_SG", "zh_SG.UTF-8", nullptr},
      {"bare zh", kWithBareZh, {"LANG=zh"}, "EN", "zh", "zh", nullptr},
      // The short name is "available" through the language-only fallback,
      // so the process ends in zh's data and codeset.
      {"zh_TW Big5, bare zh present", kWithBareZh, {"LANG=zh_TW.Big5"},
       "ZH_TW", "zh_TW", "zh_TW", "UTF-8"},
      {"en", kFullNamesOnly, {"LANG=en_US.UTF-8"},
       "EN", "en_US", "en_US.UTF-8", nullptr},
      {"ja", kFullNamesOnly, {"LANG=ja_JP.UTF-8"},
       "JA", "ja_JP", "ja_JP.UTF-8", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::map<std::string, std::string> out = probe(c.folders, c.env);
    EXPECT_EQ("0", out["exit"]);
    EXPECT_EQ(c.table, out["table"]);
    EXPECT_EQ(titleOf(c.table), out["title"]);
    EXPECT_EQ(c.locale, out["locale"]);
    EXPECT_EQ(c.process, out["process"]);
    if (c.codeset != nullptr) {
      EXPECT_EQ(c.codeset, out["codeset"]);
    }
    EXPECT_EQ("11", out["size"]);
  }
}

TEST_F(StringTableLocale, LooksUpWholeTextsInTheChosenTable) {
  std::map<std::string, std::string> en =
      probe(kFullNamesOnly, {"LANG=C"}, {"2010", "4242"});
  EXPECT_EQ("Message", en["key2010"]);
  EXPECT_EQ(1u, en.count("nokey4242"));

  // The longest used Japanese text is past 255 bytes, where a copy into a
  // 255-byte buffer would cut it.
  const char* ja = getStrFromSpecTable(2017, MsgTable_JA, kMsgTableSize);
  ASSERT_NE(nullptr, ja);
  EXPECT_GT(strlen(ja), 255u);
  std::map<std::string, std::string> out =
      probe(kFullNamesOnly, {"LANG=ja_JP.UTF-8"}, {"2017"});
  EXPECT_EQ(escapeText(ja), out["key2017"]);
}

TEST_F(StringTableLocale, KeepsTheFirstChoiceForTheRun) {
  std::map<std::string, std::string> out =
      probe(kWithShortNames, {"LANG=fr_FR.UTF-8"}, {"--again"});
  EXPECT_EQ("FR", out["table"]);
  EXPECT_EQ("FR", out["again"]);
  EXPECT_EQ("fr_FR", out["againLocale"]);
}

}  // namespace
