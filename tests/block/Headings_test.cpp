#include <gtest/gtest.h>

#include "support/Convert.h"

namespace tarvix {
namespace {

TEST(Headings, LevelIsCappedAndIdIsTheCleanedText) {
  // The seventh `#` starts the heading text.
  EXPECT_EQ(ToHtml("####### x\n"), "<h6 id=\"# x\"># x</h6>\n");
  EXPECT_EQ(ToHtml("## Say \"hi\" (it's)\n"),
            "<h2 id=\"Say hi its\">Say &quot;hi&quot; (it&apos;s)</h2>\n");
  // The id comes from the source text and is not escaped; the closing run stays.
  EXPECT_EQ(ToHtml("# a & b #\n"), "<h1 id=\"a & b #\">a &amp; b #</h1>\n");
  EXPECT_EQ(ToHtml("#x"), "<h1 id=\"x\">x</h1>\n");
}

TEST(Headings, RepeatedIdsAreNumberedPerExactText) {
  EXPECT_EQ(ToHtml("# T\n# T\n# t\n# T\n"),
            "<h1 id=\"T\">T</h1>\n<h1 id=\"T-1\">T</h1>\n<h1 id=\"t\">t</h1>\n"
            "<h1 id=\"T-2\">T</h1>\n");
  // A numbered id is not itself remembered.
  EXPECT_EQ(ToHtml("# T\n# T\n# T-1\n"),
            "<h1 id=\"T\">T</h1>\n<h1 id=\"T-1\">T</h1>\n<h1 id=\"T-1\">T-1</h1>\n");
}

TEST(Headings, IdsOfLinesThatReadOtherThanTheirBytes) {
  // Ids come from the text a line renders from, not from its bytes: an escape drops its
  // backslash, and bytes that are no UTF-8 (a NUL among them) become U+FFFD, so lines of
  // different bytes can share an id and lines of the same bytes get the same.
  EXPECT_EQ(ToHtml("# a \\* b\n# a * b\n# a \\* b\n"),
            "<h1 id=\"a * b\">a * b</h1>\n<h1 id=\"a * b-1\">a * b</h1>\n"
            "<h1 id=\"a * b-2\">a * b</h1>\n");
  EXPECT_EQ(ToHtml(std::string("#  x\0y \r\n# x\0y\n# caf\xC3\xA9\n# caf\xC3\xA9\n", 31)),
            "<h1 id=\"x\xEF\xBF\xBDy\">x\xEF\xBF\xBDy</h1>\n<h1 "
            "id=\"x\xEF\xBF\xBDy-1\">x\xEF\xBF\xBDy</h1>\n"
            "<h1 id=\"caf\xC3\xA9\">caf\xC3\xA9</h1>\n<h1 id=\"caf\xC3\xA9-1\">caf\xC3\xA9</h1>\n");
  // Headings a few lines apart, with line ends of either kind, and empty ones.
  EXPECT_EQ(ToHtml("# \"a\" (b)\r\n# a b\n\n\n# a b\n#\n#\n# \n"),
            "<h1 id=\"a b\">&quot;a&quot; (b)</h1>\n<h1 id=\"a b-1\">a b</h1>\n"
            "<h1 id=\"a b-2\">a b</h1>\n<h1 id=\"\"></h1>\n<h1 id=\"-1\"></h1>\n"
            "<h1 id=\"-2\"></h1>\n");
  // Long ids, eight bytes at a time, with a left-out character at every offset.
  for (std::size_t k = 0; k < 20; ++k) {
    const std::string line = std::string(k, 'x') + "(" + std::string(20 - k, 'y');
    const std::string id = std::string(k, 'x') + std::string(20 - k, 'y');
    EXPECT_EQ(ToHtml("# " + line + "\n\n# " + id + "\n"),
              "<h1 id=\"" + id + "\">" + line + "</h1>\n<h1 id=\"" + id + "-1\">" + id + "</h1>\n")
        << k;
  }
}

TEST(Headings, LinesTakenFromTheirBytesReadAsTheirTokens) {
  // Lines whose tokens write their own bytes are written from the line; the others are
  // read token by token. Both must give the same heading.
  EXPECT_EQ(ToHtml("#  a\n# a  b\n# c \nx"),
            "<h1 id=\"a\">a</h1>\n<h1 id=\"a b\">a b</h1>\n<h1 id=\"c\">c</h1>\n<p>x</p>\n");
  EXPECT_EQ(ToHtml("# a  \nx"), "<h1 id=\"a\">a<br /></h1>\n<p>x</p>\n");
  EXPECT_EQ(ToHtml("# a | b"), "<h1 id=\"a\">a</h1>\n<p>| b</p>");
  EXPECT_EQ(ToHtml("# a = b ##\n# a \"b\" (c)\n# a\tb"),
            "<h1 id=\"a = b ##\">a = b ##</h1>\n<h1 id=\"a b c\">a &quot;b&quot; (c)</h1>\n"
            "<h1 id=\"a b\">a b</h1>\n");
  // A backslash before the line end escapes it: the heading reads on into the next line.
  EXPECT_EQ(ToHtml("#\\\nx"), "<h1 id=\"x\">x</h1>\n");
  // A byte inside a line at every place of the sixteen-byte blocks, on a line that ends
  // the input and on one that does not (blanks at the ends are trimmed, and a star there
  // opens emphasis).
  struct Case {
    const char* source;
    const char* id;
    const char* html;
  };
  for (const Case& c : {Case{"&", "&", "&amp;"}, Case{"\"", "", "&quot;"}, Case{"  ", " ", " "},
                        Case{"*", "*", "*"}, Case{" ", " ", " "}}) {
    for (std::size_t k = 1; k < 40; ++k) {
      const std::string x(k, 'x');
      const std::string y(40 - k, 'y');
      const std::string expected =
          "<h2 id=\"" + x + c.id + y + "\">" + x + c.html + y + "</h2>\n";
      EXPECT_EQ(ToHtml("## " + x + c.source + y + "\n"), expected) << c.source << k;
      EXPECT_EQ(ToHtml("## " + x + c.source + y), expected) << c.source << k;
    }
  }
}

TEST(Headings, SecondPassNumbersIdsAfresh) {
  EXPECT_EQ(ToHtml("# A\n# A\n[x][r]\n\n[r]: u\n"),
            "<h1 id=\"A\">A</h1>\n<h1 id=\"A-1\">A</h1>\n<p><a href=\" u\">x</a></p>\n"
            "<p></p>\n");
}

TEST(Headings, UnderlinesMakeHeadingsOfTheParagraph) {
  EXPECT_EQ(ToHtml("a\n=====\n"), "<h1>a</h1>\n");
  EXPECT_EQ(ToHtml("a\nb\n= =\n"), "<h1>a b</h1>\n");
  EXPECT_EQ(ToHtml("a\n-\n"), "<h2>a</h2>\n");
  EXPECT_EQ(ToHtml("a\n----\n"), "<h2>a</h2>\n");
  EXPECT_EQ(ToHtml("a\n***\n"), "<h2>a</h2>\n");
  // What follows a rule on its line starts the next block.
  EXPECT_EQ(ToHtml("a\n--- b\n"), "<h2>a</h2>\n<p> b </p>\n");
}

TEST(Headings, UnderlineNotAloneOnItsLineIsText) {
  EXPECT_EQ(ToHtml("a\n== b\n"), "<p>a== b </p>\n");
  EXPECT_EQ(ToHtml("a\n-b\n"), "<p>a-b </p>\n");
  EXPECT_EQ(ToHtml("a\n- -x\n"), "<p>a</p>\n<ul>\n<li>-x </li>\n</ul>\n");
  // At the end of the input no line end follows the run.
  EXPECT_EQ(ToHtml("a\n====="), "<p>a=====</p>\n");
  EXPECT_EQ(ToHtml("a\n-"), "<p>a-</p>\n");
}

TEST(Paragraphs, StopAtBlockStarts) {
  EXPECT_EQ(ToHtml("a\nb\n\nc"), "<p>a b</p>\n<p>c</p>\n");
  EXPECT_EQ(ToHtml("a\n  b\n"), "<p>a</p>\n<p>b </p>\n");
  EXPECT_EQ(ToHtml("a\n# h\n"), "<p>a</p>\n<h1 id=\"h\">h</h1>\n");
  EXPECT_EQ(ToHtml("a\n1. b\n"), "<p>a</p>\n<ol>\n<li>b </li>\n</ol>\n");
  EXPECT_EQ(ToHtml("a\n> q\n"), "<p>a</p>\n<blockquote><p>q</p>\n</blockquote>");
}

}  // namespace
}  // namespace tarvix
