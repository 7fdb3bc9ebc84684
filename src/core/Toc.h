// The table of contents that "####TOC####" becomes: a nested list of links to the page's
// headings that carry ids, built from what the heading renderer noted during the pass.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

// One heading of the page as the table lists it.
struct TocEntry {
  std::int32_t level = 1;
  std::string id;    // as written in the heading's id attribute
  std::string text;  // the heading's HTML without its tags
};

// The list for `entries`, in their order. Empty when there are none. The list is
//
//   <ul class="toc">
//   <li><a href="#ID">TEXT</a>
//   <ul>
//   <li><a href="#ID">TEXT</a></li>
//   </ul>
//   </li>
//   </ul>
//
// with no line end after the last "</ul>". A heading deeper than the one before opens one
// nested list inside that heading's item, however many levels it skips. Any other heading
// closes the nested lists it does not belong in (those whose parent item is at its level
// or deeper) and becomes the next item of the list it reaches. So every <ul> holds only
// <li> items and every nested <ul> sits inside an item.
[[nodiscard]] std::string BuildTableOfContents(const std::vector<TocEntry>& entries);
// The size of that list in bytes, without building it.
[[nodiscard]] std::uint64_t TableOfContentsSize(const std::vector<TocEntry>& entries);

// `id` for the href of a link to it: every byte but the unreserved ASCII characters (letters,
// digits, "-", ".", "_", "~") becomes "%" and two upper-case hex digits, byte by byte of the
// UTF-8, so a blank is "%20".
[[nodiscard]] std::string PercentEncode(std::string_view id);

// Heading HTML without its tags, trimmed: everything from a "<" to the ">" that ends it
// (a ">" inside a quoted attribute value does not) is dropped; entities stay as written.
[[nodiscard]] std::string WithoutTags(std::string_view html);

}  // namespace tarvix
