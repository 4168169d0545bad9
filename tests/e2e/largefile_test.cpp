// Files the 32-bit calls cannot describe: an installer over 2 GiB, and a
// package whose files have inode numbers above 32 bits. Without large-file
// support the i386 launcher takes both for missing.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "harness.h"

namespace e2e {
namespace {

using LargeFileTest = E2eTest;

TEST_F(LargeFileTest, RunsAnInstallerOverTwoGigabytes) {
  Ini ini;
  ini.installerLocation = "installer/install";
  writeIni(ini);
  writeInstaller(ini.installerLocation, installsAgent("1.0.0", {"6"}));
  // Sparse: the program stays runnable, the file is 3 GiB long.
  std::string installer = pkgDir + "/" + ini.installerLocation;
  ASSERT_EQ(0, truncate(installer.c_str(), 3LL << 30)) << std::strerror(errno);

  Result r = run();
  EXPECT_EQ(6, r.status) << r.err;
  EXPECT_EQ(1u, installerRuns().size());
  EXPECT_EQ(1u, agentRuns().size());
}

// Undoes a mount when the test ends, however it ends.
struct Mounted {
  std::string path;
  ~Mounted() {
    if (!path.empty()) umount2(path.c_str(), MNT_DETACH);
  }
};

// The package lies on an overlay whose layers are on two file systems, so
// that overlayfs puts the layer number in the high bits of every inode
// number (xino). Needs a private mount namespace, which only a privileged
// test process gets.
TEST_F(LargeFileTest, StartsTheAgentFromAnOverlayWithWideInodeNumbers) {
  if (unshare(CLONE_NEWNS) != 0) {
    GTEST_SKIP() << "no private mount namespace (unshare: " << std::strerror(errno) << ")";
  }
  // Nothing mounted from here on may reach the rest of the machine.
  ASSERT_EQ(0, mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr)) << std::strerror(errno);
  std::string layer = root + "/layer", empty = root + "/empty";
  mkdirs(layer);
  mkdirs(empty);
  ASSERT_EQ(0, mount("tmpfs", layer.c_str(), "tmpfs", 0, nullptr)) << std::strerror(errno);
  Mounted layerMount{layer};

  // The package is built in the tmpfs layer and seen through the overlay.
  std::string err;
  ASSERT_TRUE(standin::copyFile(std::getenv("LAUNCHER_UNDER_TEST"), layer + "/setup", 0755, &err))
      << err;
  write(layer + "/setup.ini", Ini().text());
  std::string options = "lowerdir=" + layer + ":" + empty + ",xino=on";
  ASSERT_EQ(0, mount("overlay", pkgDir.c_str(), "overlay", MS_RDONLY, options.c_str()))
      << std::strerror(errno);
  Mounted packageMount{pkgDir};
  struct stat ini;
  ASSERT_EQ(0, stat(iniPath().c_str(), &ini)) << std::strerror(errno);
  ASSERT_GT(static_cast<uint64_t>(ini.st_ino), UINT32_MAX) << "the overlay kept narrow inode numbers";

  installAgent(agent("1.0.0", {"9"}));
  Result r = run();
  EXPECT_EQ(9, r.status) << r.err;
  EXPECT_EQ(1u, agentRuns().size());
}

}  // namespace
}  // namespace e2e
