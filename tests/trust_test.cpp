// Root's rule of trust, as pure decisions on a file's owner and mode, and
// the descriptors a caller may hand over as the log.
#include "trust.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(TrustRuleTest, OwnerAndWhoMayWrite) {
  struct Case { uid_t uid; gid_t gid; mode_t mode; uid_t euid; bool sticky; const char* problem; };
  const Case cases[] = {
      {0, 0, S_IFREG | 0644, 0, false, ""},
      {1000, 1000, S_IFREG | 0644, 1000, false, ""},  // the effective user's own
      {1000, 0, S_IFREG | 0644, 0, false, "is owned by uid 1000"},
      {1, 0, S_IFREG | 0644, 0, false, "is owned by uid 1"},
      {0, 0, S_IFREG | 0664, 0, false, ""},  // root's group
      {0, 100, S_IFREG | 0664, 0, false, "is writable by group 100"},
      {0, 0, S_IFREG | 0646, 0, false, "is writable by others"},
      {0, 0, S_IFDIR | 01777, 0, true, ""},  // like /tmp, above a file
      {0, 0, S_IFDIR | 01777, 0, false, "is writable by others"},
      {0, 0, S_IFDIR | 0777, 0, true, "is writable by others"},
      {1000, 1000, S_IFDIR | 01777, 0, true, "is owned by uid 1000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.problem, ownershipProblem(c.uid, c.gid, c.mode, c.euid, c.sticky))
        << c.uid << " " << std::oct << c.mode;
  }
}

TEST(TrustRuleTest, WhatMayBeTheLog) {
  struct Case { mode_t mode; uid_t uid; nlink_t links; bool terminal; const char* problem; };
  const Case cases[] = {  // for uid 1000
      {S_IFREG, 1000, 1, false, ""},         {S_IFREG, 0, 1, false, "is owned by uid 0"},
      {S_IFREG, 1000, 2, false, "has 2 links"}, {S_IFIFO, 1000, 1, false, ""},
      {S_IFIFO, 0, 1, false, "is owned by uid 0"}, {S_IFCHR, 0, 1, false, ""},  // /dev/null
      {S_IFCHR, 1001, 1, true, ""},          {S_IFCHR, 1001, 1, false, "is owned by uid 1001"},
      {S_IFBLK, 0, 1, false, "is not a regular file, terminal or FIFO"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.problem, logTargetProblem(c.mode, c.uid, c.links, 1000, c.terminal)) << std::oct << c.mode;
  }
  const std::pair<const char*, int> descriptors[] = {
      {"/dev/stdout", 1}, {"/dev/stderr", 2},   {"/dev/fd/7", 7},  {"/proc/self/fd/12", 12},
      {"/dev/fd/", -1},   {"/dev/fd/1x", -1},   {"/dev/fd/-1", -1}, {"/dev/fd/9999999999", -1},
      {"/dev/stdout/", -1}, {"/proc/1/fd/1", -1}, {"run.log", -1},
  };
  for (const auto& d : descriptors) EXPECT_EQ(d.second, callerDescriptor(d.first)) << d.first;
}

TEST(TrustRuleTest, WhoAnAclLetsWrite) {
  // Entries as {tag, permissions, id}: user::rw- 1, user: 2, group:: 4,
  // group: 8, mask 0x10, other 0x20.
  struct Entry { unsigned tag, perm, id; };
  auto acl = [](std::initializer_list<Entry> entries, unsigned version = 2) {
    std::string bytes;
    auto put = [&bytes](unsigned long value, int size) {
      for (int i = 0; i < size; ++i) bytes += static_cast<char>(value >> (8 * i) & 0xff);
    };
    put(version, 4);
    for (const Entry& e : entries) { put(e.tag, 2); put(e.perm, 2); put(e.id, 4); }
    return bytes;
  };
  const Entry owner{1, 6, 0}, group{4, 4, 0}, other{0x20, 4, 0};
  const std::pair<std::string, const char*> cases[] = {
      {acl({owner, group, {0x10, 7, 0}, other}), ""},  // a mask alone
      {acl({owner, {2, 7, 65534}, group, {0x10, 7, 0}, other}), "has an ACL that lets user 65534 write"},
      {acl({owner, {2, 7, 65534}, group, {0x10, 5, 0}, other}), ""},  // masked
      {acl({owner, {2, 7, 0}, {2, 7, 1000}, group, {0x10, 7, 0}, other}), ""},  // root, euid
      {acl({owner, group, {8, 7, 0}, {0x10, 7, 0}, other}), ""},
      {acl({owner, group, {8, 6, 100}, {0x10, 7, 0}, other}), "has an ACL that lets group 100 write"},
      {acl({owner, group, {8, 5, 100}, {0x10, 7, 0}, other}), ""},
      {acl({owner, group, other}, 1), "has an ACL that cannot be read"},
      {acl({owner, {0x40, 7, 5}, other}), "has an ACL that cannot be read"},
      {acl({owner, group, other}).substr(0, 27), "has an ACL that cannot be read"},
      {std::string(), "has an ACL that cannot be read"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.second, aclProblem(c.first.data(), c.first.size(), 1000)) << c.first.size();
  }
}
