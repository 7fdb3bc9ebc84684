// Code blocks: indented lines and fenced blocks, written as escaped `pre` elements. A
// fenced block that names a known brush gets the highlighter's class and marks the brush
// used, so that the page loads its script.
#include <algorithm>
#include <array>
#include <cstdint>

#include "core/Parser_CL.h"
#include "text/Text.h"
#include "text/Words.h"

namespace tarvix {
namespace {

// Blanks that make a line code rather than paragraph text.
constexpr std::int32_t kCodeIndent = 4;

// Bytes that end a stretch of code taken as it is: a backtick run may close the block and
// a line end may need rewriting, or start a line whose prefix the token reader must see.
constexpr std::array<bool, 256> MakeCodeStops() {
  std::array<bool, 256> t{};
  t['`'] = t['\r'] = t['\n'] = true;
  return t;
}
constexpr std::array<bool, 256> kCodeStops = MakeCodeStops();

// The first byte from `p` on that stops a stretch of code, or `n`. Eight bytes at a time
// where the words are little-endian; code lines are long runs of ordinary bytes.
std::size_t FindCodeStop(const char* d, std::size_t p, std::size_t n) {
  if constexpr (kWordsLittleEndian) {
    while (n - p >= 8) {
      const std::uint64_t word = LoadWord(d + p);
      const std::uint64_t stops =
          BytesEqual(word, '`') | BytesEqual(word, '\r') | BytesEqual(word, '\n');
      if (stops != 0)
        return p + FirstMarked(stops);
      p += 8;
    }
  }
  while (p < n && !kCodeStops[static_cast<unsigned char>(d[p])])
    ++p;
  return p;
}

// Where a stretch of code taken at once ended: the token reader goes on from `end`.
struct CodeBytes {
  std::size_t end = 0;
  bool atLineStart = false;  // `end` starts a line whose prefix is still to be read
  // A line handed back to the token reader: no stretch is tried again before here.
  std::size_t blockedUntil = 0;
};

// Appends the code from `from` on to `code`, as the tokens of a fence outside quotes give
// it: every byte as it is but the line ends (CR LF, LF CR, CR, LF), which become "\n", up to
// a backtick run of `count` or the end of `bytes`. A line followed by one that starts with
// `>` is left to the token reader, with the line after it: whether that `>` opens a quote
// depends on how the line ends (blanks before a line end make a hard break, after which
// no prefix is read), and the tokens know.
CodeBytes TakeCodeBytes(std::string_view bytes, std::size_t from, bool fromLineStart,
                        std::int32_t count, std::string& code) {
  const std::size_t n = bytes.size();
  const char* d = bytes.data();
  CodeBytes taken{from, fromLineStart, 0};
  if (fromLineStart && from < n && d[from] == '>')
    return taken;
  // The bytes from `runStart` to `p` are code as they stand and not appended yet.
  std::size_t runStart = from;
  std::size_t p = from;
  std::size_t lineBegin = from;  // the first byte of the line being taken, not before runStart
  for (;;) {
    p = FindCodeStop(d, p, n);
    if (p == n)
      break;
    const char c = d[p];
    if (c == '`') {
      std::size_t q = p + 1;
      while (q < n && d[q] == '`')
        ++q;
      if (q - p == static_cast<std::size_t>(count)) {
        code.append(d + runStart, p - runStart);
        taken.end = p;
        taken.atLineStart = false;
        return taken;
      }
      p = q;
      continue;
    }
    std::size_t q = p + 1;
    const bool pair = q < n && d[q] != c && (d[q] == '\r' || d[q] == '\n');
    if (pair)
      ++q;
    if (q < n && d[q] == '>') {
      code.append(d + runStart, lineBegin - runStart);
      taken.end = lineBegin;
      // A line that does not start with `>` reads the same with its prefix rule or
      // without, so a line after one that was taken may start as a line.
      taken.atLineStart = lineBegin == from ? fromLineStart : true;
      taken.blockedUntil = q;
      return taken;
    }
    if (c == '\n' && !pair) {
      // A lone LF stays as it is, inside the run.
      p = q;
    } else {
      code.append(d + runStart, p - runStart);
      code.push_back('\n');
      p = q;
      runStart = p;
    }
    lineBegin = p;
  }
  code.append(d + runStart, n - runStart);
  taken.end = n;
  taken.atLineStart = false;
  return taken;
}

}  // namespace

void Parser_CL::CollectFencedCode(std::int32_t count, std::string& code) {
  std::size_t blockedUntil = 0;
  for (;;) {
    const Token& t = current();
    if (t.EndsGathering())
      break;
    if (t.Is(kind::Backtick) && t.count == count)
      break;
    if (t.Is(kind::Lf)) {
      code.push_back('\n');
    } else {
      t.AppendTextTo(code);
    }
    // Inside a quote every line starts with its markers, which are no part of the code:
    // there the tokens are read one by one.
    const LexMark at = lex.Mark();
    const std::size_t from = at.curChar < 0 ? lex.InputSize() : at.pos - 1;
    if (quoteDepth == 0 && at.curChar >= 0 && from >= blockedUntil) {
      const CodeBytes taken = TakeCodeBytes(lex.Bytes(), from, atLineStart != 0, count, code);
      blockedUntil = std::max(blockedUntil, taken.blockedUntil);
      if (taken.end != from) {
        const std::string_view bytes = lex.Bytes();
        lex.Reset(taken.end < bytes.size()
                      ? LexMark{taken.end + 1, static_cast<unsigned char>(bytes[taken.end])}
                      : LexMark{bytes.size(), -1});
        atLineStart = taken.atLineStart ? 1 : 0;
      }
    }
    NextToken(false);
  }
}

void Parser_CL::RenderIndentedCode(OutputPair& out) {
  std::string code;
  for (;;) {
    const Token& t = current();
    if (!(t.Is(kind::Sp) || t.Is(kind::Br)) || t.count < kCodeIndent)
      break;
    // Blanks beyond the fourth belong to the code line.
    const std::string text = t.Text();
    code.append(text, kCodeIndent, std::string::npos);
    if (t.Is(kind::Br)) {
      NextToken(false);
      continue;
    }
    lex.escapes = 0;
    NextToken(false);
    code += CollectUntil(kind::Lf, -1);
    if (current().Is(kind::Lf)) {
      code.push_back('\n');
      NextToken(false);
    }
  }
  lex.escapes = 1;
  AppendText(out, code);
  out.html.append("<pre>");
  AppendEscaped(out, code);
  out.html.append("</pre>\n");
}

void Parser_CL::RenderFencedCode(OutputPair& out) {
  const std::int32_t n = current().count;
  lex.escapes = 0;
  NextToken(false);
  std::string& info = codeInfo_;
  info.clear();
  if (!current().Is(kind::Lf))
    info = CollectCode(n);
  std::string& code = codeText_;
  code.clear();
  if (current().Is(kind::Lf))
    NextToken(false);

  std::string brushName;
  bool withBrush = false;
  if (!(current().Is(kind::Backtick) && current().count == n)) {
    brushName = std::string(Trim(CleanUtf8(info)));
    if (Brush* brush = highLight.Find(brushName)) {
      brush->used = 1;
      withBrush = true;
    }
    // The closing run may stand anywhere, also inside a line.
    CollectFencedCode(n, code);
  } else {
    code = info;
  }
  lex.escapes = 1;
  // A fence left open inside a quote ends where the quote ends; the depth token stays.
  if (!current().IsDepth())
    NextToken(false);

  AppendText(out, code);
  if (withBrush) {
    out.html.append("<pre class=\"brush: ").append(brushName).append(";\">");
  } else {
    out.html.append("<pre>");
  }
  AppendEscaped(out, code);
  out.html.append("</pre>\n");
}

}  // namespace tarvix
