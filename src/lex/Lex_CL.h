// The Markdown lexer: turns the bytes of one document into tokens. The document is mapped
// or read once into memory and walked by byte offset, so a mark is an offset and one
// character, and going back costs nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "lex/Token.h"

namespace tarvix {

namespace platform {
class MappedFile;
}

// A place in the input to come back to: the offset just past `curChar` and `curChar`.
struct LexMark {
  std::size_t pos = 0;
  std::int32_t curChar = -2;
};

// Which tokens besides ordinary runs and single spaces a plain run may take: the one-byte
// kinds (and short forms such as a lone hyphen) marked here, each only where the lexer
// would scan it as that one token. Consumers keep tables of their own.
struct PlainBytes {
  std::array<bool, 256> take{};
  // An underscore is taken only right after a text token (glued to a word).
  bool underscoreAfterText = false;
  // Runs of blanks are taken too (for readers that keep blanks as they are), but for those
  // before a line end, which make a hard break.
  bool blankRuns = false;
};

// The table that admits the kinds starting with the bytes of `take`.
constexpr PlainBytes MakePlainBytes(std::string_view take, bool underscoreAfterText,
                                    bool blankRuns = false) {
  PlainBytes plain;
  for (char c : take)
    plain.take[static_cast<unsigned char>(c)] = true;
  plain.underscoreAfterText = underscoreAfterText;
  plain.blankRuns = blankRuns;
  return plain;
}

// Bytes that end a run of ordinary characters.
constexpr std::array<bool, 256> MakeStopTable() {
  std::array<bool, 256> t{};
  for (char c : std::string_view(" \t\n\r!\"')*-/:<=>[\\]_`|~")) {
    t[static_cast<unsigned char>(c)] = true;
  }
  return t;
}
inline constexpr std::array<bool, 256> kStopsText = MakeStopTable();

// Bytes that start a run of ordinary characters: a text token of its own, whatever follows.
constexpr std::array<bool, 256> MakeTextStartTable() {
  std::array<bool, 256> t{};
  for (int b = 0; b < 256; ++b)
    t[b] = !kStopsText[b];
  for (char c : std::string_view("#&(+.0123456789")) {
    t[static_cast<unsigned char>(c)] = false;
  }
  return t;
}
inline constexpr std::array<bool, 256> kStartsText = MakeTextStartTable();

// A stretch of tokens taken at once: the bytes from `begin` to `end` are their texts.
struct PlainRun {
  std::size_t begin = 0;
  std::size_t end = 0;
  bool endsInText = false;  // the last token taken is a text token
  bool escaped = false;     // some byte changes when escaped as HTML
};

// Lex_CL scans tokens from one document held in memory. `current` is the token the
// consumer looks at; `Scan` never fails: every byte belongs to some token and the end of
// input yields `Eof` for ever.
class Lex_CL {
 public:
  Lex_CL() = default;
  virtual ~Lex_CL() = default;
  Lex_CL(const Lex_CL&) = delete;
  Lex_CL& operator=(const Lex_CL&) = delete;

  // Loads the file and reads its first character. A regular file is mapped rather than
  // read where the system can (a pipe or an empty file is read). Opening the path that is
  // already loaded starts again from the top without loading the file a second time. False
  // when the file cannot be read.
  [[nodiscard]] bool Open(const std::string& path);
  // Uses `bytes` as the document (standard input, in-memory conversion).
  void OpenBytes(std::string bytes);
  // Uses `bytes` as the document without copying them; they must outlive the lexer's use.
  void OpenView(std::string_view bytes);
  // Back to the top of the document already loaded, from a file or from bytes.
  void Rewind() { Start(); }

  // True while the document is a mapping of its file.
  [[nodiscard]] bool Mapped() const { return mapped_ != nullptr; }
  // Lets the memory of a mapped document before `offset` go: it is read again from the
  // file if a mark before it is ever returned to. Nothing for a document in memory.
  void ReleaseBefore(std::size_t offset);
  // False when the file may have changed under its mapping since it was opened, so that
  // the tokens read may mix two states of it. Always true for a document in memory.
  [[nodiscard]] bool Intact() const;
  // Replaces a mapped document by a copy of what its file holds now and starts from the
  // top. False (and `reason` says why) when it cannot be read.
  [[nodiscard]] bool ReadAgain(std::string* reason);

  [[nodiscard]] LexMark Mark() const { return {pos_, curChar_}; }
  void Reset(const LexMark& mark) {
    pos_ = mark.pos;
    curChar_ = mark.curChar;
  }
  [[nodiscard]] std::size_t InputSize() const { return size_; }
  // The whole document.
  [[nodiscard]] std::string_view Bytes() const { return {data_ ? data_ : "", size_}; }
  // The character after the current token, not yet part of any token (-1 at the end).
  [[nodiscard]] std::int32_t PeekChar() const { return curChar_; }

  // Scans one token from the current character. With `skipBlanks`, blanks and control
  // characters before it are skipped and stand as one leading space in its text.
  [[nodiscard]] Token Scan(bool skipBlanks);
  void Next() { current = Scan(false); }
  // Takes the tokens from the current character on whose texts are exactly their bytes,
  // that lie on the current line and that `plain` admits: ordinary runs, single spaces
  // and the marked short kinds. Stops at a token boundary, so the scan goes on from `end`
  // exactly as if each token had been scanned. The current token is left as it is.
  [[nodiscard]] PlainRun TakePlain(const PlainBytes& plain);
  // True when TakePlain would take nothing because of the current character alone: one
  // that ends a word, is no blank and that `plain` does not admit. A delimiter after a
  // token is the common case, and it costs no call.
  [[nodiscard]] bool NoPlainAt(const PlainBytes& plain) const {
    if (curChar_ < 0)
      return true;
    const auto c = static_cast<unsigned char>(curChar_);
    return kStopsText[c] && c != ' ' && c != '\t' && !plain.take[c];
  }
  void SkipSpaces() {
    while (current.Is(kind::Sp))
      Next();
  }
  // Where a code span opened by a run of `count` backticks closes, when it closes on the
  // current line and its inside reads as its own bytes: every blank between its tokens is
  // a single space, which the span writes as it stands. The offset of the closing run, or
  // npos for a span that does not (the caller then reads it token by token). The current
  // token and character are left as they are.
  [[nodiscard]] std::size_t PlainCodeSpanEnd(std::int32_t count) const;
  // Makes the byte at `offset` the current character: the next scan starts there.
  void MoveTo(std::size_t offset) {
    pos_ = offset;
    Advance();
  }

  // While nonzero, a backslash escapes the character after it.
  std::int32_t escapes = 1;
  // While set, an asterisk before a blank scans as `*` rather than as a bullet.
  bool noBullet = false;
  Token current;

 private:
  void Start();
  void Advance() {
    if (pos_ < size_) {
      curChar_ = static_cast<unsigned char>(data_[pos_++]);
    } else {
      curChar_ = -1;
    }
  }
  // Past a run of ordinary bytes from the current character (which is one).
  void ScanOrdinary();
  // Offset of `curChar_` in the input (the input size at the end).
  [[nodiscard]] std::size_t Offset() const { return curChar_ < 0 ? size_ : pos_ - 1; }

  // The document: a mapping of its file, or bytes in memory.
  std::shared_ptr<platform::MappedFile> mapped_;
  std::shared_ptr<const std::string> bytes_;
  std::string_view view_;  // the document when neither of the above holds it
  std::string path_;
  const char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t start_ = 0;  // first offset after a byte-order mark
  std::size_t pos_ = 0;
  std::int32_t curChar_ = -2;
};

}  // namespace tarvix
