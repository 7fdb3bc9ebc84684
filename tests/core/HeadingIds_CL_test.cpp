// The heading id table: how many headings had an id before, across growth of the table.
#include "core/HeadingIds_CL.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/Convert.h"

namespace tarvix {
namespace {

// "h" and the number. (Built by appending: an optimizing g++ 12 warns falsely on
// "h" + std::to_string(i).)
std::string NumberedId(int i) {
  std::string id = "h";
  id += std::to_string(i);
  return id;
}

TEST(HeadingIds, CountsEachIdAcrossGrowth) {
  HeadingIds_CL ids;
  EXPECT_EQ(ids.Take("intro"), 0);
  EXPECT_EQ(ids.Take("intro"), 1);
  EXPECT_EQ(ids.Take("Intro"), 0);
  EXPECT_EQ(ids.Take(""), 0);
  EXPECT_EQ(ids.Take(""), 1);
  // Enough ids to grow the table several times; every one is still counted apart.
  for (int i = 0; i < 5000; ++i)
    EXPECT_EQ(ids.Take(NumberedId(i)), 0);
  for (int i = 0; i < 5000; i += 7)
    EXPECT_EQ(ids.Take(NumberedId(i)), 1);
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
  ids.clear();
  // The two steps, a look up started and then finished, over ids that stay in a buffer of
  // the caller's.
  std::string keys = "c x c";
  EXPECT_EQ(ids.Take(keys, 0, 1, ids.Find("c")), 0);
  EXPECT_EQ(ids.Take(keys, 2, 1, ids.Find("x")), 0);
  EXPECT_EQ(ids.Take(keys, 4, 1, ids.Find("c")), 1);
  // The buffer grows and moves; the ids are found at their offsets in it.
  keys.append(Repeat(" c", 10000));
  for (std::size_t at = 6; at < keys.size(); at += 2)
    EXPECT_EQ(ids.Take(keys, at, 1, ids.Find("c")), static_cast<std::int32_t>(at / 2 - 1));
  EXPECT_EQ(ids.size(), 2u);
  // Enough ids in the caller's buffer to grow the table, which finds them there again.
  ids.clear();
  std::string page;
  std::vector<std::size_t> offsets;
  for (int i = 0; i < 3000; ++i) {
    offsets.push_back(page.size());
    page.append("id" + std::to_string(i));
    page.push_back(' ');
  }
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 3000; ++i) {
      const std::string_view id =
          std::string_view(page).substr(offsets[i], 2 + std::to_string(i).size());
      EXPECT_EQ(ids.Take(page, offsets[i], id.size(), ids.Find(id)), round) << i;
    }
  }
  EXPECT_EQ(ids.size(), 3000u);
}

TEST(HeadingIds, IdsOfEveryLengthStayApart) {
  // Ids that share their first eight bytes, or differ only in their last, and the empty
  // id: each is counted apart.
  HeadingIds_CL ids;
  for (int length = 0; length < 40; ++length) {
    const std::string a(static_cast<std::size_t>(length), 'a');
    EXPECT_EQ(ids.Take(a), 0) << length;
    EXPECT_EQ(ids.Take(a + "b"), 0) << length;
  }
  for (int length = 0; length < 40; ++length) {
    const std::string a(static_cast<std::size_t>(length), 'a');
    EXPECT_EQ(ids.Take(a), 1) << length;
    EXPECT_EQ(ids.Take(a + "b"), 1) << length;
  }
  EXPECT_EQ(ids.size(), 80u);
}

}  // namespace
}  // namespace tarvix
