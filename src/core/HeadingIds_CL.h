// The ids the headings of a pass have taken: one table of counts over the ids' bytes where
// the page holds them, so a heading costs no allocation and no copy of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

// HeadingIds_CL counts the headings per id. `Take` answers how many headings had the id
// before (0 the first time) and counts one more; only the ids handed in are recorded, not
// the numbered ones a caller makes of them.
class HeadingIds_CL {
 public:
  HeadingIds_CL() = default;
  virtual ~HeadingIds_CL() = default;

  // `Take` in two steps: `Find` hashes the id and starts fetching its slot, so that what
  // the caller does in between hides the wait for memory; `Take` with the id's hash
  // follows. The ids are not copied: `keys` is a buffer the caller keeps (the page body,
  // where each heading writes its id), with the id's `size` bytes at `at`; it keeps the
  // bytes of every id handed in unchanged for as long as the table is in use.
  [[nodiscard]] std::uint64_t Find(std::string_view id) const;
  [[nodiscard]] std::int32_t Take(std::string_view keys, std::size_t at, std::size_t size,
                                  std::uint64_t hash);
  // For a caller without such a buffer: the table keeps a copy of each new id. A table
  // takes ids in one way or the other, never both.
  [[nodiscard]] std::int32_t Take(std::string_view id);
  // Room for about `ids` ids, so that the table need not grow while a page is made. Only
  // a hint: a table whose ids are in the caller's buffer makes room before its first id.
  void Reserve(std::size_t ids);
  void clear();
  [[nodiscard]] std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::size_t offset = 0;  // of the id in the caller's buffer, or in `ownKeys_`
    std::uint32_t length = 0;
    std::int32_t count = 0;
  };
  // A new table of `slots` slots for the entries, whose ids are in `keys`.
  void Rehash(std::size_t slots, std::string_view keys);

  // One word per slot: the upper half of the id's hash beside its entry's number plus one
  // (0: a free slot), so that a look up reads one word, and mostly only that. A large
  // table sits on large pages of its own: a look up then misses no address translation.
  std::unique_ptr<std::uint64_t[]> storage_;
  std::uint64_t* slots_ = nullptr;  // inside `storage_`
  std::size_t slotCount_ = 0;       // a power of two, at most three quarters full
  std::vector<Entry> entries_;
  std::string ownKeys_;  // the copies that Take(id) keeps
  bool ownsKeys_ = false;
};

}  // namespace tarvix
