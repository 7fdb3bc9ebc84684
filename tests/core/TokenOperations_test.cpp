// The parser's token layer: the block-quote line prefix, snapshots and the gathering of
// token texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/Parser_CL.h"

namespace tarvix {
namespace {

// A token as KIND (a single-character kind as its character), its count when nonzero, its
// text in quotes, and "!" for a depth token.
std::string Describe(const Token& t) {
  std::string s = t.code < 0x80 ? std::string(1, static_cast<char>(t.code)) : "?";
  if (t.code == 0x00464F45)
    s = "EOF";
  if (t.code == 0x54584554)
    s = "TEXT";
  if (t.code == 0x5053)
    s = "SP";
  if (t.code == 0x5242)
    s = "BR";
  if (t.code == 0x464C)
    s = "LF";
  if (t.count != 0)
    s += std::to_string(t.count);
  s += '"';
  for (char c : t.Text())
    s += c == '\n' ? std::string("\\n") : std::string(1, c);
  s += '"';
  return t.IsDepth() ? s + '!' : s;
}

// Opens `bytes` at a line start at quote depth `depth` and reads the first token.
void Open(Parser_CL& parser, const std::string& bytes, std::int32_t depth = 0) {
  parser.atLineStart = 1;
  parser.quoteDepth = depth;
  parser.lex.OpenBytes(bytes);
  parser.NextToken(false);
}

// The current token and the tokens after it, `n` in all.
std::string Read(Parser_CL& parser, int n) {
  std::string s = Describe(parser.lex.current);
  for (int i = 1; i < n; ++i) {
    parser.NextToken(false);
    s += ' ' + Describe(parser.lex.current);
  }
  return s;
}

TEST(LinePrefix, HandsOutDepthTokenWhenDepthChanges) {
  Parser_CL parser;
  Open(parser, "> a\nb");
  EXPECT_EQ(parser.atLineStart, 0);
  // The lexer stands just after the marker; the quote renderer takes the depth.
  parser.quoteDepth = 1;
  EXPECT_EQ(Read(parser, 5), R"(>1">"! SP1" " TEXT"a" LF"\n" >">"!)");
  // "b" was left unread, and the line is compared again once the depth is taken.
  EXPECT_EQ(parser.atLineStart, 1);
  parser.quoteDepth = 0;
  EXPECT_EQ(Read(parser, 3), R"(>">"! TEXT"b" EOF"")");

  // Blanks between markers are skipped.
  Open(parser, "> >> x");
  parser.quoteDepth = 3;
  EXPECT_EQ(Read(parser, 3), R"(>3">"! SP1" " TEXT"x")");
}

TEST(LinePrefix, DropsMarkersAtCurrentDepth) {
  Parser_CL parser;
  Open(parser, "> a", 1);
  EXPECT_EQ(Read(parser, 2), R"(TEXT" a" EOF"")");
  Open(parser, "> > x\n>>y", 2);
  EXPECT_EQ(Read(parser, 3), R"(TEXT" x" LF"\n" TEXT"y")");
  // A line of markers alone keeps the next line's markers a prefix.
  Open(parser, ">\n> b", 1);
  EXPECT_EQ(Read(parser, 2), R"(LF"\n" TEXT" b")");
  // An empty line never changes the depth.
  Open(parser, "\n\nc", 1);
  EXPECT_EQ(Read(parser, 3), R"(LF"\n" LF"\n" >">"!)");
}

TEST(LinePrefix, OnlyLineEndsStartLines) {
  Parser_CL parser;
  // A hard break takes its line end with it: the marker after it is a plain character.
  Open(parser, "a  \n> b");
  EXPECT_EQ(Read(parser, 4), R"(TEXT"a" BR2"  \n" >">" SP1" ")");
  Open(parser, "a > b");
  EXPECT_EQ(Read(parser, 3), R"(TEXT"a" SP1" " >">")");
  // Blank skipping at a line start folds the blanks before a non-marker.
  Open(parser, "x\n   y");
  parser.NextToken(false);
  parser.NextToken(true);
  EXPECT_EQ(Describe(parser.lex.current), R"(TEXT" y")");
}

TEST(Snapshot, RestoreReplaysAcrossLineStarts) {
  Parser_CL parser;
  Open(parser, "*a\n> b");
  const ParserSnapshot saved = parser.Snapshot();
  EXPECT_EQ(Read(parser, 4), R"(*"*" TEXT"a" LF"\n" >1">"!)");
  parser.quoteDepth = 1;

  // Into `out`: the saved token as it was; the current token stays.
  Token out;
  parser.Restore(saved, &out);
  EXPECT_EQ(Describe(out), R"(*"*")");
  EXPECT_EQ(Describe(parser.lex.current), R"(>1">"!)");
  EXPECT_EQ(parser.quoteDepth, 0);
  EXPECT_EQ(parser.atLineStart, 0);

  // Without: the saved token comes back as TEXT and the same tokens follow.
  parser.quoteDepth = 1;
  parser.Restore(saved, nullptr);
  EXPECT_EQ(parser.quoteDepth, 0);
  EXPECT_EQ(Read(parser, 4), R"(TEXT"*" TEXT"a" LF"\n" >1">"!)");

  // A snapshot taken on a line end brings the line start back with it.
  Open(parser, "a\n> b");
  parser.NextToken(false);
  const ParserSnapshot atLineEnd = parser.Snapshot();
  parser.NextToken(false);
  parser.NextToken(false);
  parser.Restore(atLineEnd, nullptr);
  EXPECT_EQ(parser.atLineStart, 1);
  EXPECT_EQ(Read(parser, 2), R"(TEXT"\n" >1">"!)");
}

TEST(Snapshot, RestoreAtEndAndInvalidSnapshot) {
  Parser_CL parser;
  Open(parser, "a");
  parser.NextToken(false);
  const ParserSnapshot atEnd = parser.Snapshot();
  parser.NextToken(false);
  parser.Restore(atEnd, nullptr);
  EXPECT_EQ(Read(parser, 3), R"(TEXT"" EOF"" EOF"")");

  // A snapshot that was never taken changes nothing.
  Open(parser, "x y");
  parser.Restore(ParserSnapshot{}, nullptr);
  EXPECT_EQ(Read(parser, 2), R"(TEXT"x" SP1" ")");
}

TEST(Collect, CollectUntilStopsAtTerminator) {
  Parser_CL parser;
  Open(parser, "a *b*\nc)d");
  EXPECT_EQ(parser.CollectUntil(0x29, -1), "a *b* c");
  EXPECT_EQ(Describe(parser.lex.current), R"x()")")x");
  // Code keeps its line ends; only a run of the same length ends it.
  Open(parser, "x`\ny``z");
  EXPECT_EQ(parser.CollectUntil(0x60, 2), "x`\ny");
  EXPECT_EQ(Describe(parser.lex.current), R"(`2"``")");
  // A definition close also stops at a plain closing bracket.
  Open(parser, "a b] c");
  EXPECT_EQ(parser.CollectUntil(0x3A5D, -1), "a b");
  EXPECT_EQ(Describe(parser.lex.current), R"(]"]")");
  Open(parser, "a]: c");
  EXPECT_EQ(parser.CollectUntil(0x3A5D, -1), "a");
  EXPECT_EQ(Describe(parser.lex.current), R"(?"]:")");
  // A hard break is text; the end of input ends the gathering.
  Open(parser, "a]  \nb");
  EXPECT_EQ(parser.CollectUntil(0x22, -1), "a]  \nb");
  EXPECT_EQ(Describe(parser.lex.current), R"(EOF"")");
}

TEST(Collect, CollectCodeStopsAtLineEndOrRun) {
  Parser_CL parser;
  Open(parser, "a *b`c``d");
  EXPECT_EQ(parser.CollectCode(2), "a *b`c");
  EXPECT_EQ(Describe(parser.lex.current), R"(`2"``")");
  Open(parser, "a b\nc``");
  EXPECT_EQ(parser.CollectCode(2), "a b");
  EXPECT_EQ(Describe(parser.lex.current), R"(LF"\n")");
  Open(parser, "a```");
  EXPECT_EQ(parser.CollectCode(2), "a```");
  EXPECT_EQ(Describe(parser.lex.current), R"(EOF"")");
}

TEST(Collect, GatheringStopsAtDepthToken) {
  Parser_CL parser;
  Open(parser, "> a\nb)", 1);
  EXPECT_EQ(parser.CollectUntil(0x29, -1), " a ");
  EXPECT_EQ(Describe(parser.lex.current), R"(>">"!)");
  Open(parser, "> a\n>> b)", 1);
  EXPECT_EQ(parser.CollectUntil(0x29, -1), " a ");
  EXPECT_EQ(Describe(parser.lex.current), R"(>2">"!)");
  Open(parser, "b``", 1);
  EXPECT_EQ(parser.CollectCode(2), "");
  EXPECT_EQ(Describe(parser.lex.current), R"(>">"!)");
}

}  // namespace
}  // namespace tarvix
