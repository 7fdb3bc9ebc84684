// The document's header comments as the parser reads them: their entries, in the page.
#include <gtest/gtest.h>

#include <string>

#include "api/Library.h"
#include "core/Parser_CL.h"
#include "support/Convert.h"

namespace tarvix {
namespace {

// The three header values a page shows.
std::string HeaderOf(const std::string& markdown) {
  return ToPage(markdown, "T=####TITLE####|K=####KEYWORDS####|D=####DESCRIPTION####");
}

TEST(HeaderComment, ReadsKeyValueLines) {
  EXPECT_EQ(HeaderOf("<!--\ntitle: My Page\n-->\n"), "T=My Page|K=|D=");
  EXPECT_EQ(HeaderOf("<!--\nTITLE : x\nKeywords:a, b\n-->"), "T=x|K=a, b|D=");
  EXPECT_EQ(HeaderOf("<!--\nauthor: someone\ndescription: a: b\n-->"), "T=|K=|D=a: b");
  EXPECT_EQ(HeaderOf("<!-- title: x -->"), "T=x|K=|D=");
  EXPECT_EQ(HeaderOf("<!--title:x-->"), "T=x|K=|D=");
  EXPECT_EQ(HeaderOf("<!-- description: see http://a.b/c -->"), "T=|K=|D=see http://a.b/c");
  // A "--" that does not close the comment is value text.
  EXPECT_EQ(HeaderOf("<!-- title: a --b -->"), "T=a --b|K=|D=");
  // A byte-order mark does not hide the comment.
  EXPECT_EQ(HeaderOf("\xEF\xBB\xBF<!-- title: B -->"), "T=B|K=|D=");
  // Comments inside running text count as well.
  EXPECT_EQ(HeaderOf("some text <!-- title: In -->."), "T=In|K=|D=");
}

TEST(HeaderComment, KeysAreWholeTokenRuns) {
  // Words before the key join it; punctuation before it starts a new key.
  EXPECT_EQ(HeaderOf("<!--\nmy title: x\n-->"), "T=|K=|D=");
  EXPECT_EQ(HeaderOf("<!--\n(title: x\n-->"), "T=x|K=|D=");
  EXPECT_EQ(HeaderOf("<!--\nno colon here\ntitle\n-->"), "T=|K=|D=");

  Parser_CL parser;
  (void)ConvertWith(parser, "<!--\noutput_ext: .htm\ntemplate: sub/page.html\n-->", {});
  EXPECT_EQ(parser.header.output_ext, ".htm");
  EXPECT_EQ(parser.header.template_, "sub/page.html");
}

TEST(HeaderComment, LaterEntriesWinAndBlankValuesClear) {
  EXPECT_EQ(HeaderOf("<!-- title: A -->\n\n<!-- title: B -->"), "T=B|K=|D=");
  // The line end is part of the value, so an empty value trims to nothing and still counts.
  EXPECT_EQ(HeaderOf("<!-- title: A -->\n<!--\ntitle: \n-->"), "T=|K=|D=");
  EXPECT_EQ(HeaderOf("<!-- title: A -->\n<!--\ntitle:\n-->"), "T=|K=|D=");
  // Without a colon there is no value.
  EXPECT_EQ(HeaderOf("<!-- title: A -->\n<!--\ntitle\n-->"), "T=A|K=|D=");
  // A hard break does not end the line for the header: the value runs on.
  EXPECT_EQ(HeaderOf("<!--\nkeywords: a  \nb\n-->"), "T=|K=a  \nb|D=");
}

TEST(HeaderComment, UnterminatedCommentStillApplies) {
  EXPECT_EQ(HeaderOf("<!--\ntitle: x\nmore"), "T=x|K=|D=");
}

TEST(HeaderComment, ReadHeaderCommentConsumesUpToClose) {
  Parser_CL parser;
  parser.lex.OpenBytes(" title: x --> after");
  parser.NextToken(false);
  std::string raw = "<!--";
  EXPECT_EQ(parser.ReadHeaderComment(raw, parser.header), 1);
  EXPECT_EQ(raw, "<!-- title: x --");
  EXPECT_EQ(parser.lex.current.code, 0x3Eu);
  EXPECT_EQ(parser.header.title, "x");

  parser.lex.OpenBytes("keywords: k\nx");
  parser.NextToken(false);
  raw.clear();
  EXPECT_EQ(parser.ReadHeaderComment(raw, parser.header), 0);
  EXPECT_EQ(raw, "keywords: k\nx");
  EXPECT_EQ(parser.header.keywords, "k");
}

}  // namespace
}  // namespace tarvix
