#include <gtest/gtest.h>

#include <string>

#include "support/Convert.h"

namespace tarvix {
namespace {

// `lines` bullet lines "- x", each indented two blanks deeper than the one before.
std::string Staircase(int lines) {
  std::string doc;
  for (int i = 0; i < lines; ++i)
    doc += std::string(2 * i, ' ') + "- x\n";
  return doc;
}

// `open` nested lists, one item each, and `more` further items in the innermost one;
// the last item ends at the end of the input and keeps its space.
std::string NestedBullets(int open, int more) {
  std::string html;
  for (int i = 0; i < open; ++i)
    html += "<ul>\n<li>x</li>\n";
  for (int i = 0; i < more; ++i)
    html += "<li>x</li>\n";
  html.replace(html.size() - 6, 6, " </li>\n");
  for (int i = 0; i < open; ++i)
    html += "</ul>\n";
  return html;
}

TEST(Lists, BulletedListsNestByIndentation) {
  EXPECT_EQ(ToHtml("- a\n+ b\n"), "<ul>\n<li>a</li>\n<li>b </li>\n</ul>\n");
  EXPECT_EQ(ToHtml("- a\n\n- b"), "<ul>\n<li>a</li>\n</ul>\n<ul>\n<li>b</li>\n</ul>\n");
  EXPECT_EQ(ToHtml("- a\n - b\n"), "<ul>\n<li>a</li>\n<li>b </li>\n</ul>\n");
  EXPECT_EQ(ToHtml("- a\n  - b\n- c\n"),
            "<ul>\n<li>a</li>\n<ul>\n<li>b</li>\n</ul>\n<li>c </li>\n</ul>\n");
  // The innermost list's result passes through the middle one to the outermost.
  EXPECT_EQ(ToHtml("- a\n  - b\n    - c\n- d\n"),
            "<ul>\n<li>a</li>\n<ul>\n<li>b</li>\n<ul>\n<li>c</li>\n</ul>\n</ul>\n"
            "<li>d </li>\n</ul>\n");
  // A line of text continues the item.
  EXPECT_EQ(ToHtml("- a\nb\n"), "<ul>\n<li>a b </li>\n</ul>\n");
}

TEST(Lists, StarBulletCountsItsBlanks) {
  EXPECT_EQ(ToHtml("* a\n * b\n"), "<ul>\n<li>a</li>\n<li>b </li>\n</ul>\n");
  EXPECT_EQ(ToHtml("* a\n  * b\n"), "<ul>\n<li>a</li>\n<ul>\n<li>b </li>\n</ul>\n</ul>\n");
  // Three blanks after the star: a line two blanks in lies left of the list.
  EXPECT_EQ(ToHtml("*   a\n  - b\n"), "<ul>\n<li>a</li>\n</ul>\n<ul>\n<li>b </li>\n</ul>\n");
}

TEST(Lists, NumberedListsStartAtTheFirstNumber) {
  EXPECT_EQ(ToHtml("0. a\n"), "<ol start=\"0\">\n<li>a </li>\n</ol>\n");
  EXPECT_EQ(ToHtml("1. a\n1. b"), "<ol>\n<li>a</li>\n<li>b</li>\n</ol>\n");
  EXPECT_EQ(ToHtml("3. a\n  7. b"), "<ol start=\"3\">\n<li>a</li>\n<li>b</li>\n</ol>\n");
  EXPECT_EQ(ToHtml("1. a\n   2. b\n3. c"),
            "<ol>\n<li>a</li>\n<ol start=\"2\">\n<li>b</li>\n</ol>\n<li>c</li>\n</ol>\n");
}

TEST(Lists, OtherKindOfMarkerEndsTheList) {
  EXPECT_EQ(ToHtml("- a\n1. b\n"), "<ul>\n<li>a</li>\n</ul>\n<ol>\n<li>b </li>\n</ol>\n");
  EXPECT_EQ(ToHtml("- a\n  1. b"), "<ul>\n<li>a</li>\n</ul>\n<ol>\n<li>b</li>\n</ol>\n");
  EXPECT_EQ(ToHtml("1. a\n- b"), "<ol>\n<li>a</li>\n</ol>\n<ul>\n<li>b</li>\n</ul>\n");
  // Deep enough to nest, but the nested list finds no marker of its kind.
  EXPECT_EQ(ToHtml("- a\n    1. b"),
            "<ul>\n<li>a</li>\n<ul>\n</ul>\n</ul>\n<ol>\n<li>b</li>\n</ol>\n");
  EXPECT_EQ(ToHtml("1. a\n   - b"),
            "<ol>\n<li>a</li>\n<ol start=\"0\">\n</ol>\n</ol>\n<ul>\n<li>b</li>\n</ul>\n");
}

TEST(Lists, DeeperLineWithoutMarkerGivesEmptyNestedList) {
  EXPECT_EQ(ToHtml("- a\n    b\n"), "<ul>\n<li>a</li>\n<ul>\n</ul>\n</ul>\n<p>b </p>\n");
  EXPECT_EQ(ToHtml("1. a\n    b"), "<ol>\n<li>a</li>\n<ol start=\"0\">\n</ol>\n</ol>\n<p>b</p>\n");
}

TEST(Lists, PipeEndsTheItemAndTheList) {
  EXPECT_EQ(ToHtml("- a | b\n"), "<ul>\n<li>a </li>\n</ul>\n<p>| b\n</p>");
}

TEST(Lists, NestingStopsAtSixtyFourLists) {
  EXPECT_EQ(ToHtml(Staircase(64)), NestedBullets(64, 0));
  // Deeper lines become items of the innermost list.
  EXPECT_EQ(ToHtml(Staircase(65)), NestedBullets(64, 1));
}

TEST(Lists, DeepStaircaseFinishes) {
  // About 9 MB of indentation.
  EXPECT_EQ(ToHtml(Staircase(3000)), NestedBullets(64, 3000 - 64));
}

}  // namespace
}  // namespace tarvix
