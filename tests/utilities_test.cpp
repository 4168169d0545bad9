// Portable helpers: command search, path names, key lines, key=value files,
// versions and the separator clean-ups.
#include "files.h"
#include "keyList.h"
#include "utilities.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <tuple>

#include "test_support.h"

namespace {

std::string expand(std::string text, const std::string& root) {
  for (size_t at; (at = text.find("$T")) != std::string::npos;) text.replace(at, 2, root);
  return text;
}

}  // namespace

TEST(FindCommandTest, ResolvesEachForm) {
  TempDir t;
  for (const char* file : {"setup", "pkg/setup", "usr/bin/setup", "usr/bin/only", "bin/dup",
                           "rel/tool", "rel2/tool2", "C:drive", "w/setup/x", "usr/bin/dup/x"}) {
    writeFile(t / file, "");
  }
  ASSERT_EQ(0, symlink((t / "pkg/setup").c_str(), (t / "usr/bin/lnk").c_str()));

  struct Case { const char* cwd; const char* path; const char* command; const char* expected; };
  const char* usual = "$T/usr/bin:$T/bin";
  const Case cases[] = {
      {"", usual, "$T/usr/bin/setup", "$T/usr/bin/setup"},
      {"", usual, "./setup", "$T/./setup"},
      {"", usual, "pkg/setup", "$T/pkg/setup"},
      {"", usual, "setup", "$T/./setup"},         // the working directory comes first
      {"w", usual, "setup", "$T/usr/bin/setup"},  // ./setup is a directory
      {"", usual, "dup", "$T/bin/dup"},           // so is usr/bin/dup
      {"", usual, "lnk", "$T/usr/bin/lnk"},       // links are not resolved
      {"", usual, "nosuch", ""},  {"", usual, "pkg/nosuch", ""},  {"", usual, "$T/pkg", ""},
      {"", usual, "", ""},        {"", usual, "C:drive", "C:drive"},
      {"", nullptr, "setup", "$T/./setup"},       // no PATH: the working directory only
      {"", "::$T/usr/bin/:", "only", "$T/usr/bin/only"},
      {"", "rel:$T/bin", "tool", "rel/tool"},     // other relative entries stay relative
      {"", "./rel2:$T/bin", "tool2", "$T/./rel2/tool2"},
      {"w", "..", "setup", "$T/w/../setup"},
  };
  for (const Case& c : cases) {
    ScopedCwd cwd(t / c.cwd);
    std::string path = c.path ? expand(c.path, t.path) : "";
    ScopedEnv env("PATH", c.path ? path.c_str() : nullptr);
    EXPECT_EQ(expand(c.expected, t.path), findCommand(expand(c.command, t.path)))
        << c.command << " with PATH " << (c.path ? c.path : "unset");
  }
  const std::string longName(5000, 'a');
  for (const std::string& command : {longName, "x/" + longName, "/" + longName}) {
    EXPECT_EQ("", findCommand(command));
  }
}

TEST(PathNameTest, Tables) {
  struct Case { const char* path; const char* dir; const char* base; const char* parent; };
  const Case cases[] = {
      {"/opt/pkg/setup", "/opt/pkg/", "setup", "/opt/"}, {"setup", "", "setup", ""},
      {"/opt/pkg/", "/opt/pkg/", "", "/opt/"},           {"/", "/", "", ""},
      {"a/b", "a/", "b", ""},                            {"/a/b", "/a/", "b", "/"},
      {"/a", "/", "a", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::make_tuple(c.dir, c.base, c.parent),
              std::make_tuple(dirName(c.path), baseName(c.path), parentDirName(c.path))) << c.path;
  }
  const char* const suffixes[][2] = {
      {"setup.bin", "setup"}, {"setup", "setup"}, {"my.setup.bin", "my.setup"}, {"setup.", "setup."},
      {".profile", ""},       {"a.b/c", "a"}};
  for (const auto& s : suffixes) EXPECT_EQ(s[1], removeSuffix(s[0])) << s[0];
  const std::string longName(10000, 'n');
  EXPECT_EQ(longName, removeSuffix(baseName("/x/" + longName + ".bin")));
}

TEST(IsFileExistTest, FollowsLinksAndAcceptsAnyKind) {
  TempDir t;
  writeFile(t / "file", "");
  ASSERT_EQ(0, symlink((t / "gone").c_str(), (t / "dangling").c_str()));
  const std::pair<std::string, int> cases[] = {
      {t / "file", 1}, {t.path, 1}, {t / "dangling", 0}, {t / "file/x", 0}, {"", 0}};
  for (const auto& c : cases) EXPECT_EQ(c.second, isFileExist(c.first)) << c.first;
}

TEST(StringTest, ParseKeyTrimReplace) {
  struct Case { const char* line; int result; const char* key; const char* value; };
  const Case cases[] = {
      {"a=", 0, "a", ""},  {"a=b=c;d", 0, "a", "b=c;d"},  {" a = b \r", 0, " a ", " b \r"},
      {"=b", 1, "k", "v"}, {"ab", 1, "k", "v"},  // nothing written
  };
  for (const Case& c : cases) {
    std::string key = "k", value = "v";
    EXPECT_EQ(c.result, parseKey(c.line, &key, &value)) << c.line;
    EXPECT_EQ(c.key + std::string("|") + c.value, key + "|" + value) << c.line;
  }
  const char* const trims[][2] = {{"  a b  ", "a b"}, {"   ", ""}, {"\ta\t", "\ta\t"}, {" a\r ", "a\r"}};
  for (const auto& c : trims) EXPECT_EQ(c[1], trim(c[0])) << '"' << c[0] << '"';
  const char* const replaces[][4] = {
      {"<HOME>/a/<HOME>", "<HOME>", "/root", "/root/a/<HOME>"}, {"abc", "x", "y", "abc"},
      {"abc", "", "y", "abc"}, {"abc", "abc", "", ""}};
  for (const auto& c : replaces) EXPECT_EQ(c[3], replace(c[0], c[1], c[2])) << c[0];
}

TEST(SeparatorCleanupTest, GivenExamples) {
  const char* const drive[][2] = {{"C\\:/data", "C:/data"}, {"C:/data", "C:/data"}, {"C\\:", "C:"}};
  for (const auto& c : drive) EXPECT_EQ(c[1], removeDriveLetterSlash(c[0])) << c[0];
  const char* const doubled[][2] = {
      {"/var//data", "/var/data"}, {"a\\\\\\\\b", "a\\\\b"}, {"a///b", "a//b"}, {"/a\\/b", "/a\\b"},
      {"//", "/"},                 {"", ""},                 {"\\\\srv\\\\d", "\\\\srv\\d"},
      {"\\\\\\x", "\\\\\\x"}};
  for (const auto& c : doubled) EXPECT_EQ(c[1], removeDoubleSlash(c[0])) << c[0];
  const char* const trail[][2] = {{"/var/data/", "/var/data"}, {"a//", "a/"}, {"a\\", "a"}, {"a", "a"}, {"", ""}};
  for (const auto& c : trail) {
    std::string text = c[0];
    removeTrailSlash(&text);
    EXPECT_EQ(c[1], text) << c[0];
  }
}

TEST(VersionTest, ParseAndCompare) {
  struct Case { std::string text; int major, minor, micro; const char* qualifier; };
  const Case cases[] = {
      {"", 0, 0, 0, ""},          {"1.", 1, 0, 0, ""},        {"1.2", 1, 2, 0, ""},
      {"1.2.3.", 1, 2, 3, ""},    {"1.2.3.4.5", 1, 2, 3, "4.5"}, {"1.2.3-beta", 1, 2, 3, ""},
      {"1..3", 1, 0, 3, ""},      {"x1.2", 0, 2, 0, ""},      {" 7.-1.+2", 7, -1, 2, ""},
      // Out of the int range: saturated, never undefined.
      {"99999999999.-99999999999.2147483648", INT_MAX, INT_MIN, INT_MAX, ""},
      {"1" + std::string(5000, '0') + ".2.3.q", INT_MAX, 2, 3, "q"},
  };
  for (const Case& c : cases) {
    int major = -7, minor = -7, micro = -7;
    std::string qualifier = "old";
    EXPECT_EQ(0, parseVersion(c.text, &major, &minor, &micro, &qualifier));
    EXPECT_EQ(std::make_tuple(c.major, c.minor, c.micro, std::string(c.qualifier)),
              std::make_tuple(major, minor, micro, qualifier)) << '"' << c.text.substr(0, 40) << '"';
  }
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  struct Order { const char* lhs; const char* rhs; int sign; };
  const Order orders[] = {
      {"2.0", "10.0", -1},       {"1.2", "1.2.0", 0},        {"1.0.0.beta", "1.0.0", 1},
      {"1.0", "1.0.0.0", -1},    {"1.0.0.\xe9", "1.0.0.a", 1}, {"99999999999.0", "1.0", 1},
      // Beyond the int range: exact, by the digits.
      {"2147483648.0", "2147483647.0", 1}, {"1.99999999999", "1.99999999998", 1},
      {"0002147483648", "2147483648", 0},  {"-2147483649", "-2147483648", -1},
      {" +7.-0", "7.0", 0},               {"-99999999999", "0", -1}};
  for (const Order& o : orders) EXPECT_EQ(o.sign, sign(compareVersion(o.lhs, o.rhs))) << o.lhs << " " << o.rhs;
}

TEST(AddQuotationTest, Table) {
  const char* const cases[][2] = {
      {"abc", "abc"}, {"a b", "\"a b\""}, {"N=a b", "N=\"a b\""}, {"N=a b=c", "N=\"a b=c\""},
      {"a\tb", "a\tb"}};
  for (const auto& c : cases) EXPECT_EQ(c[1], addQuotation(c[0])) << c[0];
}

TEST(PropertyFileTest, GetAndSet) {
  TempDir t;
  const std::pair<const char*, int> reads[] = {
      {"location=/opt/a\n", 0}, {"location = /opt/a\n", -1}, {"version=1\n", -1}};
  for (const auto& c : reads) {
    writeFile(t / "ref", c.first);
    std::string dst = "stale";
    EXPECT_EQ(c.second, getProperty(t / "ref", "location", &dst)) << c.first;
    EXPECT_EQ(c.second == 0 ? "/opt/a" : "", dst) << c.first;
  }
  std::string dst = "unchanged";
  EXPECT_EQ(-1, getProperty(t / "missing", "location", &dst));
  EXPECT_EQ("unchanged", dst);

  writeFile(t / "ref", "a=1\nb=2\n");
  EXPECT_EQ(0, setProperty(t / "ref", "b", "two"));
  EXPECT_EQ(0, setProperty(t / "ref", "c", "3"));
  EXPECT_EQ("c=3\na=1\nb=two\n", readFile(t / "ref"));
  EXPECT_EQ(0, setProperty(t / "new/dir/ref", "location", "/opt/agent"));
  EXPECT_EQ("location=/opt/agent\n", readFile(t / "new/dir/ref"));
  testing::internal::CaptureStdout();
  EXPECT_EQ(-1, setProperty(t.path, "k", "v"));  // a directory cannot be written
  EXPECT_EQ("error in fopen\nError saving property key\n",
            testing::internal::GetCapturedStdout());
}

// Only regular files are read: a FIFO would block the launcher's start in
// open, a device would feed it without end.
TEST(OpenRegularFileTest, RefusesEverythingButRegularFiles) {
  TempDir dir;
  writeFile(dir / "plain", "location=/opt/a\n");
  ASSERT_EQ(0, mkfifo((dir / "fifo").c_str(), 0600));
  FILE* plain = openRegularFile(dir / "plain");
  ASSERT_NE(nullptr, plain);
  fclose(plain);
  for (const std::string& path : {dir / "fifo", dir.path, std::string("/dev/zero"), dir / "missing"}) {
    EXPECT_EQ(nullptr, openRegularFile(path)) << path;
  }
  std::string value = "unchanged";
  EXPECT_EQ(-1, getProperty(dir / "fifo", "location", &value));
  EXPECT_EQ("unchanged", value);
}
