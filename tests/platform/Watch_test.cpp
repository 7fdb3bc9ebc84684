// Folder watching: a change below a watched folder is told, a quiet folder is not, and a
// folder made after the watch started is watched once Start sees it.
#include "platform/Watch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"

namespace tarvix::platform {
namespace {

// A change is told within this long; the wait returns as soon as it is.
constexpr int kPatience = 5000;

TEST(Watch, TellsChangesBelowWatchedFolders) {
  ScopedTempDir dir;
  std::filesystem::create_directories(dir.PathOf("src/deep/er"));
  std::filesystem::create_directories(dir.PathOf("templates"));
  dir.WriteFile("templates/page.html", "t");
  FolderWatch watch;
  if (!watch.Start({{dir.PathOf("src"), true, {}}, {dir.PathOf("templates"), false, {}}}))
    GTEST_SKIP() << "this system cannot watch folders (the preview polls)";
  if (kWindows && std::getenv("WINEPREFIX") != nullptr)
    GTEST_SKIP() << "wine does not report these changes to a folder watch";
  EXPECT_EQ(watch.Wait(50), WatchWait::Quiet);

  const char* changes[] = {"src/deep/er/a.md", "src/top.md", "templates/page.html"};
  for (const char* change : changes) {
    dir.WriteFile(change, "x");
    EXPECT_EQ(watch.Wait(kPatience), WatchWait::Changed) << change;
    // Everything noticed so far was taken by that wait.
    while (watch.Wait(50) == WatchWait::Changed) {
    }
  }
  std::filesystem::remove(dir.PathOf("src/top.md"));
  EXPECT_EQ(watch.Wait(kPatience), WatchWait::Changed);
  while (watch.Wait(50) == WatchWait::Changed) {
  }
  // A folder made later: a change in it is told once Start has seen it, and a change made
  // before that Start is not lost.
  std::filesystem::create_directories(dir.PathOf("src/new"));
  while (watch.Wait(50) == WatchWait::Changed) {
  }
  dir.WriteFile("src/deep/b.md", "x");
  ASSERT_TRUE(watch.Start({{dir.PathOf("src"), true, {}}, {dir.PathOf("templates"), false, {}}}));
  EXPECT_EQ(watch.Wait(kPatience), WatchWait::Changed);
  while (watch.Wait(50) == WatchWait::Changed) {
  }
  dir.WriteFile("src/new/c.md", "x");
  EXPECT_EQ(watch.Wait(kPatience), WatchWait::Changed);
}

// A site of more folders than an older system's whole share of watches: watched where the
// system gives more, and a Start after each rerun neither lists them all again nor loses
// the news that came before it.
TEST(Watch, ManyFoldersAreWatchedAndStartKeepsTheNews) {
  ScopedTempDir dir;
  constexpr int kFolders = 4500;
  for (int i = 0; i < kFolders; ++i)
    std::filesystem::create_directories(
        dir.PathOf("src/f" + std::to_string(i / 100) + "/g" + std::to_string(i)));
  long long limit = 0;
  std::ifstream("/proc/sys/fs/inotify/max_user_watches") >> limit;
  if (limit < 2 * (kFolders + 100))
    GTEST_SKIP() << "this system gives too few watches";
  if (kWindows && std::getenv("WINEPREFIX") != nullptr)
    GTEST_SKIP() << "wine does not report these changes to a folder watch";
  FolderWatch watch;
  const std::vector<WatchedFolder> folders{{dir.PathOf("src"), true, {}}};
  ASSERT_TRUE(watch.Start(folders));
  dir.WriteFile("src/f44/g4499/a.md", "x");
  EXPECT_EQ(watch.Wait(kPatience), WatchWait::Changed);
  while (watch.Wait(50) == WatchWait::Changed) {
  }
  // A change that Start takes from the queue is still told.
  dir.WriteFile("src/f3/g300/b.md", "x");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(watch.Start(folders));
  EXPECT_EQ(watch.Wait(0), WatchWait::Changed);
  while (watch.Wait(50) == WatchWait::Changed) {
  }
  // Folders made two deep, and one moved in from outside: watched after the next Start.
  std::filesystem::create_directories(dir.PathOf("src/f1/new/deeper"));
  std::filesystem::create_directories(dir.PathOf("outside/moved"));
  std::filesystem::rename(dir.PathOf("outside"), dir.PathOf("src/f2/in"));
  EXPECT_EQ(watch.Wait(kPatience), WatchWait::Changed);
  while (watch.Wait(50) == WatchWait::Changed) {
  }
  ASSERT_TRUE(watch.Start(folders));
  for (const char* file : {"src/f1/new/deeper/c.md", "src/f2/in/moved/d.md"}) {
    dir.WriteFile(file, "x");
    EXPECT_EQ(watch.Wait(kPatience), WatchWait::Changed) << file;
    while (watch.Wait(50) == WatchWait::Changed) {
    }
  }
}

TEST(Watch, TemporaryFolderIsMadeAndRemoved) {
  std::string a;
  std::string b;
  ASSERT_TRUE(CreateTemporaryFolder("tarvix-watch-test-", &a));
  ASSERT_TRUE(CreateTemporaryFolder("tarvix-watch-test-", &b));
  EXPECT_NE(a, b);
  EXPECT_TRUE(std::filesystem::is_directory(a));
  std::ofstream(a + "/f") << "x";
  EXPECT_FALSE(RemoveEmptyFolder(a));  // not empty
  std::filesystem::remove(a + "/f");
  EXPECT_TRUE(RemoveEmptyFolder(a));
  EXPECT_TRUE(RemoveEmptyFolder(b));
  EXPECT_FALSE(std::filesystem::exists(a));
  EXPECT_FALSE(std::filesystem::exists(b));
}

TEST(Watch, StampTimesAsUnixSeconds) {
  ScopedTempDir dir;
  const std::string file = dir.WriteFile("f", "x");
  std::filesystem::last_write_time(file,
                                   std::filesystem::file_time_type::clock::from_sys(
                                       std::chrono::sys_seconds(std::chrono::seconds(1000000000))));
  EXPECT_EQ(UnixSeconds(StampOf(file).time), 1000000000);
}

}  // namespace
}  // namespace tarvix::platform
