// What a site run may touch: files below OUT that it made itself, never through a link and
// never elsewhere, whatever links below OUT or a forged state say.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "site/SiteState.h"
#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"
#include "support/SiteSummary.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

bool MakeLink(const fs::path& target, const fs::path& link) {
  std::error_code error;
  fs::create_symlink(target, link, error);
  return !error && fs::is_symlink(fs::symlink_status(link));
}

// Every file and link below `root` but those below `skip`: its bytes (or where a link
// points) and its modification time.
using Snapshot = std::map<std::string, std::pair<std::string, fs::file_time_type>>;
Snapshot SnapshotOf(const fs::path& root, const fs::path& skip) {
  Snapshot files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (error)
      break;
    const fs::path& path = it->path();
    if (path == skip) {
      it.disable_recursion_pending();
      continue;
    }
    const fs::file_status status = fs::symlink_status(path);
    if (fs::is_symlink(status)) {
      files[path.string()] = {"-> " + fs::read_symlink(path).string(), {}};
    } else if (fs::is_regular_file(status)) {
      files[path.string()] = {FileBytes(path.string()), fs::last_write_time(path)};
    }
  }
  return files;
}

// The state in `out` with `lines` added before its check line, sealed again as a run
// would seal it: the check vouches for the bytes, not for who wrote them.
void ForgeState(const ScopedTempDir& dir, const std::string& lines) {
  const std::string path = dir.PathOf("out/.ht-tarvix-site");
  std::string text = FileBytes(path);
  ASSERT_FALSE(text.empty());
  text.resize(text.rfind('\n', text.size() - 2) + 1);  // without its check line
  dir.WriteFile("out/.ht-tarvix-site", WithCheckLine(text + lines));
}

// The identity fields a state record gives a file.
std::string IdentityFields(const std::string& path) {
  platform::FileStatus status;
  EXPECT_TRUE(platform::StatusOf(path, &status));
  const platform::FileStamp stamp = platform::StampOf(path);
  return std::to_string(stamp.time) + "\t" + std::to_string(stamp.size) + "\t";
}
std::string DeviceInode(const std::string& path) {
  platform::FileStatus status;
  EXPECT_TRUE(platform::StatusOf(path, &status));
  return std::to_string(status.device) + "\t" + std::to_string(status.inode);
}

// Published copies moved out of OUT and put back as a link to where they went, their
// sources deleted: the next run removed the files the link led to.
TEST(SiteBoundary, StaleFilesReachedThroughALinkStay) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("src/assets"));
  dir.WriteFile("src/index.md", "# Home\n");
  dir.WriteFile("src/assets/a.png", "A");
  dir.WriteFile("src/assets/b.png", "B");
  ASSERT_EQ(RunProgram(dir.path(), {"src", "-o", "out"}).status, 0);
  fs::rename(dir.PathOf("out/assets"), dir.PathOf("master"));
  if (!MakeLink(fs::path("..") / "master", dir.PathOf("out/assets")))
    GTEST_SKIP() << "links cannot be made here";
  fs::remove_all(dir.PathOf("src/assets"));
  const RunResult r = RunProgram(dir.path(), {"src", "-o", "out"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(dir.ReadFile("master/a.png"), "A");
  EXPECT_EQ(dir.ReadFile("master/b.png"), "B");
  for (const char* name : {"a.png", "b.png"})
    EXPECT_NE(r.err.find(Native("out/assets/") + name + ": not removed, a link"), std::string::npos)
        << r.err;
  EXPECT_EQ(SummaryOf(r.err).removed, 0) << r.err;
  // Said once: the records are no longer ours.
  const RunResult again = RunProgram(dir.path(), {"src", "-o", "out"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(fs::exists(dir.PathOf("master/a.png")));
}

// A record added to the state and resealed, with a link below OUT, deleted any file whose
// size and time were known; records that no walk could give went by the same way.
TEST(SiteBoundary, ForgedRecordsRemoveNothingOutside) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("src"));
  fs::create_directories(dir.PathOf("victim"));
  fs::create_directories(dir.PathOf("out"));
  dir.WriteFile("src/index.md", "# Home\n");
  dir.WriteFile("victim/secret.txt", "secret");
  dir.WriteFile("out/mine.txt", "mine");
  ASSERT_EQ(RunProgram(dir.path(), {"src", "-o", "out"}).status, 0);
  const bool linked = MakeLink("..", dir.PathOf("out/up"));
  const std::string secret = dir.PathOf("victim/secret.txt");
  const std::string mine = dir.PathOf("out/mine.txt");
  const std::string fields = IdentityFields(secret);
  std::string forged = "copy\t" + fields + "up/victim/secret.txt\t" + DeviceInode(secret) + "\n" +
                       "copy\t" + fields + "../victim/secret.txt\t" + DeviceInode(secret) + "\n" +
                       "made\t" + fields + "../victim/secret.txt\t" + DeviceInode(secret) + "\n" +
                       "page\tgone.md\t../victim/secret.txt\t" + fields + DeviceInode(secret) +
                       "\n" +
                       // A page record whose target is no page of its document, on a file
                       // of the user's below OUT.
                       "page\tgone.md\tmine.txt\t" + IdentityFields(mine) + DeviceInode(mine) +
                       "\n" + "folder\t..\n";
  ForgeState(dir, forged);
  const RunResult r = RunProgram(dir.path(), {"src", "-o", "out"});
  EXPECT_EQ(dir.ReadFile("victim/secret.txt"), "secret") << r.err;
  EXPECT_EQ(dir.ReadFile("out/mine.txt"), "mine") << r.err;
  EXPECT_EQ(SummaryOf(r.err).removed, 0) << r.err;
  if (linked) {
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(Native("out/up/victim/secret.txt") + ": not removed, a link"),
              std::string::npos)
        << r.err;
  }
}

// Links below OUT where a page, a copy's folder or a page's name belonged: the page was
// written into the victim's file, the copy into an autostart folder, the page over a
// document of SRC.
TEST(SiteBoundary, NothingIsWrittenThroughALink) {
  ScopedTempDir dir;
  for (const char* folder : {"src/x", "victim", "home/autostart", "out"})
    fs::create_directories(dir.PathOf(folder));
  dir.WriteFile("src/index.md", "# Home\n");
  dir.WriteFile("src/b.md", "# B\n");
  dir.WriteFile("src/c.md", "# C\n");
  dir.WriteFile("src/x/evil.desktop", "[Desktop Entry]\n");
  dir.WriteFile("victim/notes.html", "notes");
  if (!MakeLink(fs::path("..") / "victim" / "notes.html", dir.PathOf("out/index.html")) ||
      !MakeLink(fs::path("..") / "home" / "autostart", dir.PathOf("out/x")) ||
      !MakeLink(fs::path("..") / "src" / "b.md", dir.PathOf("out/c.html")))
    GTEST_SKIP() << "links cannot be made here";
  const Snapshot before = SnapshotOf(dir.path(), dir.PathOf("out"));
  for (int round = 0; round < 2; ++round) {
    const RunResult r = RunProgram(dir.path(), {"src", "-o", "out"});
    EXPECT_EQ(r.status, 1) << r.err;
    for (const char* name : {"out/index.html", "out/x/evil.desktop", "out/c.html"})
      EXPECT_NE(r.err.find(Native(name) + ": not written, a link"), std::string::npos)
          << round << r.err;
    EXPECT_EQ(SummaryOf(r.err).failed, 3) << r.err;
    EXPECT_EQ(SnapshotOf(dir.path(), dir.PathOf("out")), before);
    EXPECT_TRUE(fs::is_empty(dir.PathOf("home/autostart")));
    // The other page is there, as it would be without the links.
    EXPECT_NE(dir.ReadFile("out/b.html").find("<h1"), std::string::npos);
  }
}

// A rerun knows an unchanged page or highlighter file in one look at it, whatever folders
// lie on the way: a folder of pages moved out of OUT and put back as a link keeps its
// files as they are, and a page that must be made again there is refused, not written.
TEST(SiteBoundary, FolderMovedOutAndLinkedBackIsOnlyLookedAt) {
  ScopedTempDir dir;
  for (const char* folder : {"src/a", "away"})
    fs::create_directories(dir.PathOf(folder));
  dir.WriteFile("src/index.md", "# Home\n");
  dir.WriteFile("src/a/p.md", "# P\n");
  dir.WriteFile("src/a/code.md", "```cpp\nint a;\n```\n");
  RunResult r = RunProgram(dir.path(), {"src", "-o", "out"});
  ASSERT_EQ(r.status, 0) << r.err;
  fs::rename(dir.PathOf("out/a"), dir.PathOf("away/a"));
  if (!MakeLink(fs::path("..") / "away" / "a", dir.PathOf("out/a")))
    GTEST_SKIP() << "links cannot be made here";
  const Snapshot before = SnapshotOf(dir.PathOf("away"), {});
  r = RunProgram(dir.path(), {"src", "-o", "out"});
  EXPECT_EQ(SummaryOf(r.err).converted, 0) << r.err;
  EXPECT_EQ(SummaryOf(r.err).copied, 0) << r.err;
  EXPECT_EQ(SnapshotOf(dir.PathOf("away"), {}), before);

  dir.WriteFile("src/a/p.md", "# P again\n");
  dir.WriteFile("away/a/SyntaxHighlighter/styles/shColours.css", "changed there");
  const Snapshot changed = SnapshotOf(dir.PathOf("away"), {});
  r = RunProgram(dir.path(), {"src", "-o", "out"});
  EXPECT_EQ(r.status, 1) << r.err;
  for (const char* name : {"out/a/p.html", "out/a/SyntaxHighlighter/styles/shColours.css"})
    EXPECT_NE(r.err.find(Native(name) + ": not written, a link"), std::string::npos) << r.err;
  EXPECT_EQ(SnapshotOf(dir.PathOf("away"), {}), changed);
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir.PathOf("out/a"))));
}

// A listing record with the entry "d.." made the walk convert ../other.md into
// ../other.html, outside both SRC and OUT.
TEST(SiteBoundary, ForgedListingIsListedAgain) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("src"));
  dir.WriteFile("src/index.md", "# Home\n");
  dir.WriteFile("other.md", "# Other\n");
  ASSERT_EQ(RunProgram(dir.path(), {"src", "-o", "out"}).status, 0);
  platform::FileStatus status;
  ASSERT_TRUE(platform::StatusOf(dir.PathOf("src"), &status));
  // A listing as the walk keeps it for a settled folder, but with entries no listing
  // keeps; a forged folder name too.
  ForgeState(dir, "listing\t" + std::to_string(status.changeTime) + "\t" +
                      std::to_string(status.device) + "\t" + std::to_string(status.inode) +
                      "\t\tfindex.md\td..\n" + "listing\t1\t1\t1\t..\tfother.md\n");
  const RunResult r = RunProgram(dir.path(), {"src", "-o", "out"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(dir.PathOf("other.html")));
  EXPECT_FALSE(fs::exists(dir.PathOf("out/../other.html")));
  EXPECT_EQ(SummaryOf(r.err).converted + SummaryOf(r.err).upToDate, 1) << r.err;
}

// Two sites built into one OUT removed each other's pages at every run.
TEST(SiteBoundary, AnotherSitesOutputIsRefused) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("a"));
  fs::create_directories(dir.PathOf("b"));
  dir.WriteFile("a/one.md", "# One\n");
  dir.WriteFile("b/two.md", "# Two\n");
  ASSERT_EQ(RunProgram(dir.path(), {"a", "-o", "out"}).status, 0);
  const Snapshot before = SnapshotOf(dir.path(), "");
  const RunResult r = RunProgram(dir.path(), {"b", "-o", "out"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(
      r.err.find("out: made from another folder \"" + platform::RealPath(dir.PathOf("a")) + "\""),
      std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("tarvix: out: use another output folder"), std::string::npos) << r.err;
  EXPECT_EQ(SnapshotOf(dir.path(), ""), before);
  // The site that made it goes on as before.
  const RunResult again = RunProgram(dir.path(), {"a", "-o", "out"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(SummaryOf(again.err).upToDate, 1) << again.err;
}

// Random layouts of links below OUT (to folders and files, dangling, into SRC, outside),
// random changes in SRC and a forged record now and then, three runs each: nothing
// outside OUT changes, and every target a link stands in the way of is said.
TEST(SiteBoundary, RandomLinksBelowOutput) {
  {
    ScopedTempDir probe;
    if (!MakeLink("x", probe.PathOf("link")))
      GTEST_SKIP() << "links cannot be made here";
  }
  const std::vector<std::string> folders{"", "d", "d/e", "f"};
  std::mt19937 random(20261210);
  const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  constexpr int kLayouts = 120;
  for (int layout = 0; layout < kLayouts; ++layout) {
    ScopedTempDir dir;
    for (const char* folder : {"src/d/e", "src/f", "outside/sub"})
      fs::create_directories(dir.PathOf(folder));
    dir.WriteFile("outside/keep.html", "outside");
    dir.WriteFile("outside/sub/a.html", "outside a");
    std::vector<std::string> sources;
    for (int i = 0; i < 6; ++i) {
      const std::string folder = folders[pick(folders.size())];
      const std::string name =
          (folder.empty() ? "" : folder + "/") + (pick(3) == 0 ? "f" : "p") + std::to_string(i);
      const bool document = name.find("/f") == std::string::npos && name[0] != 'f';
      sources.push_back(name + (document ? ".md" : ".txt"));
      dir.WriteFile("src/" + sources.back(), document ? "# T" + std::to_string(i) + "\n" : "x");
    }
    ASSERT_EQ(RunProgram(dir.path(), {"src", "-o", "out"}).status, 0);
    for (int round = 0; round < 3; ++round) {
      // Links where outputs are or will be.
      for (int k = 0; k < 3; ++k) {
        const std::string& source = sources[pick(sources.size())];
        std::string output = source.size() > 3 && source.substr(source.size() - 3) == ".md"
                                 ? source.substr(0, source.size() - 3) + ".html"
                                 : source;
        if (pick(2) == 0 && output.find('/') != std::string::npos)
          output = output.substr(0, output.find('/'));  // the folder on its way
        const fs::path at = dir.PathOf("out/" + output);
        std::error_code error;
        fs::remove_all(at, error);
        fs::create_directories(at.parent_path(), error);
        const int depth = static_cast<int>(std::count(output.begin(), output.end(), '/')) + 1;
        fs::path up;
        for (int d = 0; d < depth; ++d)
          up /= "..";
        const fs::path targets[] = {up / "outside", up / "outside" / "keep.html",
                                    up / "src" / source, up / "nowhere", up / "src"};
        fs::create_symlink(targets[pick(5)], at, error);
      }
      // Changes in SRC: a source deleted, one renamed.
      const std::size_t gone = pick(sources.size());
      fs::remove(dir.PathOf("src/" + sources[gone]));
      if (pick(2) == 0) {
        const std::size_t moved = pick(sources.size());
        std::error_code error;
        fs::rename(dir.PathOf("src/" + sources[moved]),
                   dir.PathOf("src/" + sources[moved] + "-" + std::to_string(round) + ".md"),
                   error);
      }
      if (pick(3) == 0 && fs::exists(dir.PathOf("out/.ht-tarvix-site"))) {
        const std::string keep = dir.PathOf("outside/keep.html");
        ForgeState(dir, "copy\t" + IdentityFields(keep) + "../outside/keep.html\t" +
                            DeviceInode(keep) + "\n");
      }
      const Snapshot before = SnapshotOf(dir.path(), dir.PathOf("out"));
      const RunResult r = RunProgram(dir.path(), {"src", "-o", "out"});
      EXPECT_EQ(SnapshotOf(dir.path(), dir.PathOf("out")), before)
          << "layout " << layout << " round " << round << "\n"
          << r.err;
      ASSERT_TRUE(r.status == 0 || r.status == 1) << r.err;
      // Each output of this walk that a link stands in the way of is said.
      for (const auto& entry : fs::recursive_directory_iterator(dir.PathOf("src"))) {
        if (!entry.is_regular_file())
          continue;
        std::string output = fs::relative(entry.path(), dir.PathOf("src")).generic_string();
        if (output.size() > 3 && output.substr(output.size() - 3) == ".md")
          output = output.substr(0, output.size() - 3) + ".html";
        bool blocked = false;
        fs::path at = dir.PathOf("out");
        for (const auto& name : fs::path(output)) {
          at /= name;
          blocked = blocked || fs::is_symlink(fs::symlink_status(at));
        }
        if (blocked) {
          EXPECT_NE(r.err.find(Native("out/" + output) + ": not written, a link"),
                    std::string::npos)
              << "layout " << layout << " round " << round << " " << output << "\n"
              << r.err;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tarvix
