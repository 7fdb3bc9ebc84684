// Bracket constructs: inline links, reference links and their definitions across the two
// passes, caret links, and what a bracket that matches nothing writes back.
#include <gtest/gtest.h>

#include <string>

#include "support/Convert.h"

namespace tarvix {
namespace {

TEST(Links, InlineLinks) {
  EXPECT_EQ(ToHtml("[a](b.html)"), "<p><a href=\"b.html\">a</a></p>\n");
  EXPECT_EQ(ToHtml("x [a _b_ c](u) y"), "<p>x <a href=\"u\">a <em>b</em> c</a> y</p>\n");
  // The address is neither trimmed nor escaped; a single line end inside adds nothing.
  EXPECT_EQ(ToHtml("[a](b c&d<e>)"), "<p><a href=\"b c&d<e>\">a</a></p>\n");
  EXPECT_EQ(ToHtml("[a](b\nc)"), "<p><a href=\"bc\">a</a></p>\n");
  // The source text of a link goes on as text: a heading's id shows it.
  EXPECT_EQ(ToHtml("# [a](u)"), "<h1 id=\"[a]u\"><a href=\"u\">a</a></h1>\n");
}

TEST(Links, Titles) {
  EXPECT_EQ(ToHtml("[a](b.html \"T\")"), "<p><a href=\"b.html \" title=\"T\">a</a></p>\n");
  EXPECT_EQ(ToHtml("[a](u \"T\nU\"  )"), "<p><a href=\"u \" title=\"T U\">a</a></p>\n");
  // Only double quotes delimit a title.
  EXPECT_EQ(ToHtml("[a](u 'T')"), "<p><a href=\"u 'T'\">a</a></p>\n");
  EXPECT_EQ(ToHtml("[a](u \"T"), "<p>[a](u &quot;T</p>\n");
}

TEST(Links, UnmatchedBracketsAreText) {
  EXPECT_EQ(ToHtml("[a] b"), "<p>[a] b</p>\n");
  EXPECT_EQ(ToHtml("[a](b.html"), "<p>[a](b.html</p>\n");
  EXPECT_EQ(ToHtml("[a &b](u"), "<p>[a &amp;b](u</p>\n");
  // The star before "]" is inside a word, so the emphasis and the link stay open.
  EXPECT_EQ(ToHtml("[a *b*](u)"), "<p>[a *b*](u)</p>\n");
  // Link text and the address end at a blank line.
  EXPECT_EQ(ToHtml("[a\n\nb](u)"), "<p>[a  b](u)</p>\n");
  EXPECT_EQ(ToHtml("[a](b\n\nc)"), "<p>[a](b c)</p>\n");
  // A bracket inside link text is dropped, and the first "]" ends the text.
  EXPECT_EQ(ToHtml("[a [b](u)"), "<p><a href=\"u\">a b</a></p>\n");
  EXPECT_EQ(ToHtml("[a [b] c](u)"), "<p>[a [b] c](u)</p>\n");
}

TEST(Links, LinkLeftOpenInAQuote) {
  EXPECT_EQ(ToHtml("> [a](u\nb"), "<blockquote><p>[a](u</p>\n</blockquote><p>b</p>\n");
  EXPECT_EQ(ToHtml("> [a](u \"t\nb\""),
            "<blockquote><p>[a](u &quot;t </p>\n</blockquote><p>b&quot;</p>\n");
  EXPECT_EQ(ToHtml("> [a\nb"), "<blockquote><p>[a </p>\n</blockquote><p>b</p>\n");
}

TEST(Links, DefinitionsBeforeUse) {
  // A definition consumes its line end and writes nothing.
  EXPECT_EQ(ToHtml("[r]: p.html\n[x][r]\n"), "<p><a href=\" p.html\">x</a> </p>\n");
  EXPECT_EQ(ToHtml("[x]: u\n[x][]"), "<p><a href=\" u\">x</a></p>\n");
  EXPECT_EQ(ToHtml("[_a_ b]: u\n[_a_ b][]"), "<p><a href=\" u\"><em>a</em> b</a></p>\n");
  // Without a line end the definition is text.
  EXPECT_EQ(ToHtml("[r]: u"), "<p>[r]: u</p>\n");
}

TEST(Links, ForwardReferencesTakeASecondPass) {
  EXPECT_EQ(ToHtml("[x][r]\n\n[r]: p.html\n"), "<p><a href=\" p.html\">x</a></p>\n<p></p>\n");
  // Heading ids are numbered afresh in the second pass.
  EXPECT_EQ(ToHtml("# h\n# h\n[x][r]\n\n[r]: u\n"),
            "<h1 id=\"h\">h</h1>\n<h1 id=\"h-1\">h</h1>\n<p><a href=\" u\">x</a></p>\n"
            "<p></p>\n");
  // The second pass starts with the last value and meets the definitions again.
  EXPECT_EQ(ToHtml("[x][r]\n[r]: a\n[y][r]\n[r]: b\n"),
            "<p><a href=\" b\">x</a> <a href=\" a\">y</a> </p>\n");
}

TEST(Links, ReferenceKeys) {
  // The key of a definition is its label as HTML.
  EXPECT_EQ(ToHtml("[a & b]: u\n[x][a & b]\n"), "<p><a href=\"\">x</a> </p>\n");
  EXPECT_EQ(ToHtml("[a & b]: u\n[x][a &amp; b]\n"), "<p><a href=\" u\">x</a> </p>\n");
  EXPECT_EQ(ToHtml("[a & b]: u\n[a & b][]"), "<p><a href=\" u\">a &amp; b</a></p>\n");
  // Keys are exact.
  EXPECT_EQ(ToHtml("[R]: u\n[x][r]"), "<p><a href=\"\">x</a></p>\n");
}

TEST(Links, UndefinedReferences) {
  EXPECT_EQ(ToHtml("[x][nope] and [y][]"), "<p><a href=\"\">x</a> and <a href=\"\">y</a></p>\n");
  EXPECT_EQ(ToHtml("[x][nope"), "<p>[x][nope</p>\n");
}

TEST(Links, CaretLinks) {
  EXPECT_EQ(ToHtml("[^n]: n.html\n\nsee [^n]\n"),
            "<p>see <a href=\" n.html\" alt=\"n\">^n</a> </p>\n");
  // The last line end of the input is part of the target.
  EXPECT_EQ(ToHtml("see [^n]\n\n[^n]: n.html\n"),
            "<p>see <a href=\" n.html \" alt=\"n\">^n</a></p>\n");
  // The target is the source text of the definition's paragraph.
  EXPECT_EQ(ToHtml("[^n]: *a*\nb & c\n\n[^n]"), "<a href=\" *a* b & c\" alt=\"n\">^n</a>");
  // An undefined caret link writes nothing.
  EXPECT_EQ(ToHtml("see [^m] x"), "<p>see  x</p>\n");
  // In running text "[^n]:" is text.
  EXPECT_EQ(ToHtml("a [^n]: b"), "<p>a [^n]: b</p>\n");
  // At a block start the link stands outside a paragraph.
  EXPECT_EQ(ToHtml("[^n]: t\n\n[^n] x\n"), "<a href=\" t\" alt=\"n\">^n</a><p>x </p>\n");
}

TEST(Links, HostileBracketsFinish) {
  const std::string brackets(10 * 1024 * 1024, '[');
  EXPECT_EQ(ToHtml(brackets), "<p>" + brackets + "</p>\n");
}

}  // namespace
}  // namespace tarvix
