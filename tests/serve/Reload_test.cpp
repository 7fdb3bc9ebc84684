// The snapshots of the output folder and the events that name what changed.
#include "serve/Reload.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/ScopedTempDir.h"

namespace tarvix::serve {
namespace {

platform::FileStamp Stamp(std::int64_t time, std::uint64_t size) {
  return platform::FileStamp{true, time, size};
}

TEST(Reload, NamesWhatChangedBetweenSnapshots) {
  const OutputSnapshot before{{"/a.html", Stamp(1, 10)},
                              {"/gone.png", Stamp(1, 5)},
                              {"/same.css", Stamp(2, 3)},
                              {"/z/touched.html", Stamp(3, 4)}};
  const OutputSnapshot after{{"/a.html", Stamp(1, 11)},
                             {"/b c.html", Stamp(4, 1)},
                             {"/same.css", Stamp(2, 3)},
                             {"/z/touched.html", Stamp(5, 4)}};
  EXPECT_EQ(ChangedPaths(before, after),
            (std::vector<std::string>{"/a.html", "/b%20c.html", "/gone.png", "/z/touched.html"}));
  EXPECT_TRUE(ChangedPaths(after, after).empty());
  EXPECT_EQ(ChangedPaths({}, {{"/n.html", Stamp(1, 1)}}), std::vector<std::string>{"/n.html"});
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
