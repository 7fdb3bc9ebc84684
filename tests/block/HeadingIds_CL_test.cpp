// The heading id table: how many headings had an id before, across growth of the table.
#include "block/HeadingIds_CL.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvix {
namespace {

TEST(HeadingIds, CountsEachIdAcrossGrowth) {
  HeadingIds_CL ids;
  EXPECT_EQ(ids.Take("intro"), 0);
  EXPECT_EQ(ids.Take("intro"), 1);
  EXPECT_EQ(ids.Take("Intro"), 0);
  EXPECT_EQ(ids.Take(""), 0);
  EXPECT_EQ(ids.Take(""), 1);
  // Enough ids to grow the table several times; every one is still counted apart.
  for (int i = 0; i < 5000; ++i)
    EXPECT_EQ(ids.Take("h" + std::to_string(i)), 0);
  for (int i = 0; i < 5000; i += 7)
    EXPECT_EQ(ids.Take("h" + std::to_string(i)), 1);
  EXPECT_EQ(ids.Take("intro"), 2);
  EXPECT_EQ(ids.size(), 5003u);
  ids.clear();
  EXPECT_EQ(ids.Take("intro"), 0);
}

TEST(HeadingIds, ReserveKeepsWhatWasTaken) {
  HeadingIds_CL ids;
  EXPECT_EQ(ids.Take("a"), 0);
  ids.Reserve(100000);
  EXPECT_EQ(ids.Take("a"), 1);
  EXPECT_EQ(ids.Take("b"), 0);
  // A smaller reserve changes nothing.
  ids.Reserve(1);
  EXPECT_EQ(ids.Take("b"), 1);
  // The two steps: a look up started and then finished.
  const std::size_t hash = ids.Find("c");
  EXPECT_EQ(ids.Take("c", hash), 0);
  EXPECT_EQ(ids.Take("c", ids.Find("c")), 1);
}

}  // namespace
}  // namespace tarvix
