// Filling the page template: each placeholder replaced in order at every occurrence, a
// value inserted earlier searched by the later placeholders, the body inserted last and
// never searched. Used by the page assembly (Convert.cpp) once the body is complete.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

// The placeholders, in the order they are filled. The body is the last.
inline constexpr std::string_view kPlaceholders[] = {
    "####TITLE####", "####KEYWORDS####", "####DESCRIPTION####", "####SYNTAX####",
    "####ROOT####",  "####TOC####",      "####NAV####",         "####BODY####"};
inline constexpr int kPlaceholderCount = 8;
inline constexpr int kBodyPlaceholder = kPlaceholderCount - 1;

// TemplateFill_CL plans a filled page without building it. Filling the placeholders one
// after the other over the whole page would copy the page once per placeholder, and values
// that hold other placeholders many times make a page of the cube of their length: so the
// template runs once through the eight replacements chained as streams (a replacement
// holds back only the bytes that could still become its placeholder), and a value is run
// through the replacements after its own once for every state the stream is in where it is
// inserted. The plan is pieces of the template, of the values and of the placeholders
// themselves, places of the body, and references to a value's expansion: its size is
// known before a byte is written, and writing it takes time linear in the page.
class TemplateFill_CL {
 public:
  // Where Write puts the page: its bytes in order, and the body where it goes.
  class Writer_CL {
   public:
    virtual ~Writer_CL() = default;
    virtual void Text(std::string_view bytes) = 0;
    virtual void Body() = 0;
  };
  // The value of placeholder `index` (below kBodyPlaceholder), asked for the first time the
  // page needs it; it must stay valid while the plan lives. None: it cannot be had within
  // the page's bound (the plan is then too large).
  using Values = std::function<std::optional<std::string_view>(int index)>;

  TemplateFill_CL() = default;
  virtual ~TemplateFill_CL() = default;
  TemplateFill_CL(const TemplateFill_CL&) = delete;
  TemplateFill_CL& operator=(const TemplateFill_CL&) = delete;

  // Plans the page for `templateText` (kept by reference), whose body has `bodySize`
  // bytes. False when the page would be larger than `limit` bytes, or when planning it
  // would take more steps than a page within the bound needs; nothing is planned then.
  [[nodiscard]] bool Plan(std::string_view templateText, const Values& values,
                          std::uint64_t bodySize, std::uint64_t limit);
  // The page's size in bytes, after a successful Plan.
  [[nodiscard]] std::uint64_t Size() const { return size_; }
  // How many times the page holds the body.
  [[nodiscard]] std::uint64_t BodyPlaces() const { return topBodies_; }
  // Writes the planned page.
  void Write(Writer_CL& writer) const;

 private:
  // A piece of the page: bytes (`entry` kLiteral), the body (kBody), or the expansion of
  // a value (`entry` its index in expansions_).
  static constexpr std::int32_t kLiteral = -1;
  static constexpr std::int32_t kBody = -2;
  struct Piece {
    const char* data = nullptr;
    std::size_t size = 0;
    std::int32_t entry = kLiteral;
  };
  // What a value became, inserted where the replacements after it were in given states:
  // the page bytes it made and the states it left them in.
  struct Expansion {
    std::vector<Piece> pieces;
    std::uint64_t bytes = 0;   // bytes other than the body
    std::uint64_t bodies = 0;  // places of the body
    std::array<std::uint8_t, kPlaceholderCount> endStates{};
    std::string flat;  // a small expansion without the body, written in one piece
    bool isFlat = false;
  };
  // Bytes released by a replacement and not yet handed to the next one: consecutive
  // releases of adjacent bytes go on as one slice.
  struct Run {
    const char* data = nullptr;
    std::size_t size = 0;
  };

  void Feed(int stage, const char* data, std::size_t size);
  void Release(int stage, const char* data, std::size_t size);
  void FlushRun(int stage);
  void FlushFrom(int stage);
  void Match(int stage);
  void Insert(int index);
  void Emit(const Piece& piece, std::uint64_t bytes, std::uint64_t bodies);
  [[nodiscard]] bool Spend(std::uint64_t steps);
  void Flatten(const std::vector<Piece>& pieces, std::string& out) const;
  void WritePieces(const std::vector<Piece>& pieces, Writer_CL& writer) const;

  const Values* values_ = nullptr;
  std::array<std::optional<std::string_view>, kPlaceholderCount> fetched_{};
  std::array<std::uint8_t, kPlaceholderCount> states_{};
  std::array<Run, kPlaceholderCount> runs_{};
  std::array<std::array<std::uint8_t, 24>, kPlaceholderCount> fail_{};
  // The expansions made, and which one a value and the states after it map to.
  std::vector<Expansion> expansions_;
  std::map<std::array<std::uint8_t, kPlaceholderCount + 1>, std::int32_t> known_;
  // Where emitted pieces go: the top of the page, or the expansion being made.
  std::vector<Piece> top_;
  std::vector<Piece>* pieces_ = &top_;
  std::uint64_t* bytes_ = nullptr;
  std::uint64_t* bodies_ = nullptr;
  std::uint64_t topBytes_ = 0;
  std::uint64_t topBodies_ = 0;
  std::uint64_t steps_ = 0;
  std::uint64_t budget_ = 0;
  bool failed_ = false;
  std::uint64_t size_ = 0;
};

// `a + b` and `a * b`, held at the largest value rather than wrapping around.
[[nodiscard]] std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b);
[[nodiscard]] std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b);

}  // namespace tarvix
