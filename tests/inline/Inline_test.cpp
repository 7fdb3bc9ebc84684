// The inline dispatcher through whole conversions: which token ends a run in which mode,
// line ends, hard breaks, references, and the bound on nested runs.
#include <gtest/gtest.h>

#include <string>

#include "support/Convert.h"

namespace tarvix {
namespace {

TEST(Inline, ParagraphLineEnds) {
  // A line end inside a paragraph is one space; the last line end of the input too.
  EXPECT_EQ(ToHtml("a\nb\n"), "<p>a b </p>\n");
  EXPECT_EQ(ToHtml("a \nb"), "<p>a  b</p>\n");
  EXPECT_EQ(ToHtml("a\n\nb\n"), "<p>a</p>\n<p>b </p>\n");
  // A line that begins with a blank or a heading starts the next block.
  EXPECT_EQ(ToHtml("a\n  b"), "<p>a</p>\n<p>b</p>\n");
  EXPECT_EQ(ToHtml("a\n# h\n"), "<p>a</p>\n<h1 id=\"h\">h</h1>\n");
  // Word runs, blanks and punctuation that opens nothing.
  EXPECT_EQ(ToHtml("a \t  b # c 1. d - e"), "<p>a b # c 1. d - e</p>\n");
  EXPECT_EQ(ToHtml("x (y) \"q\" 'a' p/q: r."),
            "<p>x (y) &quot;q&quot; &apos;a&apos; p/q: r.</p>\n");
}

TEST(Inline, HardBreaks) {
  EXPECT_EQ(ToHtml("a  \nb"), "<p>a<br />\nb</p>\n");
  // After a break, "=", "-" and a rule continue the text.
  EXPECT_EQ(ToHtml("a  \n=\n"), "<p>a<br />\n= </p>\n");
  EXPECT_EQ(ToHtml("a  \n-x"), "<p>a<br />\n-x</p>\n");
  EXPECT_EQ(ToHtml("a  \n---\n"), "<p>a<br />\n--- </p>\n");
  // A blank line, an indented line, a heading or a second break end the run.
  EXPECT_EQ(ToHtml("a  \n\nb"), "<p>a<br />\n</p>\n<p>b</p>\n");
  EXPECT_EQ(ToHtml("a  \n  b"), "<p>a<br />\n</p>\n<p>b</p>\n");
  EXPECT_EQ(ToHtml("a  \n# h"), "<p>a<br />\n</p>\n<h1 id=\"h\">h</h1>\n");
  // A heading ends at its break; the next line is a block of its own.
  EXPECT_EQ(ToHtml("# a  \nb"), "<h1 id=\"a\">a<br /></h1>\n<p>b</p>\n");
}

TEST(Inline, CharacterReferences) {
  EXPECT_EQ(ToHtml("&copy; &COPY; &Copy;"), "<p>&copy; &copy; &copy;</p>\n");
  EXPECT_EQ(ToHtml("&amp; &lt; &nbsp; &copy"), "<p>&amp;amp; &amp;lt; &amp;nbsp; &amp;copy</p>\n");
  EXPECT_EQ(ToHtml("&#169; & x"), "<p>&amp;#169; &amp; x</p>\n");
  // On a quoted line the blank after the marker is part of the reference's text.
  EXPECT_EQ(ToHtml("> x\n> &copy; y"), "<blockquote><p>x  &amp;copy; y</p>\n</blockquote>");
}

TEST(Inline, BracketsAndPipeOutsideTheirConstructs) {
  EXPECT_EQ(ToHtml("a ] b ]: c"), "<p>a ] b ]: c</p>\n");
  EXPECT_EQ(ToHtml("a | b\n"), "<p>a | b </p>\n");
}

TEST(Inline, BackslashEscapes) {
  EXPECT_EQ(ToHtml("a\\*b\\_c\\`d"), "<p>a*b_c`d</p>\n");
  EXPECT_EQ(ToHtml("a\\\\b"), "<p>a&yen;b</p>\n");
  EXPECT_EQ(ToHtml("\\[a](u)"), "<p>[a](u)</p>\n");
}

TEST(Inline, DelimiterGluedToAWordRunsOn) {
  EXPECT_EQ(ToHtml("snake_case_name"), "<p>snake_case_name</p>\n");
  EXPECT_EQ(ToHtml("a_b_ c"), "<p>a_b_ c</p>\n");
  // Inside underscore emphasis a star after a word is text, and the underscore closes.
  EXPECT_EQ(ToHtml("_a*b*_ c"), "<p><em>a*b*</em> c</p>\n");
  // Inside star emphasis an underscore after a word is text.
  EXPECT_EQ(ToHtml("*a_b_ c* d"), "<p><em>a_b_ c</em> d</p>\n");
}

TEST(Inline, QuoteEndStopsRuns) {
  // The run stops where the quote ends; the open emphasis is written back in the quote.
  EXPECT_EQ(ToHtml("> *a\nb\n"), "<blockquote><p>*a </p>\n</blockquote><p>b </p>\n");
  EXPECT_EQ(ToHtml("> _a_ c\nb"), "<blockquote><p><em>a</em> c</p>\n</blockquote><p>b</p>\n");
}

TEST(Inline, NestingBelowTheBoundIsUnchanged) {
  // 63 openers inside the paragraph's own run: 64 runs at once, all rendered.
  const std::string open = Repeat("**~~", 31) + "**";
  const std::string close = "**" + Repeat("~~**", 31);
  EXPECT_EQ(ToHtml(open + "x" + close), "<p>" + Repeat("<strong><del>", 31) + "<strong>x</strong>" +
                                            Repeat("</del></strong>", 31) + "</p>\n");
  // One level less deep, every kind of opener still works in the innermost run.
  const std::string inner = "x *a* `c` [l](u) ![i](p.png) _e_ ";
  EXPECT_EQ(ToHtml(Repeat("**~~", 31) + inner + Repeat("~~**", 31)),
            "<p>" + Repeat("<strong><del>", 31) +
                "x <em>a</em> <code>c</code> <a href=\"u\">l</a> <img src=\"p.png\" alt=\"i\" /> "
                "<em>e</em> " +
                Repeat("</del></strong>", 31) + "</p>\n");
}

TEST(Inline, OpenersPastTheBoundAreText) {
  // In the 64th run every opener is text; the run's own closer still ends it.
  const std::string inner = "x *a* `c` [l](u) ![i](p.png) _e_ ";
  EXPECT_EQ(ToHtml(Repeat("**~~", 31) + "**" + inner + "**" + Repeat("~~**", 31)),
            "<p>" + Repeat("<strong><del>", 31) + "<strong>" + inner + "</strong>" +
                Repeat("</del></strong>", 31) + "</p>\n");
  // The 64th opener is text, so its closer is text too.
  EXPECT_EQ(ToHtml(Repeat("**~~", 32) + "x" + Repeat("~~**", 32)),
            "<p>" + Repeat("<strong><del>", 31) + "<strong>~~x~~</strong>" +
                Repeat("</del></strong>", 31) + "</p>\n");
  // The 65th is a closer of the 63rd, and the closers then pair off one level higher.
  EXPECT_EQ(ToHtml(Repeat("**~~", 32) + "**x**" + Repeat("~~**", 32)),
            "<p>" + Repeat("<strong><del>", 31) + "<strong>~~</strong>x<strong>~~</strong>" +
                Repeat("</del></strong>", 31) + "</p>\n");
}

}  // namespace
}  // namespace tarvix
