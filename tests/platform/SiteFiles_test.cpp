// The file services of a site run on either system: folder listing, stamps, folders made,
// real paths, and copies and writes that replace their target in one step.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Below.h"
#include "platform/Platform.h"
#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"

namespace tarvix::platform {
namespace {

namespace fs = std::filesystem;

TEST(SiteFiles, ListFolderStampAndMakeFolders) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("a/sub"));
  dir.WriteFile("a/f.md", "12345");
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(ListFolder(dir.PathOf("a"), &entries));
  std::sort(entries.begin(), entries.end(),
            [](const auto& x, const auto& y) { return x.name < y.name; });
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "f.md");
  EXPECT_EQ(entries[0].kind, EntryKind::File);
  EXPECT_FALSE(entries[0].link);
  EXPECT_EQ(entries[1].name, "sub");
  EXPECT_EQ(entries[1].kind, EntryKind::Folder);
  EXPECT_FALSE(ListFolder(dir.PathOf("missing"), &entries));

  const FileStamp stamp = StampOf(dir.PathOf("a/f.md"));
  EXPECT_TRUE(stamp.exists);
  EXPECT_EQ(stamp.size, 5u);
  fs::last_write_time(dir.PathOf("a/f.md"),
                      fs::last_write_time(dir.PathOf("a/f.md")) + std::chrono::seconds(3));
  EXPECT_NE(StampOf(dir.PathOf("a/f.md")).time, stamp.time);
  EXPECT_FALSE(StampOf(dir.PathOf("a/none")).exists);

  EXPECT_TRUE(MakeFolders(dir.PathOf(Native("x/y/z"))));
  EXPECT_TRUE(IsFolder(dir.PathOf("x/y/z")));
  EXPECT_TRUE(MakeFolders(dir.PathOf(Native("x/y"))));
  // A file in the way is no folder.
  EXPECT_FALSE(MakeFolders(dir.PathOf(Native("a/f.md/q"))));
  EXPECT_FALSE(IsFolder(dir.PathOf("a/f.md")));

  EXPECT_EQ(RealPath(dir.PathOf(Native("x/y/../y/z"))), RealPath(dir.PathOf(Native("x/y/z"))));
  EXPECT_EQ(RealPath(dir.PathOf("nothing")), "");
}

TEST(SiteFiles, FolderLooksAnswerAsTheWholePathsDo) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("in/sub"));
  fs::create_directories(dir.PathOf("elsewhere"));
  dir.WriteFile("in/f.md", "12345");
  dir.WriteFile("in/sub/g.md", "ab");
  dir.WriteFile("elsewhere/h.md", "xyz");
  std::vector<std::string> names = {"",        "f.md",   "sub",         "sub/g.md",
                                    "missing", "f.md/x", "sub/../f.md", "sub/"};
#ifndef _WIN32
  // Links are followed, as a look by the whole path follows them.
  fs::create_symlink(dir.PathOf("elsewhere"), dir.PathOf("in/link"));
  fs::create_symlink(dir.PathOf("in/f.md"), dir.PathOf("in/sub/to-f.md"));
  fs::create_symlink(dir.PathOf("in/nothing"), dir.PathOf("in/dangling"));
  names.insert(names.end(), {"link", "link/h.md", "sub/to-f.md", "dangling", "link/../in/f.md"});
#endif
  const std::string in = dir.PathOf("in");
  FolderLooks looks;
  looks.Open(in);
  for (const std::string& name : names) {
    const std::string relative = Native(name);
    const std::string whole = relative.empty() ? in : in + kPathSeparator + relative;
    FileStatus byPath;
    FileStatus byLooks;
    const bool found = StatusOf(whole, &byPath);
    ASSERT_EQ(looks.StatusOf(relative, &byLooks), found) << name;
    if (found) {
      EXPECT_EQ(byLooks.kind, byPath.kind) << name;
      EXPECT_EQ(byLooks.size, byPath.size) << name;
      EXPECT_EQ(byLooks.device, byPath.device) << name;
      EXPECT_EQ(byLooks.inode, byPath.inode) << name;
      EXPECT_EQ(byLooks.changeTime, byPath.changeTime) << name;
    }
    EXPECT_EQ(looks.StampOf(relative), StampOf(whole)) << name;
  }
  FileStatus status;
  ASSERT_TRUE(looks.StatusOf("", &status));
  EXPECT_EQ(status.kind, FileKind::Folder);
  EXPECT_EQ(looks.StampOf("f.md").size, 5u);
  EXPECT_FALSE(looks.StampOf("missing").exists);
#ifndef _WIN32
  EXPECT_EQ(looks.StampOf(Native("link/h.md")).size, 3u);
#endif
  // Nothing is kept between looks: a file made or changed since is seen as it is now.
  dir.WriteFile("in/new.md", "1");
  EXPECT_EQ(looks.StampOf("new.md").size, 1u);
  dir.WriteFile("in/f.md", "123");
  EXPECT_EQ(looks.StampOf("f.md").size, 3u);

  // A folder that cannot be held is looked at by the whole paths, once it is there.
  FolderLooks later;
  later.Open(dir.PathOf("later"));
  EXPECT_FALSE(later.StatusOf("", &status));
  EXPECT_FALSE(later.StampOf("a.md").exists);
  fs::create_directories(dir.PathOf("later"));
  dir.WriteFile("later/a.md", "ab");
  EXPECT_TRUE(later.StatusOf("", &status));
  EXPECT_EQ(later.StampOf("a.md").size, 2u);
}

// Writes `bytes` (or copies `from`) as `relative` below `below`; the commit's result.
BelowResult WriteBelow(const BelowFolder& below, const std::string& relative,
                       std::string_view bytes, const std::string* from = nullptr) {
  NewFileBelow file;
  FileIdentity identity;
  BelowResult result = file.Create(below, relative);
  if (result != BelowResult::kDone)
    return result;
  if (!(from ? file.CopyFrom(*from) : file.Write(bytes)) || !file.Finish(true, &identity))
    return BelowResult::kFailed;
  return file.Commit(true);
}

TEST(SiteFiles, CopiesAndWritesReplaceInOneStep) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("out"));
  BelowFolder below;
  ASSERT_TRUE(below.Open(dir.PathOf("out")));
  const std::string from = dir.WriteFile("pic.svg", "<svg/>");
  fs::last_write_time(from, fs::last_write_time(from) - std::chrono::hours(5));
  const std::string to = dir.PathOf(Native("out/pic.svg"));
  dir.WriteFile("out/pic.svg", "old");
  ASSERT_EQ(WriteBelow(below, "pic.svg", {}, &from), BelowResult::kDone);
  EXPECT_EQ(dir.ReadFile("out/pic.svg"), "<svg/>");
  // The copy keeps the source's time, so an unchanged copy is known by its stamp.
  EXPECT_EQ(StampOf(to), StampOf(from));
  const std::string missing = dir.PathOf("missing");
  EXPECT_NE(WriteBelow(below, "pic.svg", {}, &missing), BelowResult::kDone);
  EXPECT_EQ(dir.ReadFile("out/pic.svg"), "<svg/>");

  ASSERT_EQ(WriteBelow(below, "state", "one\ntwo\n"), BelowResult::kDone);
  EXPECT_EQ(dir.ReadFile("out/state"), "one\ntwo\n");
  EXPECT_NE(WriteBelow(below, "none/state", "x"), BelowResult::kDone);

  // A protected target stays; nothing is left beside it.
  fs::permissions(to, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const std::string fresh = dir.WriteFile("new.svg", "<new/>");
  EXPECT_EQ(WriteBelow(below, "pic.svg", {}, &fresh), BelowResult::kFailed);
  EXPECT_EQ(dir.ReadFile("out/pic.svg"), "<svg/>");
  EXPECT_EQ(FolderEntries(dir.PathOf("out")), (std::vector<std::string>{"pic.svg", "state"}));
  fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
}

TEST(SiteFiles, ReadRegularFileKeepsToItsLimit) {
  ScopedTempDir dir;
  dir.WriteFile("state", "0123456789");
  fs::create_directories(dir.PathOf("folder"));
  std::string bytes = "left over";
  EXPECT_EQ(ReadRegularFile(dir.PathOf("state"), 10, &bytes), ReadResult::kRead);
  EXPECT_EQ(bytes, "0123456789");
  EXPECT_EQ(ReadRegularFile(dir.PathOf("state"), 9, &bytes), ReadResult::kTooLarge);
  EXPECT_EQ(bytes, "");
  EXPECT_EQ(ReadRegularFile(dir.PathOf("missing"), 10, &bytes), ReadResult::kMissing);
  const ReadResult folder = ReadRegularFile(dir.PathOf("folder"), 10, &bytes);
  EXPECT_TRUE(folder == ReadResult::kNotRegular || folder == ReadResult::kFailed);
  EXPECT_EQ(bytes, "");
  // The change time (which the walk keeps folders' listings by) follows any change, even
  // one that sets the modification time back.
  FileStatus before;
  ASSERT_TRUE(StatusOf(dir.PathOf("state"), &before));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  fs::last_write_time(dir.PathOf("state"),
                      fs::last_write_time(dir.PathOf("state")) - std::chrono::hours(24));
  FileStatus after;
  ASSERT_TRUE(StatusOf(dir.PathOf("state"), &after));
  // Windows gives no change time that can be relied on: 0 there, always.
  if (before.changeTime == 0)
    EXPECT_EQ(after.changeTime, 0);
  else
    EXPECT_GT(after.changeTime, before.changeTime);
  FileStatus missing;
  EXPECT_FALSE(StatusOf(dir.PathOf("missing"), &missing));
}

#ifndef _WIN32
TEST(SiteFiles, PagesCommittedOnManyThreadsKeepTheMask) {
  // The mode of a new page was found by setting the process's umask to 0 and back, so a
  // page committed on another thread meanwhile got 0666, and the mask could stay 0.
  ScopedTempDir dir;
  const mode_t mask = ::umask(022);
  BelowFolder below;
  ASSERT_TRUE(below.Open(dir.path()));
  constexpr int kThreads = 6;
  constexpr int kFiles = 150;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&below, t] {
      for (int i = 0; i < kFiles; ++i) {
        (void)WriteBelow(below, std::to_string(t) + "-" + std::to_string(i), "x");
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(::umask(mask), 022);
  int wrong = 0;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    if ((entry.status().permissions() & fs::perms::mask) != static_cast<fs::perms>(0644))
      ++wrong;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(FolderEntries(dir.path()).size(), static_cast<std::size_t>(kThreads * kFiles));
}
#endif

}  // namespace
}  // namespace tarvix::platform
