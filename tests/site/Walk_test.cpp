// The walk of a site's input: what it finds in a folder wide enough to be looked at on two
// threads, by the folder held open and by whole paths alike.
#include "site/Walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> PathsOf(const std::vector<SiteDocument>& documents) {
  std::vector<std::string> paths;
  for (const SiteDocument& document : documents)
    paths.push_back(document.path);
  return paths;
}

TEST(Walk, WideLevelsFindEveryFolderOnce) {
  ScopedTempDir dir;
  // 300 folders in one level, each with a document and a copy; the one a link reaches
  // again, at the end of the level, is walked once.
  std::vector<std::string> expected;
  for (int i = 0; i < 300; ++i) {
    const std::string name = "f" + std::to_string(1000 + i);
    fs::create_directories(dir.PathOf("in/" + name));
    dir.WriteFile("in/" + name + "/a.md", "# A\n");
    dir.WriteFile("in/" + name + "/p.png", "x");
    expected.push_back(Native(name + "/a.md"));
  }
  std::sort(expected.begin(), expected.end());
#ifndef _WIN32
  fs::create_directory_symlink(dir.PathOf("in/f1000"), dir.PathOf("in/zlink"));
#endif
  const std::string in = dir.PathOf("in");
  platform::FolderLooks looks;
  looks.Open(in);
  for (const platform::FolderLooks* held : {&looks, static_cast<platform::FolderLooks*>(nullptr)}) {
    const WalkPlace place{in,    platform::RealPath(in),   std::nullopt,
                          false, platform::FileClockNow(), held};
    const SiteWalk walk = WalkInput(place, {});
    EXPECT_EQ(PathsOf(walk.documents), expected);
    EXPECT_EQ(walk.files.size(), 300u);
    // The input folder and its 300 folders; the link leads to one walked already.
    EXPECT_EQ(walk.folders.size(), 301u);
    EXPECT_EQ(walk.folders.front(), "");
    EXPECT_TRUE(walk.errors.empty());
  }
}

}  // namespace
}  // namespace tarvix
