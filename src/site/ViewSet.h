// A set of string views held in one block, for the site run's look-ups by path among
// thousands of records: no node is made for each entry, as a hash set of the standard
// library makes one.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace tarvix {

// The views are kept, not their bytes: what they view must outlive the set. The empty
// view is an entry like any other.
class ViewSet {
 public:
  // Room for `expected` entries without growing.
  explicit ViewSet(std::size_t expected = 0);

  // Adds `view`; true when it was not in the set yet.
  bool Insert(std::string_view view);
  [[nodiscard]] bool Contains(std::string_view view) const;
  [[nodiscard]] std::size_t Size() const { return size_ + (hasEmpty_ ? 1 : 0); }

 private:
  // The slot holding `view`, or the free one where it would go.
  [[nodiscard]] std::size_t SlotOf(std::string_view view) const;
  void Grow();

  // Open addressing, at most half full; a slot whose view has no data is free.
  std::vector<std::string_view> slots_;
  std::size_t size_ = 0;  // the entries in slots_
  bool hasEmpty_ = false;
};

}  // namespace tarvix
