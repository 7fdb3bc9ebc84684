// The heading id table: open addressing over the ids' bytes.
#include "core/HeadingIds_CL.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/Platform.h"
#include "text/Words.h"

namespace tarvix {
namespace {

constexpr std::size_t kFirstSlots = 256;
// Entry numbers and id lengths are 32-bit: ids beyond that many (a document of more than
// 8 GB of headings), or longer, are not recorded and keep their plain id.
constexpr std::size_t kMaxEntries = std::numeric_limits<std::uint32_t>::max() - 1;
constexpr std::size_t kMaxIdBytes = std::numeric_limits<std::uint32_t>::max();

// The hash of an id, eight bytes at a time, mixed at the end so that both the slot (low
// bits) and the half kept in it (high bits) depend on every byte. Heading ids are short:
// this costs a few multiplications where a general-purpose hash costs a call and a loop.
std::uint64_t HashOf(std::string_view id) {
  constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;
  const char* p = id.data();
  const std::size_t n = id.size();
  std::uint64_t h = kMultiplier ^ n;
  std::size_t i = 0;
  for (; n - i >= 8; i += 8) {
    h = (h ^ LoadWord(p + i)) * kMultiplier;
    h ^= h >> 29;
  }
  // The last bytes are gathered in a register: copying them into a word in memory and
  // reading it back would wait for the stores.
  std::uint64_t tail = 0;
  for (std::size_t k = n; k > i; --k)
    tail = tail << 8 | static_cast<unsigned char>(p[k - 1]);
  h = (h ^ tail) * kMultiplier;
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDULL;
  h ^= h >> 33;
  return h;
}

// The half of a hash a slot keeps beside its entry.
std::uint64_t HighHalf(std::uint64_t hash) {
  return hash >> 32;
}

// Slots past this many go on large pages: 2 MB of them.
constexpr std::size_t kLargePageSlots = (std::size_t{2} << 20) / sizeof(std::uint64_t);

}  // namespace

std::uint64_t HeadingIds_CL::Find(std::string_view id) const {
  const std::uint64_t hash = HashOf(id);
  if (slotCount_ != 0) {
#if defined(__GNUC__)
    __builtin_prefetch(&slots_[hash & (slotCount_ - 1)], 1);
#endif
  }
  return hash;
}

std::int32_t HeadingIds_CL::Take(std::string_view keys, std::size_t at, std::size_t size,
                                 std::uint64_t hash) {
  if ((entries_.size() + 1) * 4 > slotCount_ * 3)
    Rehash(slotCount_ == 0 ? kFirstSlots : slotCount_ * 4, keys);
  const std::string_view id = keys.substr(at, size);
  const std::size_t mask = slotCount_ - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const std::uint64_t slot = slots_[i];
    if (slot == 0) {
      if (entries_.size() >= kMaxEntries || size > kMaxIdBytes)
        return 0;
      entries_.push_back({at, static_cast<std::uint32_t>(size), 1});
      slots_[i] = HighHalf(hash) << 32 | entries_.size();
      return 0;
    }
    if (slot >> 32 != HighHalf(hash))
      continue;
    Entry& entry = entries_[(slot & 0xFFFFFFFFu) - 1];
    if (keys.substr(entry.offset, entry.length) == id) {
      const std::int32_t before = entry.count;
      if (entry.count < std::numeric_limits<std::int32_t>::max())
        ++entry.count;
      return before;
    }
  }
}

std::int32_t HeadingIds_CL::Take(std::string_view id) {
  ownsKeys_ = true;
  const std::size_t at = ownKeys_.size();
  ownKeys_.append(id);
  const std::int32_t before = Take(ownKeys_, at, id.size(), Find(id));
  // An id taken before has its copy already.
  if (before != 0)
    ownKeys_.resize(at);
  return before;
}

void HeadingIds_CL::Reserve(std::size_t ids) {
  std::size_t slots = kFirstSlots;
  while (slots * 3 < ids * 4)
    slots *= 2;
  if (slots <= slotCount_ || (!entries_.empty() && !ownsKeys_))
    return;
  // Untouched reserve costs nothing; what is filled is filled in one sweep, so large
  // pages spare a fault every few kilobytes.
  entries_.reserve(ids);
  platform::AdviseLargeBuffer(entries_.data(), entries_.capacity() * sizeof(Entry));
  Rehash(slots, ownKeys_);
}

void HeadingIds_CL::clear() {
  storage_.reset();
  slots_ = nullptr;
  slotCount_ = 0;
  std::vector<Entry>().swap(entries_);
  std::string().swap(ownKeys_);
  ownsKeys_ = false;
}

void HeadingIds_CL::Rehash(std::size_t slots, std::string_view keys) {
  // A large table starts on a large page boundary, advised before anything touches it.
  const std::size_t slack = slots >= kLargePageSlots ? kLargePageSlots : 0;
  auto storage = std::make_unique_for_overwrite<std::uint64_t[]>(slots + slack);
  std::uint64_t* table = storage.get();
  if (slack != 0) {
    const auto address = reinterpret_cast<std::uintptr_t>(table);
    const std::uintptr_t aligned = (address + kLargePageSlots * sizeof(std::uint64_t) - 1) &
                                   ~(kLargePageSlots * sizeof(std::uint64_t) - 1);
    table += (aligned - address) / sizeof(std::uint64_t);
    platform::AdviseLargeBuffer(table, slots * sizeof(std::uint64_t));
  }
  std::fill_n(table, slots, std::uint64_t{0});
  storage_ = std::move(storage);
  slots_ = table;
  slotCount_ = slots;
  // The entries are walked in order, so only the new table (and the ids) are visited out
  // of order.
  const std::size_t mask = slots - 1;
  for (std::size_t e = 0; e < entries_.size(); ++e) {
    const Entry& entry = entries_[e];
    const std::uint64_t hash = HashOf(keys.substr(entry.offset, entry.length));
    std::size_t i = hash & mask;
    while (slots_[i] != 0)
      i = (i + 1) & mask;
    slots_[i] = HighHalf(hash) << 32 | (e + 1);
  }
}

}  // namespace tarvix
