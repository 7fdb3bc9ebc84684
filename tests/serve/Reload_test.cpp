// What a rerun changed, and the events that name it to the pages open in a browser; the
// snapshots of a folder that polling compares.
#include "serve/Reload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "site/Site_CL.h"
#include "support/ScopedTempDir.h"

namespace tarvix::serve {
namespace {

TEST(Reload, NamesWhatARerunChangedOnceEach) {
  EXPECT_EQ(UrlPathsOf({"z/touched.html", "a.html", "b c.html", "a.html", "gone.png"}),
            (std::vector<std::string>{"/a.html", "/b%20c.html", "/gone.png", "/z/touched.html"}));
  EXPECT_TRUE(UrlPathsOf({}).empty());
}

// The site run tells what it wrote and removed, which is all a preview's pages hear of:
// a page made, a copy made, an output removed; nothing on a run that changed nothing.
TEST(Reload, SiteRunNamesTheOutputsItChanged) {
  ScopedTempDir dir;
  std::filesystem::create_directories(dir.PathOf("site/d"));
  dir.WriteFile("site/a.md", "A\n");
  dir.WriteFile("site/d/b c.md", "B\n");
  dir.WriteFile("site/d/s.css", "p {}\n");
  const std::vector<std::string> arguments{dir.PathOf("site"), "-o", dir.PathOf("out"), "-j", "1"};
  const auto run = [&] {
    Site_CL site(arguments);
    EXPECT_EQ(site.Run(), 0);
    std::vector<std::string> outputs = site.OutputsChanged();
    std::sort(outputs.begin(), outputs.end());
    return outputs;
  };
  EXPECT_EQ(run(), (std::vector<std::string>{"a.html", "d/b c.html", "d/s.css"}));
  EXPECT_TRUE(run().empty());
  dir.WriteFile("site/d/b c.md", "B again\n");
  dir.WriteFile("site/d/s.css", "p { color: red }\n");
  EXPECT_EQ(run(), (std::vector<std::string>{"d/b c.html", "d/s.css"}));
  std::filesystem::remove(dir.PathOf("site/a.md"));
  EXPECT_EQ(run(), std::vector<std::string>{"a.html"});
}

// The preview hands each run's state to the next: taken while the files are the ones that
// run left, read from the files again once anything changed them; and the first pages a
// run writes are told as they come.
TEST(Reload, KeptStateIsTakenWhileItsFilesStay) {
  namespace fs = std::filesystem;
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("site"));
  constexpr int kDocuments = 700;  // a state large enough for news
  const auto document = [&](int n, const std::string& text) {
    dir.WriteFile("site/d" + std::to_string(n) + ".md",
                  "# " + text + "\n\n[next](d" + std::to_string(n + 1) + ".html)\n");
  };
  for (int n = 0; n < kDocuments; ++n)
    document(n, "Page " + std::to_string(n));
  const std::vector<std::string> arguments{dir.PathOf("site"), "-o", dir.PathOf("out"), "-j", "2"};
  std::optional<Site_CL::KeptState> kept;
  std::vector<std::string> told;
  const auto run = [&](bool keep) {
    Site_CL site(arguments);
    if (keep && kept)
      site.TakeKeptState(std::move(*kept));
    kept.reset();
    told.clear();
    std::mutex toldMutex;
    site.TellPagesWritten([&](const std::string& page) {
      const std::lock_guard<std::mutex> lock(toldMutex);
      told.push_back(page);
    });
    EXPECT_EQ(site.Run(), 0);
    std::vector<std::string> outputs = site.OutputsChanged();
    kept = site.KeepState();
    std::sort(outputs.begin(), outputs.end());
    return outputs;
  };
  const std::vector<std::string> first = run(true);
  EXPECT_EQ(first.size(), static_cast<std::size_t>(kDocuments));
  EXPECT_EQ(told.size(), 8u);
  for (const std::string& page : told)
    EXPECT_TRUE(std::binary_search(first.begin(), first.end(), page)) << page;
  ASSERT_TRUE(kept);
  ASSERT_GT(fs::file_size(dir.PathOf("out/.ht-tarvix-site")), 64u * 1024);

  document(3, "Edited");
  EXPECT_EQ(run(true), std::vector<std::string>{"d3.html"});
  EXPECT_EQ(told, std::vector<std::string>{"d3.html"});
  ASSERT_TRUE(fs::exists(dir.PathOf("out/.ht-tarvix-news")));
  EXPECT_TRUE(run(true).empty());
  EXPECT_TRUE(run(false).empty());

  // The news removed by hand: the state file alone is older, and the pages edited since it
  // was written are made again, kept state or not.
  document(5, "Edited");
  EXPECT_EQ(run(true), std::vector<std::string>{"d5.html"});
  ASSERT_TRUE(kept);
  fs::remove(dir.PathOf("out/.ht-tarvix-news"));
  EXPECT_EQ(run(true), (std::vector<std::string>{"d3.html", "d5.html"}));
  // The state file written again by another run: this one's kept state is not its.
  document(7, "Edited");
  std::optional<Site_CL::KeptState> older = std::move(kept);
  EXPECT_EQ(run(false), std::vector<std::string>{"d7.html"});
  kept = std::move(older);
  EXPECT_TRUE(run(true).empty());
}

TEST(Reload, EncodesPathsAndEvents) {
  EXPECT_EQ(EncodeUrlPath("/docs/a b/\xc3\xa9.html"), "/docs/a%20b/%C3%A9.html");
  EXPECT_EQ(EncodeUrlPath("/x\ny?#%.html"), "/x%0Ay%3F%23%25.html");
  EXPECT_EQ(EncodeUrlPath("/A-z_0.9~/"), "/A-z_0.9~/");
  EXPECT_EQ(ReloadEvent({"/a.html", "/s.css"}), "data: /a.html\ndata: /s.css\n\n");
  EXPECT_EQ(ReloadEvent({}), "data:\n\n");
}

TEST(Reload, SnapshotSkipsHiddenNamesAndSeesNestedFiles) {
  ScopedTempDir dir;
  std::filesystem::create_directories(dir.PathOf("d/.hidden"));
  dir.WriteFile("top.html", "x");
  dir.WriteFile("d/inner.css", "yy");
  dir.WriteFile("d/.hidden/h.html", "z");
  dir.WriteFile(".state", "s");
  const OutputSnapshot snapshot = TakeSnapshot(dir.path());
  std::vector<std::string> names;
  for (const auto& [name, stamp] : snapshot)
    names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"/d/inner.css", "/top.html"}));
  EXPECT_EQ(snapshot.at("/d/inner.css").size, 2u);
}

}  // namespace
}  // namespace tarvix::serve
