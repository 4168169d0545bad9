// The key/value list and its file round trip.
#include "keyList.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "test_support.h"

namespace {

using Lines = std::vector<std::string>;

// The entries in list order, as "key=value" texts.
Lines entries(KEYLIST* list) {
  Lines result;
  std::string key, value;
  list->resetIterator();
  while (list->getNextKey(&key, &value) == 0) result.push_back(key + "=" + value);
  return result;
}

}  // namespace

TEST(KeyListTest, Operations) {
  KEYLIST list;
  std::string key = "k", value = "v";
  EXPECT_EQ(1, list.getNextKey(&key, &value));  // no iteration before a reset
  EXPECT_EQ("k", key);
  EXPECT_EQ(1, list.update("a", "x"));
  EXPECT_EQ(1, list.remove("a"));

  for (const char* k : {"a", "b", "c", "A"}) EXPECT_EQ(0, list.add(k, std::string(k) + "1"));
  EXPECT_EQ(1, list.add("a", "other"));
  EXPECT_EQ(Lines({"A=A1", "c=c1", "b=b1", "a=a1"}), entries(&list));
  EXPECT_STREQ("a1", list.find("a"));
  EXPECT_EQ(nullptr, list.find("a "));
  EXPECT_EQ(0, list.isExist("C"));
  EXPECT_EQ(0, list.update("b", "two"));
  EXPECT_STREQ("two", list.find("b"));

  EXPECT_EQ(0, list.remove("A"));  // first
  EXPECT_EQ(0, list.remove("b"));  // middle
  EXPECT_EQ(1, list.remove("b"));
  EXPECT_EQ(Lines({"c=c1", "a=a1"}), entries(&list));

  // Removing the entry the iterator stands on moves the iterator on.
  list.resetIterator();
  EXPECT_EQ(0, list.remove("c"));
  EXPECT_EQ(0, list.getNextKey(&key, &value));
  EXPECT_EQ("a=a1", key + "=" + value);
  EXPECT_EQ(1, list.getNextKey(&key, &value));

  std::string longKey(1000, 'k'), longValue(5000, 'v');
  EXPECT_EQ(0, list.add(longKey, longValue));
  EXPECT_EQ(longValue, list.find(longKey));

  testing::internal::CaptureStdout();
  EXPECT_EQ(1, list.printList());
  list.clearList();
  list.clearList();
  EXPECT_EQ(longKey + "=" + longValue + "\na=a1\nRemoving " + longKey + "\nRemoving a\n",
            testing::internal::GetCapturedStdout());
  EXPECT_TRUE(entries(&list).empty());
  EXPECT_EQ(0, list.add("a", "again"));
  EXPECT_STREQ("again", list.find("a"));
}

TEST(KeyListTest, LoadAndSave) {
  TempDir t;
  const std::string a252(252, 'x'), b44(44, 'y');
  const std::pair<std::string, Lines> cases[] = {
      {"a=1\nb=2\n", {"b=2", "a=1"}},
      {"k=first\nk=second\n", {"k=first"}},
      {"k=v\r\n", {"k=v\r"}},
      {"\n \nno equals\n=x\nlast=no newline", {"last=no newline"}},
      {"a=" + a252 + "b=" + b44 + "\n", {"a=" + a252 + "b=" + b44}},  // 300 characters: one line
  };
  for (const auto& c : cases) {
    writeFile(t / "in", c.first);
    KEYLIST list;
    EXPECT_EQ(0, list.loadList(t / "in"));
    EXPECT_EQ(c.second, entries(&list)) << c.first;
    EXPECT_EQ(0, list.saveList(t / "out"));
    std::string saved;
    for (const std::string& line : c.second) saved += line + "\n";
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
  {
    ScopedCwd cwd(t.path);
    EXPECT_EQ(0, list.saveList("relative"));  // no directory part: the working directory
  }
  EXPECT_EQ("location=/opt/agent\n", readFile(t / "relative"));

  testing::internal::CaptureStdout();
  EXPECT_EQ(1, list.saveList("/dev/full"));  // a full disk is no saved file
  EXPECT_EQ(1, list.saveList(t.path));
  EXPECT_EQ(1, list.saveList("/dev/null/x/key"));
  EXPECT_EQ("error in fopen\n"
            "Error when creating directory: /dev/null/x\nUnable to create /dev/null/x/\n",
            testing::internal::GetCapturedStdout());
}
