// The scanner's token rules, read straight from Lex_CL.
#include "lex/Lex_CL.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "support/ScopedTempDir.h"

namespace tarvix {
namespace {

// Kinds named from their literal codes, so a wrong code shows as a number.
const std::pair<std::uint32_t, const char*> kKindNames[] = {
    {0x00464F45, "EOF"},  {0x54584554, "TEXT"}, {0x44414548, "HEAD"}, {0x5053, "SP"},
    {0x5242, "BR"},       {0x464C, "LF"},       {0xFF65, "BULLET"},   {0x2E31, "1."},
    {0x2D2D2D2D, "----"}, {0x2A2A, "**"},       {0x7E7E, "~~"},       {0x5B21, "!["},
    {0x5E5B, "[^"},       {0x3A5D, "]:"},       {0x706D6126, "&amp"}, {0x7C3A3A7C, "|::|"}};

// A token as KIND, its count when nonzero and its text in quotes, line ends and tabs shown
// as escapes.
std::string Describe(const Token& t) {
  std::string s = "?" + std::to_string(t.code);
  for (const auto& [code, name] : kKindNames) {
    if (code == t.code)
      s = name;
  }
  if (t.code >= 0x21 && t.code < 0x7F)
    s = std::string(1, static_cast<char>(t.code));
  if (t.count != 0)
    s += std::to_string(t.count);
  s += '"';
  for (char c : t.Text())
    s += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : std::string(1, c);
  return s + '"';
}

// Every token of `bytes` up to the first EOF, which is included.
std::string ScanAll(const std::string& bytes, bool skipBlanks = false, int escapes = 1,
                    bool noBullet = false) {
  Lex_CL lex;
  lex.escapes = escapes;
  lex.noBullet = noBullet;
  lex.OpenBytes(bytes);
  Token t = lex.Scan(skipBlanks);
  std::string s = Describe(t);
  while (t.code != 0x00464F45) {
    t = lex.Scan(skipBlanks);
    s += ' ' + Describe(t);
  }
  return s;
}

TEST(Lex, ScansHeadingsBlanksAndLineEnds) {
  EXPECT_EQ(ScanAll("#######x"), R"(HEAD7"######" HEAD1"#" TEXT"x" EOF"")");
  EXPECT_EQ(ScanAll("a  \r\nb"), R"(TEXT"a" BR2"  \n" TEXT"b" EOF"")");
  EXPECT_EQ(ScanAll("a \nb"), R"(TEXT"a" SP1" " LF"\n" TEXT"b" EOF"")");
  EXPECT_EQ(ScanAll("a\t \t\n\rb"), R"(TEXT"a" BR3"\t \t\n" TEXT"b" EOF"")");
  EXPECT_EQ(ScanAll("a  \r\rb"), R"(TEXT"a" BR2"  \n" LF"\r" TEXT"b" EOF"")");
  EXPECT_EQ(ScanAll("\n\r\r\r"), R"(LF"\n\r" LF"\r" LF"\r" EOF"")");
  EXPECT_EQ(ScanAll("a   "), R"(TEXT"a" SP3"   " EOF"")");
}

TEST(Lex, ScansPunctuationRuns) {
  EXPECT_EQ(ScanAll("***x"), R"(----"***" TEXT"x" EOF"")");
  EXPECT_EQ(ScanAll("-- ** ___"), R"(----"--" SP1" " **"**" SP1" " **"__" _"_" EOF"")");
  EXPECT_EQ(ScanAll("---: :--- :-: -:"),
            R"(|::|2"---:" SP1" " |::|":---" SP1" " |::|1":-:" SP1" " -"-" :":" EOF"")");
  EXPECT_EQ(ScanAll("~~~x!x!["), R"(~~"~~" TEXT"~" TEXT"x" TEXT"!" TEXT"x" !["![" EOF"")");
  EXPECT_EQ(ScanAll("[^a]:]==```"), R"([^"[^" TEXT"a" ]:"]:" ]"]" =2"==" `3"```" EOF"")");
  EXPECT_EQ(ScanAll("\"'()./<>|"), R"x("""" '"'" ("(" )")" ."." /"/" <"<" >">" |"|" EOF"")x");
}

TEST(Lex, ScansBullets) {
  EXPECT_EQ(ScanAll("*  item"), R"(BULLET2"*  " TEXT"item" EOF"")");
  EXPECT_EQ(ScanAll("*\t x"), R"(BULLET2"*\t " TEXT"x" EOF"")");
  EXPECT_EQ(ScanAll("+  item"), R"(BULLET"+ " SP1" " TEXT"item" EOF"")");
  EXPECT_EQ(ScanAll("- item"), R"(BULLET"- " TEXT"item" EOF"")");
  EXPECT_EQ(ScanAll("*item +x -x"),
            R"(*"*" TEXT"item" SP1" " TEXT"+" TEXT"x" SP1" " -"-" TEXT"x" EOF"")");
  // While emphasis is read a star before a blank is no bullet; plus and hyphen still are.
  EXPECT_EQ(ScanAll("* x- y", false, 1, true), R"(*"*" SP1" " TEXT"x" BULLET"- " TEXT"y" EOF"")");
}

TEST(Lex, ScansNumbersAndEntities) {
  EXPECT_EQ(ScanAll("12. x"), R"(1.12"12. " TEXT"x" EOF"")");
  EXPECT_EQ(ScanAll("12.\tx"), R"(TEXT"12." SP1"\t" TEXT"x" EOF"")");
  EXPECT_EQ(ScanAll("1.5"), R"(TEXT"1." TEXT"5" EOF"")");
  EXPECT_EQ(ScanAll("12x"), R"(TEXT"12" TEXT"x" EOF"")");
  EXPECT_EQ(ScanAll("2147483647. "), R"(1.2147483647"2147483647. " EOF"")");
  // The number saturates rather than wrapping.
  EXPECT_EQ(ScanAll("2147483648. "), R"(1.2147483647"2147483648. " EOF"")");
  EXPECT_EQ(ScanAll("99999999999. "), R"(1.2147483647"99999999999. " EOF"")");
  EXPECT_EQ(ScanAll("99999999999x"), R"(TEXT"99999999999" TEXT"x" EOF"")");

  EXPECT_EQ(ScanAll("&copy;"), R"(&amp"&copy;" EOF"")");
  EXPECT_EQ(ScanAll("&#169;"), R"(TEXT"&" HEAD1"#" TEXT"169" TEXT";" EOF"")");
  EXPECT_EQ(ScanAll("& &ab c"), R"(TEXT"&" SP1" " TEXT"&ab" SP1" " TEXT"c" EOF"")");
}

TEST(Lex, ScansBackslashes) {
  EXPECT_EQ(ScanAll("\\*a"), R"(TEXT"*" TEXT"a" EOF"")");
  EXPECT_EQ(ScanAll("\\*a", false, 0), R"(TEXT"\" *"*" TEXT"a" EOF"")");
  EXPECT_EQ(ScanAll("\\\\"), R"(TEXT"\" EOF"")");
  EXPECT_EQ(ScanAll("\\\r\n"), R"(TEXT"\r" LF"\n" EOF"")");
  EXPECT_EQ(ScanAll("\\"), R"(TEXT"" EOF"")");
  // A multi-byte character is escaped whole; a lead byte without its continuation alone.
  EXPECT_EQ(ScanAll("\\é\\€!\\😀*"), R"(TEXT"é" TEXT"€" TEXT"!" TEXT"😀" *"*" EOF"")");
  EXPECT_EQ(ScanAll("\\\xE2x"), "TEXT\"\xE2\" TEXT\"x\" EOF\"\"");
  // The blank folded in front belongs to the text that the escape clears.
  EXPECT_EQ(ScanAll("  \\*", true), R"(TEXT"*" EOF"")");
}

TEST(Lex, ScansOrdinaryRuns) {
  EXPECT_EQ(ScanAll("a.b x#1 x(1)"), R"x(TEXT"a.b" SP1" " TEXT"x#1" SP1" " TEXT"x(1" )")" EOF"")x");
  EXPECT_EQ(ScanAll("$%,;?@^{}+&a"), R"(TEXT"$%,;?@^{}+&a" EOF"")");
  EXPECT_EQ(ScanAll("日本!"), R"(TEXT"日本" TEXT"!" EOF"")");
  EXPECT_EQ(ScanAll(std::string("a\0b\x01", 4)), std::string("TEXT\"a\0b\x01\" EOF\"\"", 16));
}

TEST(Lex, FoldsSkippedBlanksIntoOneSpace) {
  EXPECT_EQ(ScanAll("   foo", true), R"(TEXT" foo" EOF"")");
  EXPECT_EQ(ScanAll("   foo"), R"(SP3"   " TEXT"foo" EOF"")");
  EXPECT_EQ(ScanAll("\t\x01 #", true), R"(HEAD1" #" EOF"")");
  EXPECT_EQ(ScanAll(" \r\n", true), R"(LF" \r\n" EOF"")");
  EXPECT_EQ(ScanAll("  ", true), R"(EOF" ")");
}

TEST(Lex, SkipsByteOrderMarkAtStartOnly) {
  EXPECT_EQ(ScanAll("\xEF\xBB\xBF# T"), R"(HEAD1"#" SP1" " TEXT"T" EOF"")");
  EXPECT_EQ(ScanAll("\xEF\xBB\xBF"), R"(EOF"")");
  EXPECT_EQ(ScanAll("a\xEF\xBB\xBF"), "TEXT\"a\xEF\xBB\xBF\" EOF\"\"");
  EXPECT_EQ(ScanAll("\xEF\xBB#"), "TEXT\"\xEF\xBB#\" EOF\"\"");
}

TEST(Lex, OpensFilesAndRepeatsEnd) {
  ScopedTempDir dir;
  Lex_CL lex;
  EXPECT_EQ(Describe(lex.Scan(false)), R"(EOF"")");
  EXPECT_FALSE(lex.Open(dir.PathOf("missing.md")));
  ASSERT_TRUE(lex.Open(dir.WriteFile("empty.md", "")));
  lex.Next();
  lex.Next();
  EXPECT_EQ(Describe(lex.current), R"(EOF"")");

  // Line ends reach the lexer unchanged; a byte-order mark does not.
  const std::string path = dir.WriteFile("doc.md", "\xEF\xBB\xBF# a\r\nb");
  ASSERT_TRUE(lex.Open(path));
  std::string seen;
  for (int i = 0; i < 7; ++i)
    seen += Describe(lex.Scan(false)) + " ";
  EXPECT_EQ(seen, R"(HEAD1"#" SP1" " TEXT"a" LF"\r\n" TEXT"b" EOF"" EOF"" )");
  // Opening the same path again starts from the top.
  ASSERT_TRUE(lex.Open(path));
  lex.Next();
  EXPECT_EQ(Describe(lex.current), R"(HEAD1"#")");
}

TEST(Lex, ResetReturnsToMark) {
  Lex_CL lex;
  lex.OpenBytes("a b\nc");
  lex.Next();
  const LexMark mark = lex.Mark();
  std::string first;
  for (int i = 0; i < 5; ++i)
    first += Describe(lex.Scan(false)) + " ";
  EXPECT_EQ(first, R"(SP1" " TEXT"b" LF"\n" TEXT"c" EOF"" )");
  const LexMark atEnd = lex.Mark();
  lex.Reset(mark);
  std::string again;
  for (int i = 0; i < 5; ++i)
    again += Describe(lex.Scan(false)) + " ";
  EXPECT_EQ(again, first);
  // A mark taken at the end stays at the end.
  lex.Reset(mark);
  lex.Reset(atEnd);
  EXPECT_EQ(Describe(lex.Scan(false)), R"(EOF"")");
}

}  // namespace
}  // namespace tarvix
