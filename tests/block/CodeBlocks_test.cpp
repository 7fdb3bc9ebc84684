#include <gtest/gtest.h>

#include "support/Convert.h"

namespace tarvix {
namespace {

TEST(CodeBlocks, FenceNamesItsBrushAsWritten) {
  EXPECT_EQ(ToHtml("```js\nvar a = 1;\n```\n"), "<pre class=\"brush: js;\">var a = 1;\n</pre>\n");
  EXPECT_EQ(ToHtml("```JS\nx\n```\n"), "<pre class=\"brush: JS;\">x\n</pre>\n");
  EXPECT_EQ(ToHtml("``` Js \nx\n```\n"), "<pre class=\"brush: Js;\">x\n</pre>\n");
  EXPECT_EQ(ToHtml("```cobol\nx\n```\n"), "<pre>x\n</pre>\n");
  EXPECT_EQ(ToHtml("```\nx\n```\n"), "<pre>x\n</pre>\n");
}

TEST(CodeBlocks, FenceKeepsCodeLiteral) {
  EXPECT_EQ(ToHtml("```\n<a & \"b\">\\*\n# _c_\n```\n\\*"),
            "<pre>&lt;a &amp; &quot;b&quot;&gt;&yen;*\n# _c_\n</pre>\n<p>*</p>\n");
}

TEST(CodeBlocks, FenceClosesOnlyAtARunOfItsLength) {
  EXPECT_EQ(ToHtml("```\na ``` b\n"), "<pre>a </pre>\n<p>b </p>\n");
  EXPECT_EQ(ToHtml("```\na\n````\n``\n```\n"), "<pre>a\n````\n``\n</pre>\n");
  EXPECT_EQ(ToHtml("```\na\n\n# b\n"), "<pre>a\n\n# b\n</pre>\n");
  // A fence that closes at once holds its info text.
  EXPECT_EQ(ToHtml("```x```\n"), "<pre>x</pre>\n");
  EXPECT_EQ(ToHtml("```js\n```\n"), "<pre>js</pre>\n");
  EXPECT_EQ(ToHtml("`a` b"), "<pre>a</pre>\n<p>b</p>\n");
}

TEST(CodeBlocks, FenceInsideQuoteEndsWithTheQuote) {
  EXPECT_EQ(ToHtml("> ```\n> x\ny\n"), "<blockquote><pre> x\n</pre>\n</blockquote><p>y </p>\n");
}

TEST(CodeBlocks, FenceWritesEveryLineEndAsLf) {
  EXPECT_EQ(ToHtml("```\r\na\r\nb\rc\n\rd\n```\n"), "<pre>a\nb\nc\nd\n</pre>\n");
  EXPECT_EQ(ToHtml("```js\r\nx\r\n```\r\n"), "<pre class=\"brush: js;\">x\n</pre>\n");
  // An empty line stays in the block.
  EXPECT_EQ(ToHtml("```\r\n\r\n\n\r\r```"), "<pre>\n\n\n</pre>\n");
}

TEST(CodeBlocks, FenceEndsAtALineThatOpensAQuote) {
  EXPECT_EQ(ToHtml("```\na\n> b\n"), "<pre>a\n</pre>\n<blockquote><p>b</p>\n</blockquote>");
  EXPECT_EQ(ToHtml("```\na\nb\n>c\n"), "<pre>a\nb\n</pre>\n<blockquote><p>c</p>\n</blockquote>");
  EXPECT_EQ(ToHtml("```\nab\n\n> c\n```\n"),
            "<pre>ab\n\n</pre>\n<blockquote><p>c</p>\n</blockquote><pre></pre>\n");
  // After a hard break no line prefix is read: the `>` is code.
  EXPECT_EQ(ToHtml("```\na  \n> b\n```\n"), "<pre>a  \n&gt; b\n</pre>\n");
  EXPECT_EQ(ToHtml("```\na -   \n> b\n```\n"), "<pre>a -   \n&gt; b\n</pre>\n");
  // A bullet takes the blanks after it, so its line ends plainly and the quote opens.
  EXPECT_EQ(ToHtml("```\na *  \n> b\n```\n"),
            "<pre>a *  \n</pre>\n<blockquote><p>b</p>\n</blockquote><pre></pre>\n");
  // Inside a quote the markers of each line are no part of the code.
  EXPECT_EQ(ToHtml("> ```\n> a\n> b\n>\n"), "<blockquote><pre> a\n b\n\n</pre>\n</blockquote>");
}

TEST(CodeBlocks, FenceClosesAtEveryPlaceInALongLine) {
  // The closing run at each offset of a line of ordinary bytes, and runs of other lengths
  // before it, which stay code.
  for (std::size_t k = 0; k < 40; ++k) {
    const std::string a(k, 'a');
    EXPECT_EQ(ToHtml("```\n" + a + "```b\n"), "<pre>" + a + "</pre>\n<p>b </p>\n") << k;
    EXPECT_EQ(ToHtml("```\n" + a + "````" + a + "``\n```"),
              "<pre>" + a + "````" + a + "``\n</pre>\n")
        << k;
  }
  const std::string longLine = Repeat("x = y; ", 2000) + "z";
  EXPECT_EQ(ToHtml("```\n" + longLine + "\n> q\n"),
            "<pre>" + longLine + "\n</pre>\n<blockquote><p>q</p>\n</blockquote>");
}

TEST(CodeBlocks, IndentedLinesDropFourBlanks) {
  EXPECT_EQ(ToHtml("    a\n    b\n"), "<pre>a\nb\n</pre>\n");
  EXPECT_EQ(ToHtml("      a\n      b\n"), "<pre>  a\n  b\n</pre>\n");
  EXPECT_EQ(ToHtml("    a\\*<b>\n\n\\*"), "<pre>a&yen;*&lt;b&gt;\n</pre>\n<p>*</p>\n");
  // An empty line ends the block; a line of blanks does not.
  EXPECT_EQ(ToHtml("    a\n\n    b\n"), "<pre>a\n</pre>\n<pre>b\n</pre>\n");
  EXPECT_EQ(ToHtml("    a\n      \n    \n    b\n"), "<pre>a\n  \n\nb\n</pre>\n");
  // Blanks at the end of a code line make a hard break, so the next line is read raw.
  EXPECT_EQ(ToHtml("    a  \n    b\n"), "<pre>a  \n    b\n</pre>\n");
}

TEST(CodeBlocks, TabCountsAsOneBlank) {
  EXPECT_EQ(ToHtml("\ta\n"), "<p>a </p>\n");
  EXPECT_EQ(ToHtml("\t\t\t\ta\n"), "<pre>a\n</pre>\n");
  EXPECT_EQ(ToHtml("\t\t\t\t\tb"), "<pre>\tb</pre>\n");
}

}  // namespace
}  // namespace tarvix
