// The bounds the converter keeps whatever the document holds: each is what no input
// may push it past, in stack, memory or counts.
#pragma once

#include <cstdint>

namespace tarvix {

// Nested inline runs (the block's own run counts as the first) and nested lists stop
// here, so that no document can exhaust the stack; deeper openers are written as text.
inline constexpr int kMaxInlineDepth = 64;
inline constexpr int kMaxListDepth = 64;

// The largest page a run writes, as for the document: a page whose size the document
// makes grow faster than itself (header values full of placeholders, a table of contents)
// is refused rather than exhausting memory or the disk.
inline constexpr std::uint64_t kMaxPageSize = 0x7FFFFFFF;
// The largest document: token counts (run lengths, numbers) are 32-bit, and in a larger
// document a run could outgrow its count. At this size every count of the document is
// exact.
inline constexpr std::uint64_t kMaxInputSize = 0x7FFFFFFF;

}  // namespace tarvix
