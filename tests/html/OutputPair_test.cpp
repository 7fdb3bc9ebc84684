// Escaping and the four ways of appending to an output pair.
#include "html/OutputPair.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "lex/Lex_CL.h"

namespace tarvix {
namespace {

std::string Escaped(const std::string& s) {
  OutputPair pair;
  AppendEscaped(pair, s);
  EXPECT_EQ(pair.text, "");
  return pair.html;
}

TEST(OutputPair, EscapesTheSixCharacters) {
  EXPECT_EQ(Escaped("a<b & \"c\""), "a&lt;b &amp; &quot;c&quot;");
  EXPECT_EQ(Escaped("C:\\dir"), "C:&yen;dir");
  EXPECT_EQ(Escaped("&copy;"), "&amp;copy;");
  EXPECT_EQ(Escaped("it's > 1"), "it&apos;s &gt; 1");
  EXPECT_EQ(Escaped(""), "");
  EXPECT_EQ(EscapeHtml(""), "");
  EXPECT_EQ(EscapeHtml("<\\>"), "&lt;&yen;&gt;");
  // Line ends and control characters are no markup.
  EXPECT_EQ(Escaped("a\r\n\tb\x01"), "a\r\n\tb\x01");
  EXPECT_EQ(Escaped("\xC3\xA9<\xE6\x97\xA5"), "\xC3\xA9&lt;\xE6\x97\xA5");
}

// Long texts are scanned sixteen bytes at a time: an entity byte, a multi-byte character
// or an invalid byte must be found wherever it falls in a block, and at the very end.
TEST(OutputPair, EscapesEveryPlaceOfALongText) {
  const std::pair<std::string, std::string> odd[] = {
      {"<", "&lt;"},
      {"'", "&apos;"},
      {"\\", "&yen;"},
      {"\xC3\xA9", "\xC3\xA9"},
      {"\xFF", "\xEF\xBF\xBD"},
      {std::string(1, '\0'), "\xEF\xBF\xBD"},
  };
  for (const auto& [raw, escaped] : odd) {
    for (std::size_t at = 0; at <= 40; ++at) {
      const std::string head(at, 'a');
      const std::string tail(40 - at, 'b');
      EXPECT_EQ(Escaped(head + raw + tail), head + escaped + tail) << at;
      // Two in one block, the second right after the first.
      EXPECT_EQ(Escaped(head + raw + raw + tail), head + escaped + escaped + tail) << at;
    }
  }
  // A character split by a block boundary stays whole.
  for (std::size_t at = 10; at < 20; ++at) {
    const std::string text = std::string(at, 'c') + "\xE6\x97\xA5" + std::string(20, 'd');
    EXPECT_EQ(Escaped(text), text) << at;
  }
}

TEST(OutputPair, CleansInvalidBytesAndNul) {
  EXPECT_EQ(Escaped(std::string("a\0b", 3)),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(Escaped("\xFF<"), "\xEF\xBF\xBD&lt;");
  // One replacement per maximal invalid subpart.
  EXPECT_EQ(Escaped("\xE2\x82&"), "\xEF\xBF\xBD&amp;");
  EXPECT_EQ(Escaped("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(Escaped("\xF0\x9F\x98"
                    "a\xF0\x9F\x98\x80"),
            "\xEF\xBF\xBD"
            "a\xF0\x9F\x98\x80");
  EXPECT_EQ(Escaped(std::string("\xE2\0\x82", 3)), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");

  OutputPair pair;
  AppendHtmlUtf8(pair, std::string("<b>\xFF\0", 5));
  EXPECT_EQ(pair.html, "<b>\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(pair.text, "");
}

TEST(OutputPair, AppendsTouchOneMemberEach) {
  OutputPair pair;
  AppendText(pair, "a<\xFF");
  AppendHtml(pair, "<p>");
  AppendHtmlUtf8(pair, "x&y");
  AppendEscaped(pair, "x&y");
  EXPECT_EQ(pair.text, "a<\xFF");
  EXPECT_EQ(pair.html, "<p>x&yx&amp;y");
}

TEST(OutputPair, TokenAppendsKeepFoldedSpaceAndBreak) {
  Lex_CL lex;
  lex.OpenBytes("  <\\\\  \n");
  const Token less = lex.Scan(true);
  const Token text = lex.Scan(false);
  const Token hardBreak = lex.Scan(false);
  OutputPair pair;
  AppendText(pair, less);
  AppendText(pair, hardBreak);
  AppendEscaped(pair, less);
  AppendHtmlUtf8(pair, less);
  AppendEscaped(pair, hardBreak);
  AppendEscaped(pair, text);
  EXPECT_EQ(pair.text, " <  \n");
  EXPECT_EQ(pair.html, " &lt; <  \n&yen;");
}

// A one-byte token escapes as the same byte in a longer text would, whichever way it is
// written, with and without a blank folded in front.
TEST(OutputPair, OneByteTokensEscapeAsText) {
  for (int c = 0; c < 256; ++c) {
    const std::string byte(1, static_cast<char>(c));
    for (const bool blank : {false, true}) {
      Token t;
      t.data = byte.data();
      t.size = 1;
      t.flags = blank ? Token::kLeadingSpace : 0;
      OutputPair pair;
      AppendEscaped(pair, t);
      EXPECT_EQ(pair.html, Escaped((blank ? " " : "") + byte)) << "byte " << c;
      OutputPair text;
      AppendText(text, t);
      EXPECT_EQ(text.text, (blank ? " " : "") + byte) << "byte " << c;
    }
  }
}

}  // namespace
}  // namespace tarvix
