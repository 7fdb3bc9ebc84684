// The set of views: open addressing in one block, grown to stay at most half full.
#include "site/ViewSet.h"

#include <functional>
#include <utility>

namespace tarvix {
namespace {

constexpr std::size_t kSmallest = 16;

std::size_t RoomFor(std::size_t entries) {
  std::size_t slots = kSmallest;
  while (slots < entries * 2)
    slots *= 2;
  return slots;
}

}  // namespace

ViewSet::ViewSet(std::size_t expected) : slots_(RoomFor(expected)) {}

std::size_t ViewSet::SlotOf(std::string_view view) const {
  // The slots are a power of two and never more than half full: the probe ends at the view
  // or at a free slot.
  const std::size_t mask = slots_.size() - 1;
  std::size_t at = std::hash<std::string_view>()(view) & mask;
  while (slots_[at].data() != nullptr && slots_[at] != view)
    at = (at + 1) & mask;
  return at;
}

void ViewSet::Grow() {
  std::vector<std::string_view> old(slots_.size() * 2);
  old.swap(slots_);
  for (const std::string_view view : old) {
    if (view.data() != nullptr)
      slots_[SlotOf(view)] = view;
  }
}

bool ViewSet::Insert(std::string_view view) {
  // An empty view may have no data, which marks a free slot: it is kept aside.
  if (view.empty()) {
    const bool added = !hasEmpty_;
    hasEmpty_ = true;
    return added;
  }
  std::size_t at = SlotOf(view);
  if (slots_[at].data() != nullptr)
    return false;
  if ((size_ + 1) * 2 > slots_.size()) {
    Grow();
    at = SlotOf(view);
  }
  slots_[at] = view;
  ++size_;
  return true;
}

bool ViewSet::Contains(std::string_view view) const {
  if (view.empty())
    return hasEmpty_;
  return slots_[SlotOf(view)].data() != nullptr;
}

}  // namespace tarvix
