// Runs that nobody watches: scripts judge them by status, output and log.
#include <sys/mount.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "harness.h"
#include "launcherVersion.h"

namespace e2e {
namespace {

const char kInstaller[] = "installer/install";

// Overlapping cron jobs: each run finds no agent, but only one installs;
// the others wait for it and start what it installed.
TEST_F(E2eTest, RunsStartedTogetherInstallOnce) {
  Ini ini;
  ini.installerLocation = kInstaller;
  writeIni(ini);
  AgentInstall slow = agent("1.0.0");
  slow.pauseMs = 200;
  writeInstaller(kInstaller, installs(slow));
  run({"--version"});  // puts the launcher into the package

  const int kRuns = 5;
  std::vector<Result> results(kRuns);
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < kRuns; ++i) {
    threads.emplace_back([&, i] {
      ++ready;
      while (!go) std::this_thread::yield();
      results[i] = run({"-silent"});
    });
  }
  while (ready < kRuns) std::this_thread::yield();
  go = true;
  for (std::thread& t : threads) t.join();
  for (const Result& r : results) EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(1u, installerRuns().size());
}

// Asked for a log, an admin learns when there is none or it is cut short.
TEST_F(E2eTest, LogOnAFullDiskIsNamedOnStderr) {
  writeIni(Ini());
  installAgent(agent("1.0.0"));
  std::string small = root + "/small";
  mkdirs(small);
  ASSERT_EQ(0, mount("tmpfs", small.c_str(), "tmpfs", 0, "size=8k")) << strerror(errno);
  // More than the file system holds, in lines that cross stdio's buffers.
  std::vector<std::string> args = {"-log", small + "/launcher.log", "-managerArgs"};
  for (int i = 0; i < 10; ++i) args.push_back(std::string(1000 + i, 'a'));
  Result r = run(args);
  umount2(small.c_str(), MNT_DETACH);
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("setup: cannot write the log to " + small +
                "/launcher.log: No space left on device\n",
            r.err);
  EXPECT_EQ(1u, agentRuns().size());
}

// "What are you?" installs nothing, even where nothing else could run.
TEST_F(E2eTest, VersionInstallsNothing) {
  for (const char* form : {"--version", "-version"}) {
    Result r = run({form, "-wait"});  // no INI file yet
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(std::string("launcher ") + LAUNCHER_VERSION + "\n", r.out);
    EXPECT_EQ("", r.err);
  }
  Ini ini;
  ini.installerLocation = kInstaller;
  writeIni(ini);
  writeInstaller(kInstaller, installsAgent("1.0.0"));
  for (const char* form : {"--version", "-version"}) {
    SCOPED_TRACE(form);
    Result r = run({form, "-wait"});
    EXPECT_EQ(0, r.status);
  }
  // Where the parser reads a value, it is one.
  EXPECT_EQ(0, run({"-input", "--version", "-wait"}).status);
  EXPECT_EQ(1u, installerRuns().size());
  EXPECT_EQ(1u, agentRuns().size());
  EXPECT_NE(std::string::npos, agentRuns()[0].argv.back().find("--version"));
}

}  // namespace
}  // namespace e2e
