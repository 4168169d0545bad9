// The key/value list and its file round trip.
#include "keyList.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

struct TempDir {
  std::string path;
  TempDir() { char name[] = "/tmp/unitXXXXXX"; path = mkdtemp(name); }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};
void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

// The entries in list order, as "key=value" texts.
std::vector<std::string> entries(KEYLIST* list) {
  std::vector<std::string> result;
  std::string key, value;
  list->resetIterator();
  while (list->getNextKey(&key, &value) == 0) result.push_back(key + "=" + value);
  return result;
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(KeyListTest, Operations) {
  KEYLIST list;
  std::string key = "k", value = "v";
  EXPECT_EQ(1, list.getNextKey(&key, &value));  // no iteration before a reset
  EXPECT_EQ("k", key);
  EXPECT_EQ(nullptr, list.find("a"));
  EXPECT_EQ(1, list.update("a", "x"));
  EXPECT_EQ(1, list.remove("a"));

  EXPECT_EQ(0, list.add("a", "1"));
  EXPECT_EQ(0, list.add("b", "2"));
  EXPECT_EQ(0, list.add("c", ""));
  EXPECT_EQ(1, list.add("a", "other"));
  EXPECT_EQ(0, list.add("A", "case"));
  EXPECT_EQ(Lines({"A=case", "c=", "b=2", "a=1"}), entries(&list));
  EXPECT_STREQ("1", list.find("a"));
  EXPECT_EQ(nullptr, list.find("a "));
  EXPECT_EQ(1, list.isExist("c"));
  EXPECT_EQ(0, list.isExist("C"));
  EXPECT_EQ(0, list.update("b", "two"));
  EXPECT_STREQ("two", list.find("b"));

  EXPECT_EQ(0, list.remove("A"));  // first
  EXPECT_EQ(0, list.remove("b"));  // middle
  EXPECT_EQ(1, list.remove("b"));
  EXPECT_EQ(Lines({"c=", "a=1"}), entries(&list));

  // Removing the entry the iterator stands on moves the iterator on.
  list.resetIterator();
  EXPECT_EQ(0, list.remove("c"));
  EXPECT_EQ(0, list.getNextKey(&key, &value));
  EXPECT_EQ("a", key);
  EXPECT_EQ("1", value);
  EXPECT_EQ(1, list.getNextKey(&key, &value));

  std::string longKey(1000, 'k'), longValue(5000, 'v');
  EXPECT_EQ(0, list.add(longKey, longValue));
  EXPECT_EQ(longValue, list.find(longKey));

  testing::internal::CaptureStdout();
  EXPECT_EQ(1, list.printList());
  list.clearList();
  list.clearList();
  EXPECT_EQ(longKey + "=" + longValue + "\na=1\nRemoving " + longKey + "\nRemoving a\n",
            testing::internal::GetCapturedStdout());
  EXPECT_TRUE(entries(&list).empty());
  EXPECT_EQ(0, list.add("a", "again"));
  EXPECT_STREQ("again", list.find("a"));
}

TEST(KeyListTest, LoadAndSave) {
  TempDir t;
  struct Case { std::string content; Lines loaded; };
  const std::string a252(252, 'x'), b44(44, 'y');
  const Case cases[] = {
      {"a=1\nb=2\nc=3\n", {"c=3", "b=2", "a=1"}},
      {"k=first\nk=second\n", {"k=first"}},
      {"k=v\r\n", {"k=v\r"}},
      {"\n \nno equals\n=x\nlast=no newline", {"last=no newline"}},
      {"a=" + a252 + "b=" + b44 + "\n", {"b=" + b44, "a=" + a252}},  // 300 characters: two pieces
      {"", {}},
  };
  for (const Case& c : cases) {
    writeFile(t / "in", c.content);
    KEYLIST list;
    EXPECT_EQ(0, list.loadList(t / "in"));
    EXPECT_EQ(c.loaded, entries(&list)) << c.content;
    EXPECT_EQ(0, list.saveList(t / "out"));
    std::string saved;
    for (const std::string& line : c.loaded) saved += line + "\n";
    EXPECT_EQ(saved, readFile(t / "out"));
  }

  KEYLIST list;
  list.add("stale", "1");
  testing::internal::CaptureStdout();
  EXPECT_EQ(1, list.loadList(t / "missing"));
  EXPECT_EQ("Removing stale\n", testing::internal::GetCapturedStdout());
  EXPECT_TRUE(entries(&list).empty());
}

TEST(KeyListTest, SaveCreatesDirectoriesAndReportsFailures) {
  TempDir t;
  umask(022);
  KEYLIST list;
  list.add("location", "/opt/agent");
  EXPECT_EQ(0, list.saveList(t / "a/b/key"));
  EXPECT_EQ("location=/opt/agent\n", readFile(t / "a/b/key"));
  struct stat st;
  ASSERT_EQ(0, stat((t / "a/b").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 07777);

  char* old = getcwd(nullptr, 0);
  ASSERT_EQ(0, chdir(t.path.c_str()));
  EXPECT_EQ(0, list.saveList("relative"));  // no directory part: the working directory
  ASSERT_EQ(0, chdir(old));
  free(old);
  EXPECT_EQ("location=/opt/agent\n", readFile(t / "relative"));

  testing::internal::CaptureStdout();
  EXPECT_EQ(1, list.saveList("/dev/full"));  // a full disk is no saved file
  EXPECT_EQ(1, list.saveList(t.path));
  EXPECT_EQ(1, list.saveList("/dev/null/x/key"));
  EXPECT_EQ("error in fopen\n"
            "Error when creating directory: /dev/null/x\nUnable to create /dev/null/x/\n",
            testing::internal::GetCapturedStdout());
}
