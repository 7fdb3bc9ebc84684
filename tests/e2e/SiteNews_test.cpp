// A large site's state after a run that changed a few pages: the state file stays as it was
// and the news beside it tells the change, the next run reads the two as one, and news that
// is damaged, of another state or a link is never trusted.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/Platform.h"
#include "site/SiteState.h"
#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"
#include "support/SiteSummary.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

constexpr int kFolders = 20;
constexpr int kPerFolder = 20;
constexpr int kDocuments = kFolders * kPerFolder;

std::string DocumentPath(int n) {
  return "site/f" + std::to_string(n / kPerFolder) + "/d" + std::to_string(n) + ".md";
}

// Enough documents, each with a title and links, that the state is written as news.
void WriteLargeSite(const ScopedTempDir& dir) {
  for (int f = 0; f < kFolders; ++f)
    fs::create_directories(dir.PathOf("site/f" + std::to_string(f)));
  for (int n = 0; n < kDocuments; ++n) {
    dir.WriteFile(DocumentPath(n), "# Document number " + std::to_string(n) +
                                       "\n\nSee [the next](d" + std::to_string(n + 1) +
                                       ".md) and [a section](#document-number).\n");
  }
}

Summary RunSite(const ScopedTempDir& dir) {
  const RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(r.status, 0) << r.err;
  return SummaryOf(r.err);
}

std::string NewsPath() {
  return "out/" + std::string(kSiteNewsName);
}
std::string StatePath() {
  return "out/" + std::string(kSiteStateName);
}

TEST(SiteNews, AFewChangedPagesAreWrittenAsNews) {
  ScopedTempDir dir;
  WriteLargeSite(dir);
  ASSERT_EQ(RunSite(dir).converted, kDocuments);
  const std::string state = dir.ReadFile(StatePath());
  ASSERT_GT(state.size(), 64u * 1024);
  EXPECT_FALSE(fs::exists(dir.PathOf(NewsPath())));

  dir.WriteFile(DocumentPath(7), "# Changed\n");
  Summary s = RunSite(dir);
  EXPECT_EQ(s.converted, 1);
  EXPECT_EQ(dir.ReadFile(StatePath()), state);
  const std::string news = dir.ReadFile(NewsPath());
  EXPECT_LT(news.size(), 2048u) << news;
  EXPECT_NE(dir.ReadFile("out/f0/d7.html").find("Changed"), std::string::npos);

  // Read back with the state: nothing to do, and nothing written.
  s = RunSite(dir);
  EXPECT_EQ(s.converted, 0);
  EXPECT_EQ(s.upToDate, kDocuments);
  EXPECT_EQ(dir.ReadFile(NewsPath()), news);

  // A document gone and one new: its page goes, the new one comes, and the news knows both.
  fs::remove(dir.PathOf(DocumentPath(30)));
  dir.WriteFile("site/f3/new.md", "# New\n");
  s = RunSite(dir);
  EXPECT_EQ(s.converted, 1);
  EXPECT_EQ(s.removed, 1);
  EXPECT_FALSE(fs::exists(dir.PathOf("out/f1/d30.html")));
  s = RunSite(dir);
  EXPECT_EQ(s.converted, 0);
  EXPECT_EQ(s.upToDate, kDocuments);
  EXPECT_EQ(dir.ReadFile(StatePath()), state);
  SiteState read;
  bool taken = false;
  ASSERT_EQ(ParseSiteState(state, &read, dir.ReadFile(NewsPath()), &taken), StateRead::kRead);
  EXPECT_TRUE(taken);
  EXPECT_EQ(read.pages.size(), static_cast<std::size_t>(kDocuments));

  // Many pages changed: the state is written whole again, and the news goes.
  for (int n = 100; n < 300; ++n)
    dir.WriteFile(DocumentPath(n), "# Rewritten " + std::to_string(n) + "\n");
  s = RunSite(dir);
  EXPECT_EQ(s.converted, 200);
  EXPECT_FALSE(fs::exists(dir.PathOf(NewsPath())));
  EXPECT_NE(dir.ReadFile(StatePath()), state);
  EXPECT_EQ(RunSite(dir).upToDate, kDocuments);
}

TEST(SiteNews, NewsDamagedOrOfAnotherStateIsNotTrusted) {
  ScopedTempDir dir;
  WriteLargeSite(dir);
  ASSERT_EQ(RunSite(dir).converted, kDocuments);
  dir.WriteFile(DocumentPath(3), "# Changed\n");
  ASSERT_EQ(RunSite(dir).converted, 1);
  const std::string news = dir.ReadFile(NewsPath());

  // A byte changed: said, and a full run that writes the state whole.
  std::string damaged = news;
  damaged[damaged.size() / 2] ^= 1;
  dir.WriteFile(NewsPath(), damaged);
  RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find(Native(NewsPath()) + ": StateFile ignored"), std::string::npos) << r.err;
  EXPECT_EQ(SummaryOf(r.err).converted, kDocuments);
  EXPECT_FALSE(fs::exists(dir.PathOf(NewsPath())));
  ASSERT_EQ(RunSite(dir).upToDate, kDocuments);

  // News of the state as it was before it was written whole again: left out, silently.
  dir.WriteFile(NewsPath(), news);
  r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(r.err.find("StateFile"), std::string::npos) << r.err;
  EXPECT_EQ(SummaryOf(r.err).upToDate, kDocuments) << r.err;
}

// The news' name is the run's own: a link put there is replaced, and what it names is not
// read as news nor written through.
TEST(SiteNews, LinkInPlaceOfTheNewsIsReplacedNotFollowed) {
  if (kWindows)
    GTEST_SKIP() << "links need privileges here";
  ScopedTempDir dir;
  WriteLargeSite(dir);
  ASSERT_EQ(RunSite(dir).converted, kDocuments);
  dir.WriteFile(DocumentPath(3), "# Changed\n");
  ASSERT_EQ(RunSite(dir).converted, 1);
  dir.WriteFile("victim", dir.ReadFile(NewsPath()));
  fs::remove(dir.PathOf(NewsPath()));
  fs::create_symlink(dir.PathOf("victim"), dir.PathOf(NewsPath()));
  const std::string before = dir.ReadFile("victim");

  dir.WriteFile(DocumentPath(4), "# Changed too\n");
  const Summary s = RunSite(dir);
  // Without its news the state is an older one: the page changed then is made again.
  EXPECT_EQ(s.converted, 2);
  EXPECT_EQ(dir.ReadFile("victim"), before);
  EXPECT_FALSE(fs::is_symlink(dir.PathOf(NewsPath())));
  EXPECT_TRUE(fs::is_regular_file(dir.PathOf(NewsPath())));
  EXPECT_EQ(RunSite(dir).upToDate, kDocuments);
}

// News is input like the state: records sealed into it by hand, with a link below OUT,
// remove nothing outside OUT and none of the user's files in it.
TEST(SiteNews, ForgedNewsRemovesNothingOutside) {
  ScopedTempDir dir;
  WriteLargeSite(dir);
  fs::create_directories(dir.PathOf("victim"));
  fs::create_directories(dir.PathOf("out"));
  dir.WriteFile("victim/secret.txt", "secret");
  dir.WriteFile("out/mine.txt", "mine");
  ASSERT_EQ(RunSite(dir).converted, kDocuments);
  std::error_code error;
  fs::create_symlink("..", dir.PathOf("out/up"), error);
  const bool linked = !error;
  const auto identity = [&](const std::string& path, bool device) {
    platform::FileStatus status;
    EXPECT_TRUE(platform::StatusOf(path, &status));
    const platform::FileStamp stamp = platform::StampOf(path);
    return device ? std::to_string(status.device) + "\t" + std::to_string(status.inode)
                  : std::to_string(stamp.time) + "\t" + std::to_string(stamp.size) + "\t";
  };
  const std::string secret = dir.PathOf("victim/secret.txt");
  const std::string mine = dir.PathOf("out/mine.txt");
  const std::string fields = identity(secret, false);
  const std::string forged =
      "copy\t" + fields + "up/victim/secret.txt\t" + identity(secret, true) + "\n" + "copy\t" +
      fields + "../victim/secret.txt\t" + identity(secret, true) + "\n" + "made\t" + fields +
      "../victim/secret.txt\t" + identity(secret, true) + "\n" + "page\tgone.md\tmine.txt\t" +
      identity(mine, false) + identity(mine, true) + "\n" + "folder\t..\n";
  const std::string state = dir.ReadFile(StatePath());
  const std::size_t check = state.rfind('\n', state.size() - 2) + 1;
  const std::string news = "tarvix-news 3\nbase\t" + state.substr(check + 6) + "keep\t0\t" +
                           std::to_string(check) + "\ntext\t" + std::to_string(forged.size()) +
                           "\n" + forged;
  dir.WriteFile(NewsPath(), WithCheckLine(news));
  const RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(r.err.find("StateFile"), std::string::npos) << r.err;
  EXPECT_EQ(dir.ReadFile("victim/secret.txt"), "secret") << r.err;
  EXPECT_EQ(dir.ReadFile("out/mine.txt"), "mine") << r.err;
  EXPECT_EQ(SummaryOf(r.err).removed, 0) << r.err;
  EXPECT_EQ(SummaryOf(r.err).upToDate, kDocuments) << r.err;
  if (linked) {
    EXPECT_NE(r.err.find(Native("out/up/victim/secret.txt") + ": not removed, a link"),
              std::string::npos)
        << r.err;
  }
}

// News that cannot be written is no failure: the state is written whole instead.
TEST(SiteNews, FolderInPlaceOfTheNewsMeansTheStateWrittenWhole) {
  ScopedTempDir dir;
  WriteLargeSite(dir);
  ASSERT_EQ(RunSite(dir).converted, kDocuments);
  const std::string state = dir.ReadFile(StatePath());
  fs::create_directories(dir.PathOf(NewsPath() + "/inside"));
  dir.WriteFile(DocumentPath(3), "# Changed\n");
  const Summary s = RunSite(dir);
  EXPECT_EQ(s.converted, 1);
  EXPECT_EQ(s.failed, 0);
  EXPECT_NE(dir.ReadFile(StatePath()), state);
  EXPECT_TRUE(fs::is_directory(dir.PathOf(NewsPath() + "/inside")));
  EXPECT_EQ(RunSite(dir).upToDate, kDocuments);
}

}  // namespace
}  // namespace tarvix
