// Filling the page template as a plan of pieces: the replacements chained as streams, each
// value's expansion made once per state and referred to wherever it recurs.
#include "core/TemplateFill_CL.h"

#include <limits>
#include <utility>

namespace tarvix {
namespace {

constexpr std::uint64_t kSaturated = std::numeric_limits<std::uint64_t>::max();
// Planning costs a few steps per byte of the template and of each value for each state
// the stream is in where the value goes. We allow this many steps per byte of them, and
// kBaseSteps besides: more states than that come only from a template and values made to
// need them, and such a page counts as too large rather than taking minutes.
constexpr std::uint64_t kStepsPerByte = 256;
constexpr std::uint64_t kBaseSteps = std::uint64_t{1} << 26;
// An expansion without the body of at most this many bytes is also kept written out, so
// that each of its places costs one write; all of them together take at most
// kFlatTotal bytes.
constexpr std::uint64_t kFlatMax = 4096;
constexpr std::uint64_t kFlatTotal = std::uint64_t{8} << 20;

}  // namespace

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  return a > kSaturated - b ? kSaturated : a + b;
}

std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > kSaturated / a)
    return kSaturated;
  return a * b;
}

bool TemplateFill_CL::Plan(std::string_view templateText, const Values& values,
                           std::uint64_t bodySize, std::uint64_t limit) {
  values_ = &values;
  for (int stage = 0; stage < kPlaceholderCount; ++stage) {
    // The longest proper border of each prefix of the placeholder: where its match goes
    // on from when the next byte differs.
    const std::string_view p = kPlaceholders[stage];
    auto& fail = fail_[stage];
    fail[0] = 0;
    fail[1] = 0;
    std::size_t k = 0;
    for (std::size_t q = 1; q < p.size(); ++q) {
      while (k > 0 && p[q] != p[k])
        k = fail[k];
      if (p[q] == p[k])
        ++k;
      fail[q + 1] = static_cast<std::uint8_t>(k);
    }
  }
  budget_ = SaturatingAdd(kBaseSteps, SaturatingMultiply(templateText.size(), kStepsPerByte));
  bytes_ = &topBytes_;
  bodies_ = &topBodies_;
  Feed(0, templateText.data(), templateText.size());
  // The end of the template: what each replacement still holds back is no placeholder.
  for (int stage = 0; stage < kPlaceholderCount && !failed_; ++stage) {
    const std::uint8_t held = states_[stage];
    states_[stage] = 0;
    Release(stage, kPlaceholders[stage].data(), held);
    FlushRun(stage);
  }
  values_ = nullptr;
  if (failed_)
    return false;
  size_ = SaturatingAdd(topBytes_, SaturatingMultiply(topBodies_, bodySize));
  if (size_ > limit)
    return false;
  std::uint64_t flatTotal = 0;
  for (Expansion& expansion : expansions_) {
    if (expansion.bodies == 0 && expansion.bytes <= kFlatMax &&
        flatTotal + expansion.bytes <= kFlatTotal) {
      expansion.flat.reserve(expansion.bytes);
      Flatten(expansion.pieces, expansion.flat);
      expansion.isFlat = true;
      flatTotal += expansion.bytes;
    }
  }
  return true;
}

bool TemplateFill_CL::Spend(std::uint64_t steps) {
  steps_ = SaturatingAdd(steps_, steps);
  if (steps_ > budget_)
    failed_ = true;
  return !failed_;
}

void TemplateFill_CL::Feed(int stage, const char* data, std::size_t size) {
  if (!Spend(size + 1))
    return;
  const std::string_view pattern = kPlaceholders[stage];
  const auto& fail = fail_[stage];
  const std::size_t length = pattern.size();
  std::size_t q = states_[stage];
  std::size_t i = 0;
  while (i < size && !failed_) {
    if (q == 0) {
      // Nothing held back: look for the whole placeholder at once.
      const std::string_view rest(data + i, size - i);
      const std::size_t at = rest.find(pattern);
      if (at != std::string_view::npos) {
        Release(stage, data + i, at);
        i += at + length;
        states_[stage] = 0;
        Match(stage);
        continue;
      }
      // None: only the last bytes can be the start of one that the next slice completes.
      const std::size_t tail = std::min(rest.size(), length - 1);
      Release(stage, data + i, rest.size() - tail);
      i = size - tail;
    }
    for (; i < size; ++i) {
      const char c = data[i];
      while (q > 0 && pattern[q] != c) {
        // The bytes held back that can no longer start the placeholder go on. They are the
        // placeholder's first bytes, and the slice's own where they came from it.
        const std::size_t keep = fail[q];
        const std::size_t gone = q - keep;
        Release(stage, q <= i ? data + i - q : pattern.data(), gone);
        q = keep;
      }
      if (pattern[q] == c) {
        if (++q == length) {
          q = 0;
          states_[stage] = 0;
          ++i;
          Match(stage);
          break;
        }
      } else {
        Release(stage, data + i, 1);
        // Nothing held back any more: the search for the whole placeholder goes on.
        ++i;
        break;
      }
    }
    states_[stage] = static_cast<std::uint8_t>(q);
  }
  states_[stage] = static_cast<std::uint8_t>(q);
}

void TemplateFill_CL::Release(int stage, const char* data, std::size_t size) {
  if (size == 0)
    return;
  if (stage == kBodyPlaceholder) {
    Emit({data, size, kLiteral}, size, 0);
    return;
  }
  Run& run = runs_[stage];
  if (run.size != 0 && run.data + run.size == data) {
    run.size += size;
    return;
  }
  FlushRun(stage);
  runs_[stage] = {data, size};
}

void TemplateFill_CL::FlushRun(int stage) {
  if (stage == kBodyPlaceholder)
    return;
  const Run run = runs_[stage];
  runs_[stage] = {};
  if (run.size != 0)
    Feed(stage + 1, run.data, run.size);
}

void TemplateFill_CL::FlushFrom(int stage) {
  for (int s = stage; s < kBodyPlaceholder; ++s)
    FlushRun(s);
}

void TemplateFill_CL::Match(int stage) {
  // What the replacements released before the placeholder comes before its value.
  FlushFrom(stage);
  if (stage == kBodyPlaceholder) {
    Emit({nullptr, 0, kBody}, 0, 1);
    return;
  }
  Insert(stage);
}

void TemplateFill_CL::Insert(int index) {
  if (failed_)
    return;
  if (!fetched_[index]) {
    fetched_[index] = (*values_)(index);
    if (!fetched_[index]) {
      failed_ = true;
      return;
    }
    budget_ = SaturatingAdd(budget_, SaturatingMultiply(fetched_[index]->size(), kStepsPerByte));
  }
  // The value goes through the replacements after its own: what it makes depends only on
  // their states.
  std::array<std::uint8_t, kPlaceholderCount + 1> key{};
  key[0] = static_cast<std::uint8_t>(index);
  for (int s = index + 1; s < kPlaceholderCount; ++s)
    key[s + 1] = states_[s];
  std::int32_t made;
  if (const auto found = known_.find(key); found != known_.end()) {
    made = found->second;
  } else {
    Expansion expansion;
    std::vector<Piece>* outerPieces = pieces_;
    std::uint64_t* outerBytes = bytes_;
    std::uint64_t* outerBodies = bodies_;
    pieces_ = &expansion.pieces;
    bytes_ = &expansion.bytes;
    bodies_ = &expansion.bodies;
    const std::string_view value = *fetched_[index];
    Feed(index + 1, value.data(), value.size());
    FlushFrom(index + 1);
    pieces_ = outerPieces;
    bytes_ = outerBytes;
    bodies_ = outerBodies;
    if (failed_)
      return;
    expansion.endStates = states_;
    made = static_cast<std::int32_t>(expansions_.size());
    expansions_.push_back(std::move(expansion));
    known_.emplace(key, made);
  }
  const Expansion& expansion = expansions_[static_cast<std::size_t>(made)];
  for (int s = index + 1; s < kPlaceholderCount; ++s)
    states_[s] = expansion.endStates[s];
  // An expansion that makes nothing is left out, so that writing visits only pieces that
  // write something.
  if (expansion.bytes != 0 || expansion.bodies != 0)
    Emit({nullptr, 0, made}, expansion.bytes, expansion.bodies);
}

void TemplateFill_CL::Emit(const Piece& piece, std::uint64_t bytes, std::uint64_t bodies) {
  if (!Spend(1))
    return;
  *bytes_ = SaturatingAdd(*bytes_, bytes);
  *bodies_ = SaturatingAdd(*bodies_, bodies);
  if (piece.entry == kLiteral && !pieces_->empty()) {
    Piece& last = pieces_->back();
    if (last.entry == kLiteral && last.data + last.size == piece.data) {
      last.size += piece.size;
      return;
    }
  }
  pieces_->push_back(piece);
}

void TemplateFill_CL::Flatten(const std::vector<Piece>& pieces, std::string& out) const {
  for (const Piece& piece : pieces) {
    if (piece.entry == kLiteral) {
      out.append(piece.data, piece.size);
      continue;
    }
    // Expansions refer only to ones made before them, which are written out already
    // unless the room for that ran out.
    const Expansion& inner = expansions_[static_cast<std::size_t>(piece.entry)];
    if (inner.isFlat) {
      out.append(inner.flat);
    } else {
      Flatten(inner.pieces, out);
    }
  }
}

void TemplateFill_CL::Write(Writer_CL& writer) const {
  WritePieces(top_, writer);
}

void TemplateFill_CL::WritePieces(const std::vector<Piece>& pieces, Writer_CL& writer) const {
  for (const Piece& piece : pieces) {
    if (piece.entry == kLiteral) {
      writer.Text(std::string_view(piece.data, piece.size));
    } else if (piece.entry == kBody) {
      writer.Body();
    } else {
      const Expansion& expansion = expansions_[static_cast<std::size_t>(piece.entry)];
      if (expansion.isFlat) {
        writer.Text(expansion.flat);
      } else {
        WritePieces(expansion.pieces, writer);
      }
    }
  }
}

}  // namespace tarvix
