// Headings with document-unique ids, paragraphs, and the underlined headings a paragraph
// turns into.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "core/Parser_CL.h"
#include "text/ByteScan.h"
#include "text/Text.h"
#include "text/Words.h"

namespace tarvix {
namespace {

constexpr std::int32_t kMaxHeadingLevel = 6;

// The bytes an id leaves out: double quotes, apostrophes and parentheses.
constexpr std::array<bool, 256> MakeLeftOut() {
  std::array<bool, 256> t{};
  t['"'] = t['\''] = t['('] = t[')'] = true;
  return t;
}
constexpr std::array<bool, 256> kLeftOut = MakeLeftOut();

// The bytes of a heading line whose tokens all write their own text: no opener of a
// construct, no entity, no escape, no `|` that would end the line's run, and no blank but
// the space. Control bytes and bytes from 0x80 up are left to the token reader.
constexpr std::array<bool, 256> MakeHeadingPlain() {
  std::array<bool, 256> t{};
  for (int b = 0x20; b < 0x7F; ++b)
    t[b] = true;
  for (char c : std::string_view("*_`[]!<&\\~|"))
    t[static_cast<unsigned char>(c)] = false;
  return t;
}
constexpr std::array<bool, 256> kHeadingPlain = MakeHeadingPlain();

// True when every byte of the line from `at` to `end` in `bytes` is plain in a heading
// and no two spaces meet: a longer blank is written as one space, and one before the line
// end makes a break. Blocks may read past the line, never past `bytes`.
bool IsPlainHeadingLine(std::string_view bytes, std::size_t at, std::size_t end) {
  std::size_t p = at;
  if constexpr (kBlockScan) {
    for (; p < end && p + 17 <= bytes.size(); p += 16) {
      std::uint32_t stops = HeadingStops16(bytes.data() + p);
      if (end - p < 16)
        stops &= (1u << (end - p)) - 1;
      if (stops != 0)
        return false;
    }
  }
  bool space = p > at && bytes[p - 1] == ' ';
  for (; p < end; ++p) {
    const char c = bytes[p];
    if (!kHeadingPlain[static_cast<unsigned char>(c)] || (space && c == ' '))
      return false;
    space = c == ' ';
  }
  return true;
}

bool IsTrimmed(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// `text` without the blanks and line ends at either end.
std::string_view TrimBlanks(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsTrimmed(text[begin]))
    ++begin;
  while (end > begin && IsTrimmed(text[end - 1]))
    --end;
  return text.substr(begin, end - begin);
}

// The id of a heading: its trimmed text without double quotes, apostrophes and
// parentheses; letters keep their case and blanks stay. True when every byte of the text
// is ASCII and no NUL, so that cleaning it to UTF-8 would change nothing.
bool MakeId(std::string_view text, std::string& id) {
  text = TrimBlanks(text);
  const std::size_t n = text.size();
  id.resize(n);
  const char* const from = text.data();
  char* const first = id.data();
  char* to = first;
  unsigned char all = 0;
  bool nul = false;
  // Byte by byte from `begin` to `end`.
  auto copyBytes = [&](std::size_t begin, std::size_t end) {
    for (std::size_t k = begin; k < end; ++k) {
      const char c = from[k];
      const auto byte = static_cast<unsigned char>(c);
      all |= byte;
      nul |= byte == 0;
      *to = c;
      to += kLeftOut[byte] ? 0 : 1;
    }
  };
  std::size_t i = 0;
  if constexpr (kWordsLittleEndian) {
    // Words with nothing to leave out and nothing to clean are copied whole, the others
    // byte by byte.
    for (; n - i >= 8; i += 8) {
      const std::uint64_t word = LoadWord(from + i);
      if ((BytesEqual(word, '"') | BytesEqual(word, '\'') | BytesEqual(word, '(') |
           BytesEqual(word, ')') | BytesEqual(word, 0) | HighBytes(word)) != 0) {
        copyBytes(i, i + 8);
        continue;
      }
      std::memcpy(to, from + i, 8);
      to += 8;
    }
  }
  copyBytes(i, n);
  id.resize(static_cast<std::size_t>(to - first));
  return all < 0x80 && !nul;
}

// The id of a heading line, from `at` to `end` in `bytes`, as MakeId makes it from the
// line's bytes: sixteen bytes at a time where `bytes` holds a block past them.
bool GuessId(std::string_view bytes, std::size_t at, std::size_t end, std::string& id) {
  if constexpr (!kBlockScan)
    return MakeId(bytes.substr(at, end - at), id);
  std::size_t begin = at;
  std::size_t last = end;
  while (begin < last && IsTrimmed(bytes[begin]))
    ++begin;
  while (last > begin && IsTrimmed(bytes[last - 1]))
    --last;
  // Room for a whole block past the id's end; the id is cut to its length after.
  id.resize(last - begin + 16);
  const char* const from = bytes.data();
  char* const first = id.data();
  char* to = first;
  std::uint32_t unclean = 0;
  std::size_t p = begin;
  for (; p < last && p + 16 <= bytes.size(); p += 16) {
    const std::uint32_t keep = last - p < 16 ? (1u << (last - p)) - 1 : 0xFFFF;
    std::uint32_t wide = 0;
    const std::uint32_t out = IdLeftOut16(from + p, &wide) & keep;
    unclean |= wide & keep;
    if (out == 0) {
      std::memcpy(to, from + p, 16);
      to += std::min<std::size_t>(16, last - p);
      continue;
    }
    const std::size_t stop = std::min(last, p + 16);
    for (std::size_t k = p; k < stop; ++k) {
      *to = from[k];
      to += kLeftOut[static_cast<unsigned char>(from[k])] ? 0 : 1;
    }
  }
  for (; p < last; ++p) {
    const auto byte = static_cast<unsigned char>(from[p]);
    unclean |= byte >= 0x80 || byte == 0 ? 1 : 0;
    *to = from[p];
    to += kLeftOut[byte] ? 0 : 1;
  }
  id.resize(static_cast<std::size_t>(to - first));
  return unclean == 0;
}

// Where the line of a heading starts in `bytes`: at its first token, which lies in the
// input unless the line is empty. npos when it does not.
std::size_t LineAt(std::string_view bytes, const Token& first) {
  const char* const begin = bytes.data();
  if (first.data < begin || first.data >= begin + bytes.size())
    return std::string_view::npos;
  return static_cast<std::size_t>(first.data - begin);
}

// Where the line starting at `at` ends: at its LF, or at the end of `bytes`.
std::size_t LineEnd(std::string_view bytes, std::size_t at) {
  if (at >= bytes.size())
    return bytes.size();
  const std::size_t end = bytes.find('\n', at);
  return end == std::string_view::npos ? bytes.size() : end;
}

// How far past a heading line we look for the next one.
constexpr std::size_t kLookAhead = 512;

// Where the line of the next heading would start (after its `#` run, as the lexer takes
// it), when a line that starts with `#` begins within kLookAhead bytes of `from`; npos
// otherwise.
std::size_t NextHeadingLine(std::string_view bytes, std::size_t from) {
  const std::size_t limit = std::min(bytes.size(), from + kLookAhead);
  const char* d = bytes.data();
  // The first line end at or after `from` with '#' after it, both before the limit.
  std::size_t end = from;
  std::size_t found = std::string_view::npos;
  while (kBlockScan && end + 17 <= limit) {
    const std::uint32_t starts = LineStarts16(d + end, '#');
    if (starts != 0) {
      found = end + static_cast<std::size_t>(std::countr_zero(starts));
      break;
    }
    end += 16;
  }
  for (; found == std::string_view::npos && end + 1 < limit; ++end) {
    if (d[end] == '\n' && d[end + 1] == '#')
      found = end;
  }
  if (found == std::string_view::npos)
    return found;
  std::size_t at = found + 1;
  while (at < bytes.size() && bytes[at] == '#' && at - (found + 1) < kMaxHeadingLevel)
    ++at;
  return at;
}

}  // namespace

void Parser_CL::RenderHeading(OutputPair& out) {
  const std::int32_t level = std::min(current().count, kMaxHeadingLevel);
  NextToken(false);
  // The id made from the raw line is fetched from the table while the line is rendered,
  // and so is the next heading's, looked for a little way ahead: by the time an id is
  // known, its slot has arrived.
  const std::string_view bytes = lex.Bytes();
  const std::size_t at = LineAt(bytes, current());
  if (!headingGuesses_.MoveTo(at)) {
    HeadingGuess& guess = headingGuesses_.Current();
    guess.at = at;
    guess.end = at == std::string_view::npos ? at : LineEnd(bytes, at);
    if (at == std::string_view::npos) {
      guess.clean = MakeId(std::string_view(), guess.id);
      guess.plain = false;
    } else {
      guess.clean = GuessId(bytes, at, guess.end, guess.id);
      guess.plain = guess.clean && IsPlainHeadingLine(bytes, at, guess.end);
    }
    guess.hash = headingIds.Find(guess.id);
  }
  const HeadingGuess& guess = headingGuesses_.Current();
  const std::string_view raw =
      at == std::string_view::npos ? std::string_view() : bytes.substr(at, guess.end - at);
  HeadingGuess& next = headingGuesses_.Ahead();
  next.at = NextHeadingLine(bytes, at == std::string_view::npos ? bytes.size() : guess.end);
  if (next.at != std::string_view::npos) {
    next.end = LineEnd(bytes, next.at);
    next.clean = GuessId(bytes, next.at, next.end, next.id);
    next.plain = next.clean && IsPlainHeadingLine(bytes, next.at, next.end);
    next.hash = headingIds.Find(next.id);
  }
  // A plain line is its own text and needs no run of the dispatcher: the scan goes on at
  // its line end, as the run would have left it. An empty one may be a line end that a
  // backslash before it escaped, which the run reads on past.
  const bool plain = at != std::string_view::npos && !raw.empty() && guess.plain;
  OutputPair* line = nullptr;
  if (plain) {
    lex.MoveTo(guess.end);
    NextToken(false);
  } else {
    line = &inPlace_.ScratchPair(inlineDepth_);
    RenderInline(InlineMode::Heading, *line, -1);
  }

  // The line rendered from its bytes as they stand: the guess is the id.
  const bool asGuessed = plain || (guess.clean && TrimBlanks(line->text) == TrimBlanks(raw));
  if (!asGuessed) {
    headingGuesses_.text.clear();
    AppendCleanUtf8(headingGuesses_.text, line->text);
    (void)MakeId(headingGuesses_.text, headingGuesses_.id);
  }
  const std::string& id = asGuessed ? guess.id : headingGuesses_.id;
  const std::uint64_t hash = asGuessed || id == guess.id ? guess.hash : headingIds.Find(id);
  const char digit = static_cast<char>('0' + level);
  // The tags around the heading, with its level's digit in place.
  const char open[] = {'<', 'h', digit, ' ', 'i', 'd', '=', '"'};
  const char close[] = {'<', '/', 'h', digit, '>', '\n'};
  static_assert(std::string_view(" id=\"") == TocNotes_CL::kIdStart);
  AppendText(out, plain ? raw : std::string_view(line->text));
  out.html.append(open, sizeof open);
  const std::size_t idAt = out.html.size();
  out.html.append(id);
  if (const std::int32_t before = headingIds.Take(out.html, idAt, id.size(), hash); before != 0) {
    // The numbered form is what the heading shows; the table counts the plain id only.
    out.html.push_back('-');
    out.html.append(IntToText(before));
  }
  const std::size_t idSize = out.html.size() - idAt;
  out.html.append(TocNotes_CL::kIdEnd);
  const std::size_t htmlAt = out.html.size();
  if (plain) {
    AppendEscapedTo(out.html, TrimBlanks(raw));
  } else {
    const std::string_view trimmed = TrimBlanks(line->html);
    firstPass_.NoteTrimmed(trimmed, pass);
    out.html.append(trimmed);
  }
  const std::size_t htmlSize = out.html.size() - htmlAt;
  out.html.append(close, sizeof close);
  tocNotes_.Note(idAt, idSize, htmlSize);
}

int Parser_CL::RenderParagraph(OutputPair& out) {
  // The paragraph is rendered straight into the caller's pair behind an opening "<p>"
  // written in advance; an underline turns it into a heading once the kind is known.
  const std::size_t htmlStart = out.html.size();
  const std::size_t textStart = out.text.size();
  out.html.append("<p>");
  const std::size_t contentStart = out.html.size();
  auto emit = [&](std::string_view open, std::string_view close) {
    out.html.replace(htmlStart, contentStart - htmlStart, open);
    out.html.append(close);
  };
  for (;;) {
    RenderInline(InlineMode::Paragraph, out, -1);
    const Token& t = current();
    if (t.Is(kind::Equals)) {
      const ParserSnapshot snapshot = Snapshot();
      while (current().Is(kind::Equals))
        NextToken(true);
      if (current().Is(kind::Lf)) {
        emit("<h1>", "</h1>\n");
        return 0;
      }
      // Not alone on its line: the run of "=" is paragraph text.
      Restore(snapshot, nullptr);
      continue;
    }
    if (t.Is(kind::Rule)) {
      NextToken(true);
      emit("<h2>", "</h2>\n");
      return 0;
    }
    if (t.Is(kind::Hyphen)) {
      const ParserSnapshot snapshot = Snapshot();
      while (current().Is(kind::Hyphen))
        NextToken(true);
      if (current().Is(kind::Lf)) {
        emit("<h2>", "</h2>\n");
        return 0;
      }
      Restore(snapshot, nullptr);
      continue;
    }
    if (t.Is(kind::Pipe)) {
      const ParserSnapshot snapshot = Snapshot();
      // A line with no end after it is no table row: the line so far is not copied out.
      if (LineEndAhead() && RenderTable(out, out.html.substr(contentStart), 0, htmlStart)) {
        // A table replaces what the line held so far, in both halves of the pair.
        if (out.keepText)
          out.text.resize(textStart);
        return 0;
      }
      // No table: the `|` is text, and no later `|` of this paragraph tries again.
      Restore(snapshot, nullptr);
      tableRowFlag = 0;
      continue;
    }
    emit("<p>", "</p>\n");
    return 0;
  }
}

}  // namespace tarvix
