#include "text/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>

namespace tarvix {
namespace {

using namespace std::string_literals;

// Path examples are written with '/' and turned into this system's form.
std::string Native(std::string_view path) {
  return ToNativeSeparators(path);
}

TEST(TextTest, CleanUtf8KeepsWellFormedText) {
  EXPECT_EQ(CleanUtf8("plain ascii text, longer than a word"),
            "plain ascii text, longer than a word");
  // The first and last code points of each sequence length, and the last before surrogates.
  const std::string edges =
      "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"
      "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";
  EXPECT_EQ(CleanUtf8(edges), edges);
  EXPECT_EQ(CleanUtf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80!"),
            "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80!");
  EXPECT_EQ(CleanUtf8(""), "");
  std::string out = "kept:";
  AppendCleanUtf8(out, "\xC3\xA9");
  EXPECT_EQ(out, "kept:\xC3\xA9");
}

TEST(TextTest, CleanUtf8ReplacesEachMaximalSubpart) {
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(CleanUtf8("a\xE2\x82"), "a" + r);
  EXPECT_EQ(CleanUtf8("\xE0\x80\x80"), r + r + r);
  EXPECT_EQ(CleanUtf8("\xED\xA0\x80"), r + r + r);
  EXPECT_EQ(CleanUtf8("\xF4\x90\x80\x80"), r + r + r + r);
  EXPECT_EQ(CleanUtf8("\xF0\x80\x80\x80"), r + r + r + r);
  EXPECT_EQ(CleanUtf8("\xC0\xAF"), r + r);
  EXPECT_EQ(CleanUtf8("\xC1\xBF"), r + r);
  EXPECT_EQ(CleanUtf8("\xF0\x9F\x98"
                      "A"),
            r + "A");
  EXPECT_EQ(CleanUtf8("\xF4\x8F\xBF"), r);
  EXPECT_EQ(CleanUtf8("\x80\xBF"), r + r);
  EXPECT_EQ(CleanUtf8("\xF5\xF8\xFE\xFF"), r + r + r + r);
  EXPECT_EQ(CleanUtf8("\xC3\xC3\xA9"), r + "\xC3\xA9");
  EXPECT_EQ(CleanUtf8("a\xF1\x80\x80\xE1\x80\xC2"
                      "b\x80"
                      "c\x80\xBF"
                      "d"),
            "a" + r + r + r + "b" + r + "c" + r + r + "d");
  // Bad bytes inside and right after a long ASCII run.
  EXPECT_EQ(CleanUtf8("abcdefg\xFFhijklmnop\x80"), "abcdefg" + r + "hijklmnop" + r);
  // Three-byte letters (kana, han) beside their edges: a lead byte whose second byte is
  // narrower, a letter cut short by the end or by the next letter, a stray continuation.
  const std::string ka = "\xE3\x81\x8B";
  EXPECT_EQ(CleanUtf8(ka + ka + "\xE3\x81" + ka + "\xEF\xBF" + "\xE3"), ka + ka + r + ka + r + r);
  EXPECT_EQ(CleanUtf8(ka + "\xED\xBF\xBF" + ka + "\xED\x9F\xBF"),
            ka + r + r + r + ka + "\xED\x9F\xBF");
  EXPECT_EQ(CleanUtf8("\xEE\x80\x80\xEC\xBF\xBF\xE1\x80\x7F"),
            "\xEE\x80\x80\xEC\xBF\xBF" + r + "\x7F");
}

// Long stretches where damage, well-formed characters and ASCII runs of every length
// alternate: the text comes out in order whatever its pieces' lengths.
TEST(TextTest, CleanUtf8KeepsOrderAcrossLongDamagedStretches) {
  const std::string r = "\xEF\xBF\xBD";
  struct Piece {
    std::string in;
    std::string out;
  };
  const Piece pieces[] = {{"\xFF", r},           {"\xC3\xA9", "\xC3\xA9"}, {"\xE2\x82z", r + "z"},
                          {"\x80\x80", r + r},   {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
                          {"\0"s, r},             {"\xED\xA0", r + r},     {"\xC3z", r + "z"},
                          // Letters of Japanese, Hindi and Korean text, and their near misses.
                          {"\xE3\x81\x8B\xE6\x97\xA5", "\xE3\x81\x8B\xE6\x97\xA5"},
                          {"\xE0\xA4\x85", "\xE0\xA4\x85"}, {"\xED\x9F\xBF", "\xED\x9F\xBF"},
                          {"\xE0\x9F\xBF", r + r + r},  {"\xED\xBF\xBF", r + r + r},
                          {"\xE3\x81\xE3z", r + r + "z"}};
  std::string in;
  std::string expected;
  unsigned state = 7;
  for (int i = 0; i < 3000; ++i) {
    state = state * 1103515245u + 12345u;
    const Piece& piece = pieces[(state >> 16) % std::size(pieces)];
    // Mostly short ASCII runs, now and then one longer than any buffer.
    const std::size_t run = (state >> 8) % 16 == 0 ? 300 + (state >> 4) % 700 : (state >> 4) % 12;
    const std::string ascii(run, static_cast<char>('a' + i % 26));
    in += ascii + piece.in;
    expected += ascii + piece.out;
  }
  // Letters only, long enough for many blocks, ending cut short.
  for (int i = 0; i < 100; ++i) {
    in += "\xE3\x81\x8B\xC3\xA9\xE3\x80\x82";
    expected += "\xE3\x81\x8B\xC3\xA9\xE3\x80\x82";
  }
  in += "\xE3\x81";
  expected += r;
  // A damaged stretch with no ASCII at all, far longer than a buffer.
  for (int i = 0; i < 2000; ++i) {
    in += "\xC3\xA9\xFF";
    expected += "\xC3\xA9" + r;
  }
  EXPECT_EQ(CleanUtf8(in), expected);
  std::string out = "kept:";
  AppendCleanUtf8(out, in);
  EXPECT_EQ(out, "kept:" + expected);
}

// Text is looked at sixteen bytes at a time where it can be: where the blocks fall must not
// change what comes out, and well-formed letters at every edge of their ranges stay.
TEST(TextTest, CleanUtf8IsTheSameWhereverBlocksFall) {
  const unsigned char alphabet[] = {'a',  0x00, 0x80, 0x9F, 0xA0, 0xBF, 0xC1, 0xC2,
                                    0xDF, 0xE0, 0xE3, 0xED, 0xEF, 0xF0, 0xF4, 0xFF};
  const std::string good[] = {"\xC2\x80",     "\xDF\xBF",     "\xE0\xA0\x80", "\xE0\xBF\xBF",
                              "\xE1\x80\x80", "\xEC\xBF\xBF", "\xED\x80\x80", "\xED\x9F\xBF",
                              "\xEE\x80\x80", "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "z"};
  unsigned state = 11;
  const auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return state >> 16;
  };
  for (int round = 0; round < 400; ++round) {
    std::string bytes;
    std::string letters;
    for (unsigned n = 20 + next() % 60; n > 0; --n) {
      bytes.push_back(static_cast<char>(alphabet[next() % std::size(alphabet)]));
      letters += good[next() % std::size(good)];
    }
    EXPECT_EQ(CleanUtf8(letters), letters);
    const std::string clean = CleanUtf8(bytes);
    for (std::size_t shift = 1; shift < 16; ++shift) {
      const std::string pad(shift, 'p');
      ASSERT_EQ(CleanUtf8(pad + bytes), pad + clean) << round << " " << shift;
      ASSERT_EQ(CleanUtf8(pad + letters), pad + letters) << round << " " << shift;
    }
  }
}

// A cleaner of its own for the property below, one byte at a time and by code points rather
// than by byte ranges: a prefix of a sequence belongs to one maximal subpart when some
// continuation bytes after it could still make a character of the length its lead byte
// gives, which is when the code points of its completions reach a valid one.
bool CouldComplete(const unsigned char* p, std::size_t taken, std::size_t length) {
  std::uint32_t low = p[0] & (0xFFu >> (length + 1));
  for (std::size_t k = 1; k < taken; ++k) {
    if ((p[k] & 0xC0) != 0x80)
      return false;
    low = low << 6 | (p[k] & 0x3Fu);
  }
  std::uint32_t high = low;
  for (std::size_t k = taken; k < length; ++k) {
    low <<= 6;
    high = high << 6 | 0x3F;
  }
  const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  const std::uint32_t most[] = {0, 0, 0x7FF, 0xFFFF, 0x10FFFF};
  low = std::max(low, least[length]);
  high = std::min(high, most[length]);
  // The completions must reach past the surrogates on one side or the other.
  return low <= high && (low < 0xD800 || high > 0xDFFF);
}

std::string ReferenceClean(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char b = p[i];
    const std::size_t length = b < 0x80    ? 1
                               : b >= 0xF8 ? 0
                               : b >= 0xF0 ? 4
                               : b >= 0xE0 ? 3
                               : b >= 0xC0 ? 2
                                           : 0;
    std::size_t taken = 0;
    for (std::size_t k = std::min(length, s.size() - i); k > 0 && taken == 0; --k) {
      if (length == 1 || CouldComplete(p + i, k, length))
        taken = k;
    }
    if (length != 0 && b != 0 && taken == length) {
      out.append(s.substr(i, length));
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      i += std::max<std::size_t>(taken, 1);
    }
  }
  return out;
}

// The cleaner against the reference on random text of every length up to a few hundred
// bytes, at every alignment and appended to pages with and without room: the text is made
// of pieces of each kind of damage beside well-formed letters and ASCII.
TEST(TextTest, CleanUtf8MatchesAByteByByteReference) {
  const std::string pieces[] = {
      "a", "plain ascii words ", "\x7F", "\0"s,
      // Well-formed letters of each length and at their edges.
      "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xE3\x81\x8B", "\xED\x9F\xBF", "\xEE\x80\x80",
      "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF",
      // Cut short.
      "\xC3", "\xE3\x81", "\xE3", "\xF0\x9F\x98", "\xF0\x9F", "\xF4\x8F",
      // Overlong.
      "\xC0\xAF", "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF", "\xF0\x80\x80\x80", "\xF0\x8F\xBF",
      // Surrogates.
      "\xED\xA0\x80", "\xED\xBF\xBF", "\xED\xB0",
      // Past U+10FFFF.
      "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF7\xBF", "\xF8", "\xFE", "\xFF",
      // Stray continuation bytes.
      "\x80", "\xBF", "\x80\x80\x80\x80\x80"};
  std::uint64_t state = 29;
  const auto next = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state >> 33);
  };
  // Each length with three mixtures: pieces alone, random bytes alone, and both.
  for (std::size_t length = 0; length <= 320; ++length) {
    for (int mixture = 0; mixture < 3; ++mixture) {
      std::string text;
      while (text.size() < length) {
        if (mixture == 1 || (mixture == 2 && next() % 3 == 0)) {
          text.push_back(static_cast<char>(next() % 256));
        } else {
          text += pieces[next() % std::size(pieces)];
        }
      }
      text.resize(length);
      const std::string expected = ReferenceClean(text);
      // The same bytes at every offset from a 16-byte boundary.
      alignas(16) char buffer[352];
      for (std::size_t offset = 0; offset < 16; ++offset) {
        std::memcpy(buffer + offset, text.data(), text.size());
        ASSERT_EQ(CleanUtf8(std::string_view(buffer + offset, text.size())), expected)
            << "length " << length << " mixture " << mixture << " offset " << offset;
      }
      // Appended to a page that has no room to spare, and to one with a little.
      for (const std::size_t room : {0, 5, 64, 1000}) {
        std::string page = "page:";
        page.reserve(page.size() + room);
        AppendCleanUtf8(page, text);
        ASSERT_EQ(page, "page:" + expected) << "length " << length << " room " << room;
      }
    }
  }
}

TEST(TextTest, CleanUtf8ReplacesNul) {
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(CleanUtf8("a\0b"s), "a" + r + "b");
  EXPECT_EQ(CleanUtf8("abcdefgh\0ijklmnop\0"s), "abcdefgh" + r + "ijklmnop" + r);
  EXPECT_EQ(CleanUtf8("\0"s), r);
}

TEST(TextTest, Trim) {
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(Trim(" \t\r\n"), "");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("x"), "x");
  EXPECT_EQ(Trim("--x-y--", "-"), "x-y");
}

TEST(TextTest, ReplaceAll) {
  EXPECT_EQ(ReplaceAll("a&b&", "&", "&amp;"), "a&amp;b&amp;");
  EXPECT_EQ(ReplaceAll("aaa", "aa", "x"), "xa");
  EXPECT_EQ(ReplaceAll("abab", "ab", "abab"), "abababab");
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceAll("abc", "b", ""), "ac");
  EXPECT_EQ(ReplaceAll("", "a", "b"), "");
}

TEST(TextTest, AsciiCaseLeavesOtherBytesAlone) {
  EXPECT_EQ(AsciiLowerCase("HTML \xC3\x89Z"), "html \xC3\x89z");
  EXPECT_TRUE(EqualsIgnoreCase("Html", "hTML"));
  EXPECT_FALSE(EqualsIgnoreCase("\xC3\x89", "\xC3\xA9"));
  EXPECT_FALSE(EqualsIgnoreCase("html", "htm"));
  EXPECT_FALSE(EqualsIgnoreCase("[", "{"));
}

TEST(TextTest, FolderOfAndExtensionOf) {
  EXPECT_EQ(FolderOf(Native("/a/b/doc.md")), Native("/a/b"));
  EXPECT_EQ(FolderOf(Native("a/b/")), Native("a/b"));
  EXPECT_EQ(FolderOf(Native("/doc.md")), "");
  EXPECT_EQ(FolderOf("doc.md"), "");

  EXPECT_EQ(ExtensionOf("doc.MD", true), ".md");
  EXPECT_EQ(ExtensionOf("doc.MD", false), ".MD");
  EXPECT_EQ(ExtensionOf("archive.tar.gz", false), ".gz");
  EXPECT_EQ(ExtensionOf("notes.", false), ".");
  EXPECT_EQ(ExtensionOf(".profile", false), ".profile");
  EXPECT_EQ(ExtensionOf(Native("v1.2/readme"), false), "");
  EXPECT_EQ(ExtensionOf("readme", false), "");

  EXPECT_EQ(WithoutExtension(Native("a/b.c.md")), Native("a/b.c"));
  EXPECT_EQ(WithoutExtension("notes."), "notes");
  EXPECT_EQ(WithoutExtension(Native("v1.2/readme")), Native("v1.2/readme"));

  EXPECT_EQ(StripTrailing("a//", '/'), "a/");
  EXPECT_EQ(StripTrailing("a", '/'), "a");
  EXPECT_EQ(StripTrailing("", '/'), "");
}

TEST(TextTest, RelativePathWithSlashes) {
  EXPECT_EQ(RelativePath("/a/b", "/a/b/", '/'), "./");
  EXPECT_EQ(RelativePath("/a/b/", "/a/", '/'), "../");
  EXPECT_EQ(RelativePath("/a/b/", "/a/b/sub/", '/'), "./sub/");
  EXPECT_EQ(RelativePath("/a/b/", "/a/c/d/", '/'), "../c/d/");
  EXPECT_EQ(RelativePath("/a/", "/a/x.html", '/'), "./x.html");
  EXPECT_EQ(RelativePath("/a/b/c/", "/x/y.css", '/'), "../../../x/y.css");
  EXPECT_EQ(RelativePath("/", "/x/", '/'), "./x/");
  EXPECT_EQ(RelativePath("//a//b/", "/a/b//c", '/'), "./c");
  // A shared prefix of a name is not a shared folder.
  EXPECT_EQ(RelativePath("/ab/", "/a/b/", '/'), "../a/b/");
}

TEST(TextTest, RelativePathWithBackslashes) {
  EXPECT_EQ(RelativePath("C:\\site\\", "C:\\site\\", '\\'), ".\\");
  EXPECT_EQ(RelativePath("C:\\site\\", "C:\\site\\docs\\", '\\'), ".\\docs\\");
  EXPECT_EQ(RelativePath("C:\\site\\a\\b", "C:\\site\\", '\\'), "..\\..\\");
  EXPECT_EQ(RelativePath("C:\\site\\docs\\", "C:\\site\\index.html", '\\'), "..\\index.html");
  // '/' is an ordinary character when the separator is '\\'.
  EXPECT_EQ(RelativePath("C:\\a/b\\", "C:\\a/b\\c", '\\'), ".\\c");
}

#ifndef _WIN32
TEST(TextTest, FullPathOfNormalises) {
  EXPECT_EQ(FullPathOf("/a/b", "../c.html"), "/a/c.html");
  EXPECT_EQ(FullPathOf("/a/b/", "./x//y/"), "/a/b/x/y/");
  EXPECT_EQ(FullPathOf("/a", ""), "/a/");
  EXPECT_EQ(FullPathOf("", ""), "/");
  EXPECT_EQ(FullPathOf("/", "../../x"), "/x");
  EXPECT_EQ(FullPathOf("sub", "x.md"), std::filesystem::current_path().string() + "/sub/x.md");
}
#endif

}  // namespace
}  // namespace tarvix
