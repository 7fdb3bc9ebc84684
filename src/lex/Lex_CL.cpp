// Character input and token scanning.
#include "lex/Lex_CL.h"

#include <array>
#include <bit>
#include <limits>
#include <utility>

#include "platform/Platform.h"
#include "text/ByteScan.h"

namespace tarvix {
namespace {

constexpr std::int32_t kMaxCount = std::numeric_limits<std::int32_t>::max();

// Bytes that HTML escaping changes or hands to the UTF-8 cleaner.
constexpr std::array<bool, 256> MakeEscapeTable() {
  std::array<bool, 256> t{};
  for (int b = 0x80; b < 256; ++b)
    t[b] = true;
  t[0] = true;
  for (char c : std::string_view("\"&'<>\\"))
    t[static_cast<unsigned char>(c)] = true;
  return t;
}
constexpr std::array<bool, 256> kEscaped = MakeEscapeTable();

// The word loop of TakePlain looks at a byte and at whether the one after it starts a
// word: the entry says whether the first byte goes on with the run (an ordinary byte, or
// a space before the start of a word) and whether escaping changes it. Small tables and
// one branch a byte.
constexpr std::uint8_t kPairGoesOn = 1;
constexpr std::uint8_t kPairEscaped = 2;
constexpr std::array<std::uint8_t, 512> MakePairTable() {
  std::array<std::uint8_t, 512> t{};
  for (int a = 0; a < 256; ++a) {
    for (int wordNext = 0; wordNext < 2; ++wordNext) {
      const bool goesOn = !kStopsText[a] || (a == ' ' && wordNext == 1);
      t[a * 2 + wordNext] =
          static_cast<std::uint8_t>((goesOn ? kPairGoesOn : 0) | (kEscaped[a] ? kPairEscaped : 0));
    }
  }
  return t;
}
constexpr std::array<std::uint8_t, 512> kPair = MakePairTable();

// Bytes that the loop below takes as one token of a single byte whenever a word starts
// right after them: punctuation that stops a word, and the short kinds that only a blank
// or a byte of their own kind would lengthen. Not the ampersand (before a letter it may be
// a reference), the backslash (an escape) or blanks and line ends.
constexpr std::array<bool, 256> MakeMarkBeforeWordTable() {
  std::array<bool, 256> t{};
  for (int b = 0; b < 256; ++b)
    t[b] = kStopsText[b];
  for (char c : std::string_view(" \t\r\n\\"))
    t[static_cast<unsigned char>(c)] = false;
  for (char c : std::string_view("(.+#0123456789"))
    t[static_cast<unsigned char>(c)] = true;
  return t;
}
constexpr std::array<bool, 256> kMarkBeforeWord = MakeMarkBeforeWordTable();

bool IsBlank(std::int32_t c) {
  return c == ' ' || c == '\t';
}
bool IsDigit(std::int32_t c) {
  return c >= '0' && c <= '9';
}
bool IsAsciiAlnum(std::int32_t c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
// Run lengths and numbers saturate: a count never wraps.
std::int32_t Bump(std::int32_t n) {
  return n < kMaxCount ? n + 1 : n;
}
std::int32_t AppendDigit(std::int32_t n, std::int32_t digit) {
  if (n > (kMaxCount - digit) / 10)
    return kMaxCount;
  return n * 10 + digit;
}
// Continuation bytes that belong to a UTF-8 lead byte, so an escaped character is taken
// whole rather than split into two invalid pieces.
int ContinuationBytes(std::int32_t lead) {
  if (lead >= 0xC2 && lead <= 0xDF)
    return 1;
  if (lead >= 0xE0 && lead <= 0xEF)
    return 2;
  if (lead >= 0xF0 && lead <= 0xF4)
    return 3;
  return 0;
}

}  // namespace

bool Lex_CL::Open(const std::string& path) {
  if ((bytes_ || mapped_) && path == path_) {
    Start();
    return true;
  }
  bytes_.reset();
  mapped_.reset();
  path_.clear();
  data_ = nullptr;
  size_ = 0;
  curChar_ = -2;
  if (auto mapped = std::make_shared<platform::MappedFile>();
      platform::MapFile(path, mapped.get())) {
    mapped_ = std::move(mapped);
  } else {
    auto bytes = std::make_shared<std::string>();
    if (!platform::ReadWholeFile(path, false, bytes.get()))
      return false;
    bytes_ = std::move(bytes);
  }
  path_ = path;
  Start();
  return true;
}

void Lex_CL::OpenBytes(std::string bytes) {
  mapped_.reset();
  bytes_ = std::make_shared<std::string>(std::move(bytes));
  path_.clear();
  Start();
}

void Lex_CL::OpenView(std::string_view bytes) {
  mapped_.reset();
  bytes_.reset();
  view_ = bytes;
  path_.clear();
  Start();
}

void Lex_CL::ReleaseBefore(std::size_t offset) {
  if (mapped_)
    platform::ReleaseMapped(*mapped_, offset);
}

bool Lex_CL::Intact() const {
  return !mapped_ || platform::MappingIntact(*mapped_);
}

bool Lex_CL::ReadAgain(std::string* reason) {
  if (!mapped_) {
    Start();
    return true;
  }
  auto bytes = std::make_shared<std::string>();
  if (!platform::ReadMappedFile(*mapped_, bytes.get(), reason))
    return false;
  mapped_.reset();
  bytes_ = std::move(bytes);
  Start();
  return true;
}

void Lex_CL::Start() {
  if (mapped_) {
    data_ = mapped_->data();
    size_ = mapped_->size();
  } else if (bytes_) {
    data_ = bytes_->data();
    size_ = bytes_->size();
  } else {
    data_ = view_.data();
    size_ = view_.size();
  }
  // A byte-order mark would glue onto the first token; it is no part of the document.
  start_ =
      (size_ >= 3 && static_cast<unsigned char>(data_[0]) == 0xEF &&
       static_cast<unsigned char>(data_[1]) == 0xBB && static_cast<unsigned char>(data_[2]) == 0xBF)
          ? 3
          : 0;
  pos_ = start_;
  Advance();
}

PlainRun Lex_CL::TakePlain(const PlainBytes& plain) {
  PlainRun run;
  if (curChar_ < 0)
    return run;
  const std::size_t n = size_;
  const char* d = data_;
  std::size_t p = pos_ - 1;
  run.begin = p;
  bool text = false;
  // The byte after `q`, or -1 at the end.
  auto at = [&](std::size_t q) -> std::int32_t {
    return q < n ? static_cast<unsigned char>(d[q]) : -1;
  };
  while (p < n) {
    const auto c = static_cast<unsigned char>(d[p]);
    if (kStartsText[c]) {
      // Words and the single spaces between them in one loop: a space followed by the
      // start of a word is taken without leaving it, so the loop ends where a word ends
      // at something other than a space.
      std::uint8_t escaped = kEscaped[c] ? kPairEscaped : 0;
      ++p;
      while (p + 1 < n) {
        // Whole blocks of letters and spaces first; the byte they stop at goes to the
        // exact test below.
        if (kBlockScan && p + 17 <= n) {
          std::uint32_t wide = 0;
          const std::uint32_t words = WordBytes16(d + p, &wide);
          if (words == 0xFFFF) {
            escaped |= wide != 0 ? kPairEscaped : 0;
            p += 16;
            continue;
          }
          const auto taken = static_cast<std::uint32_t>(std::countr_zero(~words));
          escaped |= (wide & ((1u << taken) - 1)) != 0 ? kPairEscaped : 0;
          p += taken;
        }
        const std::uint8_t k =
            kPair[static_cast<unsigned char>(d[p]) * 2u +
                  static_cast<unsigned>(kStartsText[static_cast<unsigned char>(d[p + 1])])];
        if ((k & kPairGoesOn) == 0) {
          // A mark of one byte between two words ("a-b", "a/b", "x)y"), or a single space
          // and such a mark before a word (" (a", " \"b"), is taken here, and the word
          // after it goes on in this loop rather than through the one below.
          const std::size_t m = d[p] == ' ' ? p + 1 : p;
          const auto mark = static_cast<unsigned char>(d[m]);
          if (m + 1 < n && kMarkBeforeWord[mark] && plain.take[mark] &&
              kStartsText[static_cast<unsigned char>(d[m + 1])] &&
              (mark != '_' || m == p || !plain.underscoreAfterText)) {
            escaped |= kEscaped[mark] ? kPairEscaped : 0;
            p = m + 1;
            continue;
          }
          break;
        }
        escaped |= k;
        ++p;
      }
      // The last byte of the input has no byte after it.
      if (p + 1 == n && !kStopsText[static_cast<unsigned char>(d[p])]) {
        escaped |= kEscaped[static_cast<unsigned char>(d[p])] ? kPairEscaped : 0;
        ++p;
      }
      run.escaped |= (escaped & kPairEscaped) != 0;
      text = true;
      continue;
    }
    const std::int32_t next = at(p + 1);
    if (IsBlank(c)) {
      // Blanks before a line end are a hard break, or a blank and a line end.
      std::size_t q = p + 1;
      if (plain.blankRuns) {
        while (IsBlank(at(q)))
          ++q;
      } else if (c != ' ' || IsBlank(next)) {
        break;
      }
      const std::int32_t after = at(q);
      if (after < 0 || after == '\r' || after == '\n')
        break;
      p = q;
      text = false;
      continue;
    }
    if (!plain.take[c])
      break;
    std::size_t len = 1;
    bool isText = false;
    switch (c) {
      case ':':
        if (next == '-')
          len = 0;
        break;
      case '-':
        if (next == '-' || IsBlank(next))
          len = 0;
        break;
      case '=':
        if (next == '=')
          len = 0;
        break;
      case '*':
        if (next == '*' || IsBlank(next))
          len = 0;
        break;
      case '!':
        isText = true;
        if (next == '[')
          len = 0;
        break;
      case '~':
        isText = true;
        if (next == '~')
          len = 0;
        break;
      case '_':
        if (next == '_' || (plain.underscoreAfterText && !text))
          len = 0;
        break;
      case '&':
        isText = true;
        if (IsAsciiAlnum(next))
          len = 0;
        break;
      case '+':
        if (IsBlank(next)) {
          len = 2;
        } else {
          isText = true;
        }
        break;
      case '\\':
        isText = true;
        if (escapes)
          len = 0;
        break;
      case '[':
        if (next == '^')
          len = 0;
        break;
      case ']':
        if (next == ':')
          len = 0;
        break;
      case '`':
        while (at(p + len) == '`')
          ++len;
        break;
      case '#':
        while (len < 6 && at(p + len) == '#')
          ++len;
        break;
      default:
        if (IsDigit(c)) {
          while (IsDigit(at(p + len)))
            ++len;
          isText = true;
          if (at(p + len) == '.') {
            ++len;
            if (at(p + len) == ' ') {
              ++len;
              isText = false;
            }
          }
        }
        break;
    }
    if (len == 0)
      break;
    // Of the short kinds only single characters are escaped.
    run.escaped |= kEscaped[c];
    p += len;
    text = isText;
  }
  run.end = p;
  run.endsInText = text;
  if (p != run.begin) {
    pos_ = p;
    Advance();
  }
  return run;
}

std::size_t Lex_CL::PlainCodeSpanEnd(std::int32_t count) const {
  if (curChar_ < 0)
    return std::string_view::npos;
  const std::size_t n = size_;
  const char* d = data_;
  std::size_t p = pos_ - 1;
  while (p < n) {
    // Whole blocks of bytes the span writes as they are, then the byte they stop at.
    if (kBlockScan && p + 17 <= n) {
      const std::uint32_t stops = CodeSpanStops16(d + p);
      if (stops == 0) {
        p += 16;
        continue;
      }
      p += static_cast<std::size_t>(std::countr_zero(stops));
    }
    const char c = d[p];
    if (c == '`') {
      const std::size_t run = p;
      while (p < n && d[p] == '`')
        ++p;
      // A run of another length is text inside the span.
      if (p - run == static_cast<std::size_t>(count))
        return run;
      continue;
    }
    // A line end goes on into the next line, a tab or a longer blank is written as one
    // space: both are left to the token reader.
    if (c == '\n' || c == '\r' || c == '\t' || (c == ' ' && p + 1 < n && d[p + 1] == ' '))
      return std::string_view::npos;
    ++p;
  }
  return std::string_view::npos;
}

void Lex_CL::ScanOrdinary() {
  // Scanned directly over the buffer, sixteen bytes at a time where it can.
  std::size_t p = pos_;
  while (kBlockScan && p + 16 <= size_) {
    const std::uint32_t text = TextBytes16(data_ + p);
    if (text != 0xFFFF) {
      p += static_cast<std::size_t>(std::countr_zero(~text));
      break;
    }
    p += 16;
  }
  while (p < size_ && !kStopsText[static_cast<unsigned char>(data_[p])])
    ++p;
  pos_ = p;
  Advance();
}

Token Lex_CL::Scan(bool skipBlanks) {
  Token t;
  t.count = 0;
  if (skipBlanks) {
    bool skipped = false;
    while (curChar_ >= 0 && curChar_ <= 32 && curChar_ != '\r' && curChar_ != '\n') {
      Advance();
      skipped = true;
    }
    if (skipped)
      t.flags |= Token::kLeadingSpace;
  }
  std::size_t start = Offset();
  std::size_t end = 0;  // set when the slice does not end at the current character
  std::int32_t count = 0;
  std::uint32_t code = kind::Text;
  const std::int32_t c = curChar_;

  // A run of ordinary bytes is the most common token: it takes no jump through the switch.
  if (c >= 0 && kStartsText[static_cast<unsigned char>(c)]) {
    ScanOrdinary();
    t.code = kind::Text;
    t.data = data_ + start;
    t.size = Offset() - start;
    return t;
  }
  switch (c) {
    case -1:
    case -2:
      code = kind::Eof;
      break;
    case ' ':
    case '\t':
      count = 1;
      Advance();
      while (IsBlank(curChar_)) {
        count = Bump(count);
        Advance();
      }
      code = kind::Sp;
      if (count >= 2 && (curChar_ == '\r' || curChar_ == '\n')) {
        end = Offset();
        const std::int32_t first = curChar_;
        Advance();
        if ((first == '\r' && curChar_ == '\n') || (first == '\n' && curChar_ == '\r'))
          Advance();
        t.flags |= Token::kTrailingLineEnd;
        code = kind::Br;
      }
      break;
    case '\r':
    case '\n':
      Advance();
      if ((c == '\r' && curChar_ == '\n') || (c == '\n' && curChar_ == '\r'))
        Advance();
      code = kind::Lf;
      break;
    case '!':
      Advance();
      if (curChar_ == '[') {
        Advance();
        code = kind::ImageOpen;
      }
      break;
    case '#':
      count = 1;
      Advance();
      while (curChar_ == '#') {
        ++count;
        if (count == 7)
          break;
        Advance();
      }
      code = kind::Head;
      break;
    case '&':
      Advance();
      if (IsAsciiAlnum(curChar_)) {
        while (IsAsciiAlnum(curChar_))
          Advance();
        if (curChar_ == ';') {
          Advance();
          code = kind::Entity;
        }
      }
      break;
    case '*':
      Advance();
      if (curChar_ == '*') {
        Advance();
        if (curChar_ == '*') {
          while (curChar_ == '*')
            Advance();
          code = kind::Rule;
        } else {
          code = kind::Strong;
        }
      } else if (IsBlank(curChar_) && !noBullet) {
        while (IsBlank(curChar_)) {
          count = Bump(count);
          Advance();
        }
        code = kind::Bullet;
      } else {
        code = kind::Star;
      }
      break;
    case '+':
      Advance();
      if (IsBlank(curChar_)) {
        Advance();
        code = kind::Bullet;
      }
      break;
    case '-':
      Advance();
      if (curChar_ == '-') {
        while (curChar_ == '-')
          Advance();
        if (curChar_ == ':') {
          Advance();
          count = 2;
          code = kind::Align;
        } else {
          code = kind::Rule;
        }
      } else if (IsBlank(curChar_)) {
        Advance();
        code = kind::Bullet;
      } else {
        code = kind::Hyphen;
      }
      break;
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      while (IsDigit(curChar_)) {
        count = AppendDigit(count, curChar_ - '0');
        Advance();
      }
      if (curChar_ == '.') {
        Advance();
        if (curChar_ == ' ') {
          Advance();
          code = kind::Ordered;
        }
      }
      if (code != kind::Ordered)
        count = 0;
      break;
    case ':':
      Advance();
      code = kind::Colon;
      if (curChar_ == '-') {
        while (curChar_ == '-')
          Advance();
        if (curChar_ == ':') {
          Advance();
          count = 1;
        }
        code = kind::Align;
      }
      break;
    case '=':
      while (curChar_ == '=') {
        count = Bump(count);
        Advance();
      }
      code = kind::Equals;
      break;
    case '`':
      while (curChar_ == '`') {
        count = Bump(count);
        Advance();
      }
      code = kind::Backtick;
      break;
    case '[':
      Advance();
      code = kind::LeftBracket;
      if (curChar_ == '^') {
        Advance();
        code = kind::CaretOpen;
      }
      break;
    case ']':
      Advance();
      code = kind::RightBracket;
      if (curChar_ == ':') {
        Advance();
        code = kind::DefinitionClose;
      }
      break;
    case '_':
      Advance();
      code = kind::Underscore;
      if (curChar_ == '_') {
        Advance();
        code = kind::Strong;
      }
      break;
    case '~':
      Advance();
      if (curChar_ == '~') {
        Advance();
        code = kind::Strike;
      }
      break;
    case '\\':
      if (escapes) {
        // The escaped character alone is the text: a blank folded in front goes too.
        Advance();
        start = Offset();
        t.flags &= static_cast<std::uint8_t>(~Token::kLeadingSpace);
        if (curChar_ >= 0) {
          int more = ContinuationBytes(curChar_);
          Advance();
          while (more-- > 0 && curChar_ >= 0x80 && curChar_ <= 0xBF)
            Advance();
        }
      } else {
        Advance();
      }
      break;
    case '"':
    case '\'':
    case '(':
    case ')':
    case '.':
    case '/':
    case '<':
    case '>':
    case '|':
      Advance();
      code = static_cast<std::uint32_t>(c);
      break;
    default:
      ScanOrdinary();
      break;
  }
  if (end == 0)
    end = Offset();
  t.code = code;
  t.count = count;
  t.data = data_ ? data_ + start : "";
  t.size = end - start;
  return t;
}

}  // namespace tarvix
