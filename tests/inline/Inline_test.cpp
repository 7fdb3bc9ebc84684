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

// A plain run goes on over a line end into a line that starts with a word; the page must
// be what the dispatcher writes token by token, in every run that writes a line end as a
// space, and lines it must stop at (quotes, blanks, block starts) stop it.
TEST(Inline, LinesThatStartWithAWordJoinTheRun) {
  const char* const cases[][2] = {
      {"one two\nthree four\nfive\n", "<p>one two three four five </p>\n"},
      {"a *b\nc* d\n", "<p>a <em>b c</em> d </p>\n"},
      {"__s\nt__ u\n", "<p><strong>s t</strong> u </p>\n"},
      {"~~s\nt~~ u\n", "<p><del>s t</del> u </p>\n"},
      {"[link\ntext](u) v\n", "<p><a href=\"u\">link text</a> v </p>\n"},
      {"*a\n\nb* c\n", "<p><em>a  b</em> c </p>\n"},
      // A word glued to an underscore, on either side of the line end.
      {"word_\n_b_ x\n", "<p>word_ <em>b</em> x </p>\n"},
      {"a\nb_c_ d\n", "<p>a b_c_ d </p>\n"},
      // Quoted passages: a line without the marker ends the passage.
      {"> q one\nq two\n\nafter\n",
       "<blockquote><p>q one</p>\n</blockquote><p>q two</p>\n<p>after </p>\n"},
      {"> a\n> b\nc\n", "<blockquote><p>a  b</p>\n</blockquote><p>c </p>\n"},
      {"- item one\n  cont\nlazy words\n",
       "<ul>\n<li>item one</li>\n</ul>\n<p>cont lazy words </p>\n"},
      {"# head\nnext words\n", "<h1 id=\"head\">head</h1>\n<p>next words </p>\n"},
      {"x\r\ny\n", "<p>x y </p>\n"},
      {"\xC3\xA9\n\xC3\xBC \xC3\xB6\n", "<p>\xC3\xA9 \xC3\xBC \xC3\xB6 </p>\n"},
      // Lines that start with anything but a word are read token by token.
      {"a\n1. b\nc\n", "<p>a</p>\n<ol>\n<li>b c </li>\n</ol>\n"},
      {"a\n(b)\n'c' \"d\"\n", "<p>a (b) &apos;c&apos; &quot;d&quot; </p>\n"},
      {"a &amp\nb &copy;\nc\n", "<p>a &amp;amp b &copy; c </p>\n"},
      {"x\n\ty\n", "<p>x</p>\n<p>y </p>\n"},
      {"one\ntwo\n===\n", "<h1>one two</h1>\n"},
      {"a\nb\n---\n", "<h2>a b</h2>\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ToHtml(c[0]), c[1]) << c[0];
  // Past the run's reach the dispatcher takes over and the run starts again.
  EXPECT_EQ(ToHtml(Repeat("word two\n", 20000)), "<p>" + Repeat("word two ", 20000) + "</p>\n");
  EXPECT_EQ(ToHtml("*" + Repeat("word two\n", 20000) + "end*\n"),
            "<p><em>" + Repeat("word two ", 20000) + "end</em> </p>\n");
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
