// The set of views the site run looks paths up in.
#include "site/ViewSet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvix {
namespace {

TEST(ViewSet, InsertsEachViewOnceAndFindsItAgain) {
  ViewSet set(2);
  const std::vector<std::string> owned = {"a/b.html", "a", "", "a/b.html", "b", "", "a/b"};
  const bool added[] = {true, true, true, false, true, false, true};
  for (std::size_t i = 0; i < owned.size(); ++i)
    EXPECT_EQ(set.Insert(owned[i]), added[i]) << i << " " << owned[i];
  EXPECT_EQ(set.Size(), 5u);
  // Found by the bytes, not by where they lie; an empty view without data is the empty
  // entry too.
  const std::string copy = "a/b.html";
  EXPECT_TRUE(set.Contains(copy));
  EXPECT_TRUE(set.Contains(std::string_view()));
  for (const char* absent : {"a/b.htm", "A", "b/", "a/b.html/"})
    EXPECT_FALSE(set.Contains(absent)) << absent;

  // An empty set, and one grown far past the room it was made with.
  const ViewSet none;
  EXPECT_FALSE(none.Contains(""));
  EXPECT_FALSE(none.Contains("x"));
  std::vector<std::string> many;
  for (int i = 0; i < 5000; ++i)
    many.push_back("folder/" + std::to_string(i) + ".html");
  ViewSet grown(1);
  for (const std::string& path : many)
    EXPECT_TRUE(grown.Insert(path));
  for (const std::string& path : many)
    EXPECT_FALSE(grown.Insert(path));
  EXPECT_EQ(grown.Size(), 5000u);
  for (const std::string& path : many)
    EXPECT_TRUE(grown.Contains(path)) << path;
  EXPECT_FALSE(grown.Contains("folder/5000.html"));
}

}  // namespace
}  // namespace tarvix
