// The table of contents that "####TOC####" becomes: a nested list of links to the page's
// headings that carry ids, built from what the heading renderer noted during the pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/FirstPass_CL.h"

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

// The headings with ids that a pass rendered, for the table of contents: slices of the
// body, so that a heading copies nothing. A heading opens with "<h", its level's digit,
// kIdStart, the id and kIdEnd; its HTML follows. So a noted heading's level is the digit
// just before kIdStart.
class TocNotes_CL {
 public:
  static constexpr std::string_view kIdStart = " id=\"";
  static constexpr std::string_view kIdEnd = "\">";

  virtual ~TocNotes_CL() = default;
  // Room for `headings` notes, made before the pass so that noting moves none.
  void Reserve(std::size_t headings);
  void Clear() { notes_.clear(); }
  // A heading as it is rendered: the places of its id and of its HTML in the body, which
  // keeps what it wrote before.
  void Note(std::size_t idAt, std::size_t idSize, std::size_t htmlSize) {
    notes_.push_back({idAt, idSize, htmlSize});
  }
  // The list of the noted headings of `bodyHtml`, their holes filled when `firstPass` is
  // filling them; none when it would be larger than `limit` bytes.
  [[nodiscard]] std::optional<std::string> Build(std::string_view bodyHtml, std::uint64_t limit,
                                                 const FirstPass_CL& firstPass) const;

 private:
  struct NotedHeading {
    std::size_t idAt;
    std::size_t idSize;
    std::size_t htmlSize;
  };
  std::vector<NotedHeading> notes_;
};

}  // namespace tarvix
