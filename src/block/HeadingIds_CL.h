// The ids the headings of a pass have taken: one table of counts over one buffer of the
// ids' bytes, so a heading costs no allocation of its own and the table goes at once.
#pragma once

#include <cstddef>
#include <cstdint>
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

  // `Take` in two steps: `Find` starts fetching the id's slot, so that what the caller
  // does in between hides the wait for memory; `Take` with the same id and hash follows.
  [[nodiscard]] std::size_t Find(std::string_view id) const;
  [[nodiscard]] std::int32_t Take(std::string_view id, std::size_t hash);
  [[nodiscard]] std::int32_t Take(std::string_view id) { return Take(id, Find(id)); }
  // Room for about `ids` ids, so that the table need not grow while a page is made.
  void Reserve(std::size_t ids);
  void clear();
  [[nodiscard]] std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::size_t offset = 0;  // of the id in `keys_`
    std::size_t length = 0;
    std::int32_t count = 0;
  };
  void Rehash(std::size_t slots);

  // The table is two arrays: a byte of each id's hash per slot (0: free), so that a look
  // up reads one byte of a table small enough to stay in the cache, and beside it the
  // number of the slot's entry, read only when that byte matches.
  std::vector<std::uint8_t> tags_;  // a power of two, at most three quarters full
  std::vector<std::uint32_t> slots_;
  std::vector<Entry> entries_;
  std::string keys_;
};

}  // namespace tarvix
