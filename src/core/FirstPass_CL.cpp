// The completion of the first pass: its holes, whether they can be filled, and what each
// is filled with once the pass is over.
#include "core/FirstPass_CL.h"

#include <utility>

#include "core/CaretLink.h"
#include "text/Text.h"

namespace tarvix {

int FirstPass_CL::NewHole(std::string key, bool caret, bool labelKey) {
  holes_.push_back({std::move(key), caret, labelKey});
  return static_cast<int>(holes_.size() - 1);
}

void FirstPass_CL::AppendHoleMarker(OutputPair& out, int hole) {
  out.html.push_back('\0');
  out.html += IntToText(hole);
  out.html.push_back('\0');
  out.MarkMarkup();
}

std::string FirstPass_CL::DefinitionKey(std::string key, std::int32_t pass) {
  if (!MakingHoles(pass) || key.find('\0') == std::string::npos)
    return key;
  holedKeys_.push_back(key);
  std::string written;
  (void)WalkHoles(
      key, [&written](std::string_view text) { written.append(text); },
      [](std::size_t) { return true; });
  return written;
}

void FirstPass_CL::NoteTrimmed(std::string_view trimmed, std::int32_t pass) {
  if (MakingHoles(pass) && !trimmed.empty() && (trimmed.front() == '\0' || trimmed.back() == '\0'))
    holeAtTrimmedEdge_ = true;
}

bool FirstPass_CL::LabelAsSecondPassWrites(std::string_view key, std::string* written) const {
  written->clear();
  return WalkHoles(
      key, [written](std::string_view text) { written->append(text); },
      [this](std::size_t index) {
        return index < holes_.size() && holes_[index].caret &&
               caretTargets_.find(holes_[index].key) == caretTargets_.end();
      });
}

bool FirstPass_CL::CanComplete() const {
  if (!enabled)
    return false;
  std::string written;
  // A definition's key was taken with its holes written as nothing. The second pass
  // writes the label with each hole filled: the same key only where every hole stands
  // for nothing at the end (a reference or caret link that no definition reached).
  for (const std::string& key : holedKeys_) {
    const bool same = WalkHoles(
        key, [](std::string_view) {},
        [&](std::size_t index) {
          if (index >= holes_.size())
            return false;
          written.clear();
          AppendHoleValue(index, written);
          return written.empty();
        });
    if (!same)
      return false;
  }
  for (const Hole& hole : holes_) {
    if (hole.caret) {
      // A caret link that stays undefined writes nothing; where it stood at the edge of a
      // trimmed heading or cell, the trimming would have seen other blanks.
      if (holeAtTrimmedEdge_ && caretTargets_.find(hole.key) == caretTargets_.end())
        return false;
      continue;
    }
    // A reference whose label holds holes was not found, and the second pass looks for
    // the label as it writes it then. No definition's key held a hole, so the second pass
    // knows the same keys: where the label it writes is one of them, it would find it.
    if (hole.labelKey && hole.key.find('\0') != std::string::npos &&
        (!LabelAsSecondPassWrites(hole.key, &written) || linkReferences_.count(written) != 0)) {
      return false;
    }
  }
  return true;
}

void FirstPass_CL::AppendHoleValue(std::size_t index, std::string& out) const {
  const Hole& hole = holes_[index];
  if (hole.caret) {
    const auto found = caretTargets_.find(hole.key);
    if (found == caretTargets_.end())
      return;  // an undefined caret link writes nothing
    OutputPair link;
    AppendCaretLink(link, found->second, hole.key);
    out += link.html;
  } else if (const auto found = linkReferences_.find(hole.key); found != linkReferences_.end()) {
    AppendCleanUtf8(out, found->second);
  }
}

std::string FirstPass_CL::FillHoles(std::string_view html) const {
  std::string out;
  (void)WalkHoles(
      html, [&out](std::string_view text) { out.append(text); },
      [&](std::size_t index) {
        AppendHoleValue(index, out);
        return true;
      });
  return out;
}

std::uint64_t FirstPass_CL::FilledSize(std::string_view html) const {
  std::uint64_t size = 0;
  std::string value;
  (void)WalkHoles(
      html, [&size](std::string_view text) { size += text.size(); },
      [&](std::size_t index) {
        value.clear();
        AppendHoleValue(index, value);
        size += value.size();
        return true;
      });
  return size;
}

void FirstPass_CL::Clear() {
  holes_.clear();
  holedKeys_.clear();
  holeAtTrimmedEdge_ = false;
  filling = false;
  body = OutputPair();
  messages.clear();
}

}  // namespace tarvix
