// The completion of the first pass. A document whose references are all defined somewhere
// converts the same in both passes but for what the references resolve to, so the first
// pass leaves a hole where an undefined reference stands and fills it when the pass is
// over, instead of converting the whole document again. Parser_CL owns one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/Messages.h"
#include "html/OutputPair.h"

namespace tarvix {

// Link references or caret targets by key: the address each is defined with.
using ReferenceTable = std::unordered_map<std::string, std::string>;

// A hole is a NUL byte, its number and a NUL byte: no other NUL reaches the HTML. A hole
// stands for the address of a reference (or the whole link of a caret id) that was not
// defined yet where it was used; the tables it is filled from are the parser's, read at
// the time of the filling.
class FirstPass_CL {
 public:
  FirstPass_CL(const ReferenceTable& linkReferences, const ReferenceTable& caretTargets)
      : linkReferences_(linkReferences), caretTargets_(caretTargets) {}
  virtual ~FirstPass_CL() = default;
  FirstPass_CL(const FirstPass_CL&) = delete;
  FirstPass_CL& operator=(const FirstPass_CL&) = delete;

  // Holes are made in the first pass of a run that may complete it.
  [[nodiscard]] bool MakingHoles(std::int32_t pass) const { return pass == 1 && enabled; }
  // A new hole for `key` (a reference key, or a caret id when `caret`); returns its number.
  // A `labelKey` is a label's HTML, which may hold holes of its own; any other key is the
  // bytes of an id, the same in either pass.
  [[nodiscard]] int NewHole(std::string key, bool caret, bool labelKey = false);
  static void AppendHoleMarker(OutputPair& out, int hole);
  // Walks `html` in order: `text` gets each stretch between hole markers and `hole` each
  // marker's number, and may stop the walk by returning false. Returns whether the walk
  // reached the end (a marker cut short stops it too).
  template <class Text, class HoleAt>
  static bool WalkHoles(std::string_view html, Text text, HoleAt hole);

  // The key a definition made from its label's HTML is kept under: the HTML as a pass
  // that makes no holes writes it. A hole stands where a link was not defined yet, and
  // such a link writes nothing there (a caret link) or an empty address. A key that held
  // a hole keeps the first pass from being completed unless each of its holes is still
  // undefined at the end, when the second pass would write the same key.
  [[nodiscard]] std::string DefinitionKey(std::string key, std::int32_t pass);
  // HTML of a heading or cell as trimmed: a hole at either end of it stands where an
  // undefined caret link, which writes nothing, would have let the trimming see further.
  void NoteTrimmed(std::string_view trimmed, std::int32_t pass);
  // `key` with each hole as the second pass writes it, when every hole in it is a caret
  // link left undefined (which writes nothing); false for any other hole.
  [[nodiscard]] bool LabelAsSecondPassWrites(std::string_view key, std::string* written) const;
  // True when filling the holes gives the page a second pass would write.
  [[nodiscard]] bool CanComplete() const;

  // What hole `index` stands for, appended to `out`.
  void AppendHoleValue(std::size_t index, std::string& out) const;
  // `html` with each hole replaced by what it stands for.
  [[nodiscard]] std::string FillHoles(std::string_view html) const;
  // The size of `html` with its holes filled.
  [[nodiscard]] std::uint64_t FilledSize(std::string_view html) const;

  // Forgets the holes, the body and the messages: a new first pass starts.
  void Clear();

  bool enabled = true;   // off: a second pass converts the document again
  bool filling = false;  // the page being written is the first pass's, its holes filled
  OutputPair body;       // the first pass's body, kept until the pass is over
  std::vector<MessageRecord> messages;  // said during the first pass

 private:
  struct Hole {
    std::string key;
    bool caret = false;
    bool labelKey = false;
  };
  const ReferenceTable& linkReferences_;
  const ReferenceTable& caretTargets_;
  std::vector<Hole> holes_;
  std::vector<std::string> holedKeys_;  // definitions' labels that held holes, as written
  bool holeAtTrimmedEdge_ = false;
};

template <class Text, class HoleAt>
bool FirstPass_CL::WalkHoles(std::string_view html, Text text, HoleAt hole) {
  std::size_t from = 0;
  for (;;) {
    const std::size_t open = html.find('\0', from);
    if (open == std::string_view::npos)
      break;
    text(html.substr(from, open - from));
    const std::size_t close = html.find('\0', open + 1);
    if (close == std::string_view::npos)
      return false;
    std::size_t index = 0;
    for (std::size_t i = open + 1; i < close; ++i)
      index = index * 10 + static_cast<std::size_t>(html[i] - '0');
    if (!hole(index))
      return false;
    from = close + 1;
  }
  text(html.substr(from));
  return true;
}

}  // namespace tarvix
