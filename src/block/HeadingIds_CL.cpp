// The heading id table: open addressing over the ids' bytes.
#include "block/HeadingIds_CL.h"

#include <functional>
#include <limits>

#include "platform/Platform.h"

namespace tarvix {
namespace {

constexpr std::size_t kFirstSlots = 256;
// Room reserved per id in advance: a heading line of a few words.
constexpr std::size_t kTypicalIdBytes = 32;
// Entry numbers are 32-bit: ids beyond that many (a document of more than 8 GB of
// headings) are not recorded and keep their plain id.
constexpr std::size_t kMaxEntries = std::numeric_limits<std::uint32_t>::max() - 1;

std::uint8_t TagOf(std::size_t hash) {
  return static_cast<std::uint8_t>(1 + (hash >> 56) % 255);
}

}  // namespace

std::size_t HeadingIds_CL::Find(std::string_view id) const {
  const std::size_t hash = std::hash<std::string_view>{}(id);
  if (!tags_.empty()) {
    const std::size_t i = hash & (tags_.size() - 1);
#if defined(__GNUC__)
    __builtin_prefetch(&tags_[i]);
    __builtin_prefetch(&slots_[i], 1);
#endif
  }
  return hash;
}

std::int32_t HeadingIds_CL::Take(std::string_view id, std::size_t hash) {
  if ((entries_.size() + 1) * 4 > tags_.size() * 3)
    Rehash(tags_.empty() ? kFirstSlots : tags_.size() * 4);
  const std::uint8_t tag = TagOf(hash);
  const std::size_t mask = tags_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    if (tags_[i] == 0) {
      if (entries_.size() >= kMaxEntries)
        return 0;
      entries_.push_back({keys_.size(), id.size(), 1});
      keys_.append(id);
      tags_[i] = tag;
      slots_[i] = static_cast<std::uint32_t>(entries_.size() - 1);
      return 0;
    }
    if (tags_[i] != tag)
      continue;
    Entry& entry = entries_[slots_[i]];
    if (std::string_view(keys_).substr(entry.offset, entry.length) == id) {
      const std::int32_t before = entry.count;
      if (entry.count < std::numeric_limits<std::int32_t>::max())
        ++entry.count;
      return before;
    }
  }
}

void HeadingIds_CL::Reserve(std::size_t ids) {
  std::size_t slots = kFirstSlots;
  while (slots * 3 < ids * 4)
    slots *= 2;
  if (slots <= tags_.size())
    return;
  // Untouched reserve costs nothing; what is filled is filled in one sweep, so large
  // pages spare a fault every few kilobytes.
  entries_.reserve(ids);
  keys_.reserve(ids * kTypicalIdBytes);
  platform::AdviseLargeBuffer(entries_.data(), entries_.capacity() * sizeof(Entry));
  platform::AdviseLargeBuffer(keys_.data(), keys_.capacity());
  Rehash(slots);
}

void HeadingIds_CL::clear() {
  std::vector<std::uint8_t>().swap(tags_);
  std::vector<std::uint32_t>().swap(slots_);
  std::vector<Entry>().swap(entries_);
  std::string().swap(keys_);
}

void HeadingIds_CL::Rehash(std::size_t slots) {
  // The entries are walked in order, so only the new table is visited out of order.
  std::vector<std::uint8_t>(slots).swap(tags_);
  std::vector<std::uint32_t>(slots).swap(slots_);
  platform::AdviseLargeBuffer(slots_.data(), slots_.size() * sizeof(std::uint32_t));
  const std::size_t mask = slots - 1;
  for (std::size_t e = 0; e < entries_.size(); ++e) {
    const Entry& entry = entries_[e];
    const std::size_t hash =
        std::hash<std::string_view>{}(std::string_view(keys_).substr(entry.offset, entry.length));
    std::size_t i = hash & mask;
    while (tags_[i] != 0)
      i = (i + 1) & mask;
    tags_[i] = TagOf(hash);
    slots_[i] = static_cast<std::uint32_t>(e);
  }
}

}  // namespace tarvix
