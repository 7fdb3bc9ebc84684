// Files below a folder held open: made, replaced, removed and looked at without following a
// link met below it.
#include "platform/Below.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/ScopedTempDir.h"

namespace tarvix::platform {
namespace {

namespace fs = std::filesystem;

// Makes a link at `link` to `target`; false where this system (or this wine) cannot.
bool MakeLink(const fs::path& target, const fs::path& link, bool folder) {
  std::error_code error;
  if (folder)
    fs::create_directory_symlink(target, link, error);
  else
    fs::create_symlink(target, link, error);
  return !error && fs::is_symlink(fs::symlink_status(link));
}

// Writes `bytes` as `relative` below `below` through the layer; the identity it got.
FileIdentity WriteNew(const BelowFolder& below, const std::string& relative,
                      const std::string& bytes, BelowResult* result = nullptr) {
  NewFileBelow file;
  FileIdentity identity;
  BelowResult created = file.Create(below, relative);
  if (created == BelowResult::kDone) {
    EXPECT_TRUE(file.Write(bytes));
    EXPECT_TRUE(file.Finish(false, &identity));
    created = file.Commit(false);
  }
  if (result != nullptr)
    *result = created;
  return identity;
}

TEST(Below, MakesWritesLooksAndRemovesWhatItMade) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("out"));
  BelowFolder below;
  ASSERT_TRUE(below.Open(dir.PathOf("out")));
  ASSERT_EQ(below.MakeFolders("a/b"), BelowResult::kDone);
  EXPECT_EQ(below.Look("a/b"), BelowKind::kFolder);
  EXPECT_EQ(below.Look("a/none.html"), BelowKind::kMissing);
  EXPECT_EQ(below.Look("none/x"), BelowKind::kMissing);

  BelowResult result;
  const FileIdentity first = WriteNew(below, "a/b/page.html", "one", &result);
  ASSERT_EQ(result, BelowResult::kDone);
  EXPECT_EQ(dir.ReadFile("out/a/b/page.html"), "one");
  FileIdentity looked;
  EXPECT_EQ(below.Look("a/b/page.html", &looked), BelowKind::kFile);
  EXPECT_EQ(looked, first);
  EXPECT_EQ(looked.stamp.size, 3u);

  // Replaced in one step: a new file with an identity of its own.
  const FileIdentity second = WriteNew(below, "a/b/page.html", "two!", &result);
  ASSERT_EQ(result, BelowResult::kDone);
  EXPECT_EQ(dir.ReadFile("out/a/b/page.html"), "two!");
  EXPECT_NE(second, first);

  // The old identity no longer names the file there: it stays.
  EXPECT_EQ(below.RemoveIfSame("a/b/page.html", first), BelowResult::kChanged);
  EXPECT_EQ(dir.ReadFile("out/a/b/page.html"), "two!");
  EXPECT_EQ(below.RemoveIfSame("a/b/page.html", second), BelowResult::kDone);
  EXPECT_FALSE(fs::exists(dir.PathOf("out/a/b/page.html")));
  EXPECT_EQ(below.RemoveIfSame("a/b/page.html", second), BelowResult::kMissing);

  EXPECT_EQ(below.RemoveEmptyFolder("a"), BelowResult::kFailed);  // not empty
  EXPECT_EQ(below.RemoveEmptyFolder("a/b"), BelowResult::kDone);
  EXPECT_EQ(below.RemoveEmptyFolder("a"), BelowResult::kDone);
  // Nothing moved aside is left behind.
  EXPECT_TRUE(fs::is_empty(dir.PathOf("out")));

  // Names that are no plain names reach nothing.
  for (const char* bad : {"", "../x", "a/../../x", "./x", "a//b"})
    EXPECT_EQ(WriteNew(below, bad, "x", &result), FileIdentity()) << bad;
}

TEST(Below, TemporaryNamesAndTheSweep) {
  for (const char* name : {".tarvix-abcdefghij.tmp", ".tarvix-A1b2C3d4E5.tmp"})
    EXPECT_TRUE(IsTemporaryNameBelow(name)) << name;
  for (const char* name : {".tarvix-abcdefghi.tmp", ".tarvix-abcdefghijk.tmp",
                           ".tarvix-abcde_ghij.tmp", ".tarvix-abcdefghij.tmp2", ".TarvixBackup",
                           ".Tarvix123456", "tarvix-abcdefghij.tmp"})
    EXPECT_FALSE(IsTemporaryNameBelow(name)) << name;

  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("out/f/.tarvix-0123456789.tmp"));  // a folder: not ours
  dir.WriteFile("out/f/.tarvix-abcdefghij.tmp", "left");
  dir.WriteFile("out/f/.TarvixBackup", "mine");
  dir.WriteFile("out/f/page.html", "page");
  BelowFolder below;
  ASSERT_TRUE(below.Open(dir.PathOf("out")));
  EXPECT_EQ(below.RemoveTemporaries("f"), 1u);
  EXPECT_FALSE(fs::exists(dir.PathOf("out/f/.tarvix-abcdefghij.tmp")));
  EXPECT_TRUE(fs::exists(dir.PathOf("out/f/.TarvixBackup")));
  EXPECT_TRUE(fs::exists(dir.PathOf("out/f/page.html")));
  EXPECT_TRUE(fs::is_directory(dir.PathOf("out/f/.tarvix-0123456789.tmp")));

  // An uncommitted file goes with its writer.
  {
    NewFileBelow file;
    ASSERT_EQ(file.Create(below, "f/new.html"), BelowResult::kDone);
    EXPECT_TRUE(file.Write("partial"));
  }
  EXPECT_EQ(below.RemoveTemporaries("f"), 0u);

  for (const char* name : {"a", "a b.md", ".hidden", "a..b"})
    EXPECT_TRUE(IsPlainName(name)) << name;
  for (const char* name : {"", ".", "..", "a/b", "a\\b", "a\tb", "a\nb", "\x7f"})
    EXPECT_FALSE(IsPlainName(name)) << name;
}

// A link below the folder, where a folder, a file or the name itself was, is never
// followed: nothing outside is written, looked into or removed.
TEST(Below, IsStillKnowsOnlyTheVeryFileAsItWas) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("out"));
  BelowFolder below;
  ASSERT_TRUE(below.Open(dir.PathOf("out")));
  ASSERT_EQ(below.MakeFolders("a/b"), BelowResult::kDone);
  const FileIdentity first = WriteNew(below, "a/b/page.html", "one");
  ASSERT_NE(first, FileIdentity());
  EXPECT_TRUE(below.IsStill("a/b/page.html", first));
  // Not what we know of it: another file in its place, no identity, no plain name, nothing
  // there, and a name longer than any the system takes.
  const FileIdentity second = WriteNew(below, "a/b/page.html", "two!");
  EXPECT_FALSE(below.IsStill("a/b/page.html", first));
  EXPECT_TRUE(below.IsStill("a/b/page.html", second));
  EXPECT_FALSE(below.IsStill("a/b/page.html", FileIdentity()));
  EXPECT_FALSE(below.IsStill("a/b/../b/page.html", second));
  EXPECT_FALSE(below.IsStill("a/b/none.html", second));
  EXPECT_FALSE(below.IsStill(std::string(70000, 'x'), second));
  // A link to the very file is no file of ours.
  if (MakeLink(dir.PathOf("out/a/b/page.html"), dir.PathOf("out/a/link.html"), false)) {
    EXPECT_FALSE(below.IsStill("a/link.html", second));
  }
}

TEST(Below, LinksBelowAreNeverFollowed) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("out/real"));
  fs::create_directories(dir.PathOf("victim"));
  dir.WriteFile("victim/notes.html", "victim");
  if (!MakeLink(dir.PathOf("victim"), dir.PathOf("out/up"), true) ||
      !MakeLink(dir.PathOf("victim/notes.html"), dir.PathOf("out/index.html"), false))
    GTEST_SKIP() << "links cannot be made here";
  BelowFolder below;
  ASSERT_TRUE(below.Open(dir.PathOf("out")));
  FileIdentity victim;
  EXPECT_EQ(below.Look("up/notes.html", &victim), BelowKind::kLink);
  EXPECT_EQ(below.Look("index.html"), BelowKind::kLink);
  EXPECT_EQ(below.Look("up"), BelowKind::kLink);
  EXPECT_EQ(below.MakeFolders("up/deeper"), BelowResult::kLink);

  BelowResult result;
  (void)WriteNew(below, "up/new.html", "page", &result);
  EXPECT_EQ(result, BelowResult::kLink);
  (void)WriteNew(below, "index.html", "page", &result);
  EXPECT_EQ(result, BelowResult::kLink);
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir.PathOf("out/index.html"))));

  // The identity of the file outside, as a forged record would give it.
  FileIdentity outside;
  {
    BelowFolder top;
    ASSERT_TRUE(top.Open(dir.PathOf("victim")));
    ASSERT_EQ(top.Look("notes.html", &outside), BelowKind::kFile);
  }
  EXPECT_EQ(below.RemoveIfSame("up/notes.html", outside), BelowResult::kLink);
  EXPECT_EQ(below.RemoveIfSame("index.html", outside), BelowResult::kLink);
  EXPECT_EQ(below.RemoveEmptyFolder("up"), BelowResult::kLink);
  std::string bytes;
  EXPECT_NE(below.Read("up/notes.html", 100, &bytes), ReadResult::kRead);
  EXPECT_NE(below.Read("index.html", 100, &bytes), ReadResult::kRead);

  AppendFileBelow journal;
  EXPECT_EQ(journal.Open(below, "index.html"), BelowResult::kLink);
  EXPECT_EQ(journal.Open(below, "up/journal"), BelowResult::kLink);

  EXPECT_EQ(dir.ReadFile("victim/notes.html"), "victim");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.PathOf("victim")), fs::directory_iterator()),
            1);

  // The folder itself may be named through a link: the user's own.
  BelowFolder through;
  ASSERT_TRUE(through.Open(dir.PathOf("out/up")));
  EXPECT_EQ(through.Look("notes.html"), BelowKind::kFile);
}

TEST(Below, JournalAppendsWholeLines) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("out"));
  BelowFolder below;
  ASSERT_TRUE(below.Open(dir.PathOf("out")));
  {
    AppendFileBelow journal;
    ASSERT_EQ(journal.Open(below, "j"), BelowResult::kDone);
    EXPECT_TRUE(journal.Append("one\n"));
  }
  AppendFileBelow journal;
  ASSERT_EQ(journal.Open(below, "j"), BelowResult::kDone);
  EXPECT_TRUE(journal.Append("two\n"));
  FileIdentity identity;
  journal.Close(&identity);
  EXPECT_EQ(identity.stamp.size, 8u);
  EXPECT_EQ(dir.ReadFile("out/j"), "one\ntwo\n");
  std::string bytes;
  EXPECT_EQ(below.Read("j", 100, &bytes), ReadResult::kRead);
  EXPECT_EQ(bytes, "one\ntwo\n");
  EXPECT_EQ(below.Read("j", 3, &bytes), ReadResult::kTooLarge);
  EXPECT_EQ(below.RemoveIfSame("j", identity), BelowResult::kDone);
}

}  // namespace
}  // namespace tarvix::platform
