// The table choice under real locales. The choice is process-wide and made
// once, so every case runs the probe in a fresh process with an environment
// of its own, holding private locales only.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "stringtable.h"
#include "stringtable_tables.h"
#include "test_support.h"

#ifndef STRINGTABLE_PROBE
#error "STRINGTABLE_PROBE must name the probe executable"
#endif

namespace {

// kFull holds the locales under the names the cases spell (glibc looks a name
// up as given); kShort adds the five-character names that the choice sets the
// process locale to, with a legacy charmap on purpose: the codeset shows
// which locale the process ended in.
enum Folders { kNone, kFull, kShort };

class StringTableLocale : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    error_ = makeLocales(*dir_ / "full", {"en_US.UTF-8 en_US UTF-8", "fr_FR.UTF-8 fr_FR UTF-8",
                                          "de_DE.UTF-8 de_DE UTF-8", "ja_JP.UTF-8 ja_JP UTF-8",
                                          "zh_TW.Big5 zh_TW BIG5"}) +
             makeLocales(*dir_ / "short", {"fr_FR fr_FR ISO-8859-1", "de_DE de_DE ISO-8859-1"});
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override { ASSERT_EQ("", error_) << "cannot make the test locales"; }

  // Runs the probe with only LOCPATH and `vars` in its environment.
  static std::map<std::string, std::string> probe(Folders folders, std::vector<std::string> vars,
                                                  const std::vector<std::string>& args = {}) {
    std::string locpath = "LOCPATH=" + (folders == kNone ? dir_->path : *dir_ / "full");
    if (folders == kShort) locpath += ":" + *dir_ / "short";
    vars.insert(vars.begin(), {"-", locpath});
    std::vector<std::string> argv = {STRINGTABLE_PROBE};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult run = runCaptured(argv, vars);
    std::map<std::string, std::string> result = {{"exit", std::to_string(run.status)}};
    for (size_t start = 0, end; start < run.out.size(); start = end + 1) {
      end = run.out.find('\n', start);
      std::string line = run.out.substr(start, end - start);
      size_t eq = line.find('=');
      result[line.substr(0, eq)] = eq == std::string::npos ? "" : line.substr(eq + 1);
    }
    return result;
  }

  static TempDir* dir_;
  static std::string error_;
};

TempDir* StringTableLocale::dir_;
std::string StringTableLocale::error_;

// The name glibc gives a process locale whose messages category differs.
std::string composite(const std::string& base, const std::string& messages) {
  std::string out;
  for (const char* category : {"LC_CTYPE", "LC_NUMERIC", "LC_TIME", "LC_COLLATE", "LC_MONETARY",
                               "LC_MESSAGES", "LC_PAPER", "LC_NAME", "LC_ADDRESS", "LC_TELEPHONE",
                               "LC_MEASUREMENT", "LC_IDENTIFICATION"}) {
    out += std::string(out.empty() ? "" : ";") + category + "=" +
           (strcmp(category, "LC_MESSAGES") == 0 ? messages : base);
  }
  return out;
}

TEST_F(StringTableLocale, ChoosesTheTableFromTheEnvironment) {
  const struct {
    Folders folders;
    std::vector<std::string> env;
    const char* table;
    const char* locale;
    std::string process;
    const char* codeset;  // null: not checked
  } cases[] = {
      // The name is cut to five characters, and the process locale set again
      // to it where a locale of that name exists.
      {kShort, {"LANG=fr_FR.UTF-8"}, "FR", "fr_FR", "fr_FR", "ISO-8859-1"},
      {kFull, {"LANG=fr_FR.UTF-8"}, "FR", "fr_FR", "fr_FR.UTF-8", "UTF-8"},
      {kFull, {"LC_ALL=fr_FR.UTF-8", "LANG=de_DE.UTF-8"}, "FR", "fr_FR", "fr_FR.UTF-8", nullptr},
      // A locale that cannot be loaded is English, whatever its language.
      {kShort, {"LANG=sv_SE.UTF-8"}, "EN", "en_US", "C", "ANSI_X3.4-1968"},
      {kNone, {"LANG=fr_FR.UTF-8"}, "EN", "en_US", "C", nullptr},
      {kShort, {"LANG=C"}, "EN", "C", "C", nullptr},
      {kFull, {"LANG=C", "LANGUAGE=fr:de"}, "EN", "C", "C", nullptr},
      // A composite name yields its messages category.
      {kShort, {"LANG=en_US.UTF-8", "LC_MESSAGES=de_DE.UTF-8"}, "DE", "de_DE", "de_DE", "ISO-8859-1"},
      {kFull, {"LANG=en_US.UTF-8", "LC_MESSAGES=de_DE.UTF-8"}, "DE", "de_DE",
       composite("en_US.UTF-8", "de_DE.UTF-8"), "UTF-8"},
      {kFull, {"LANG=zh_TW.Big5"}, "ZH_TW", "zh_TW", "zh_TW.Big5", "BIG5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.env.back() + " " + std::to_string(c.folders));
    std::map<std::string, std::string> out = probe(c.folders, c.env);
    EXPECT_EQ("0", out["exit"]);
    EXPECT_EQ(c.table, out["table"]);
    EXPECT_EQ(c.locale, out["locale"]);
    EXPECT_EQ(c.process, out["process"]);
    EXPECT_EQ(c.codeset ? c.codeset : out["codeset"], out["codeset"]);
    EXPECT_EQ("11", out["size"]);
  }
}

TEST_F(StringTableLocale, LooksUpWholeTextsInTheChosenTable) {
  std::map<std::string, std::string> en = probe(kFull, {"LANG=C"}, {"2010", "4242"});
  EXPECT_EQ("Message", en["key2010"]);
  EXPECT_EQ(1u, en.count("nokey4242"));

  // The longest used Japanese text is past 255 bytes, where a copy into a
  // 255-byte buffer would cut it.
  const char* ja = getStrFromSpecTable(2017, MsgTable_JA, kMsgTableSize);
  ASSERT_GT(strlen(ja), 255u);
  EXPECT_EQ(ja, probe(kFull, {"LANG=ja_JP.UTF-8"}, {"2017"})["key2017"]);
}

TEST_F(StringTableLocale, KeepsTheFirstChoiceForTheRun) {
  std::map<std::string, std::string> out = probe(kShort, {"LANG=fr_FR.UTF-8"}, {"--again"});
  EXPECT_EQ("FR", out["table"]);
  EXPECT_EQ("FR", out["again"]);
  EXPECT_EQ("fr_FR", out["againLocale"]);
}

}  // namespace
