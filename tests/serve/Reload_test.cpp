// What a rerun changed, and the events that name it to the pages open in a browser; the
// snapshots of a folder that polling compares.
#include "serve/Reload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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
