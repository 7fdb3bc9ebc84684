// The site's link check: what a page offers to links (its ids) and what it links to (its
// relative addresses), read from the page's HTML once, kept as a record in the site state,
// and checked over the whole site from those records alone after the pages are made.
//
// Wiring it into the site run:
//   1. When a page is written, ScanPage(html) on the bytes just written gives its
//      PageLinks; FormatPageLinks makes the one-line record the state keeps beside the
//      page, and ParsePageLinks reads it back on the next run, so an up-to-date page is
//      never read again (a record that does not parse: scan the page once more).
//   2. After every page is made or found up to date, the run lists each page of the site
//      as a LinkPage, in the order its messages are printed, and calls
//      CheckSiteLinks(pages, kindOf). kindOf answers whether a path below OUT is a file, a
//      folder or nothing; the run answers from what it already knows (the pages, the
//      copies, the folders it made or listed) and asks the system only for the rest. Each
//      path is asked for once per check, and never for a page of the list.
//   3. Each BrokenLink it returns is printed with BrokenLinkMessage on standard error and
//      counted in the summary.
// The check reads records only, so it runs over the whole site on every run: on an
// unchanged rerun it costs the lookups of the links, not the reading of pages.
// Paths below OUT are written with '/' between their parts, whatever the system, and
// without "." or ".." steps.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

// A value longer than a server takes in a request line is no link we can check: the scan
// leaves out ids and links longer than this, and a record holding one is damaged.
inline constexpr std::size_t kMaxLinkValueBytes = 8192;
// Ids and links a page keeps, each; a page beyond them is checked for its first ones only,
// and a record claiming more is damaged.
inline constexpr std::size_t kMaxPageLinkItems = std::size_t{1} << 20;

// One page's share of the check: its ids (every `id`, and every `name` of an `a` element)
// and its relative links (every `href` and `src` without a scheme and not starting with
// '/'), each as a browser reads the value, duplicates dropped, in the page's order.
struct PageLinks {
  std::vector<std::string> ids;
  std::vector<std::string> links;
};

// Reads the attributes of a page's HTML as a browser's tokenizer does: quoted and unquoted
// values, character references decoded, nothing inside comments, script, style and the
// other elements whose contents are text. Any bytes are safe; the time is linear in them.
[[nodiscard]] PageLinks ScanPage(std::string_view html);

// The address a browser parses from an attribute's value (references decoded): the
// blanks and control bytes at either end dropped, and every tab and line end inside. The
// result is a view of `value`, or of `scratch` when bytes inside had to go.
[[nodiscard]] std::string_view CleanAddress(std::string_view value, std::string& scratch);

// Whether a link value (as ScanPage keeps it) is relative: no scheme such as "http:" and
// not starting with '/' (nor '\', which a browser reads as '/').
[[nodiscard]] bool IsRelativeLink(std::string_view value);

// Where a relative link leads, relative to OUT.
struct LinkTarget {
  // The file or folder, percent-decoded, its "." and ".." steps taken; empty for OUT
  // itself.
  std::string path;
  // The link names a folder: it ends in '/' (or names OUT itself), so only the folder's
  // index.html answers.
  bool folder = false;
  // The link is only a fragment or query: it points into its own page.
  bool self = false;
  bool hasFragment = false;
  std::string rawFragment;  // as the link writes it
  std::string fragment;     // percent-decoded
};

// Resolves `link` against the page at `pagePath` (relative to OUT). Nothing when the link
// leaves OUT or names a part no file can have (a '/' or NUL byte encoded in it).
[[nodiscard]] std::optional<LinkTarget> ResolveLink(std::string_view pagePath,
                                                    std::string_view link);

// What the site run knows of a path below OUT.
enum class PathKind { Missing, File, Folder };
using PathKindFn = std::function<PathKind(std::string_view path)>;

// A page of the site as the check sees it.
struct LinkPage {
  std::string source;  // the page's name in messages: "SRC/REL.md"
  std::string path;    // the page file, relative to OUT
  // Its record, not owned; without one (nullptr) the page's links are not checked and a
  // fragment into it counts as found.
  const PageLinks* content;
};

enum class LinkProblem { NoSuchFile, NoSuchId };

struct BrokenLink {
  std::size_t page;    // index into the pages checked
  std::string target;  // the link as the page holds it
  LinkProblem problem;
};

// Every broken link of the site: once per page and link value, the pages in their order
// and each page's links in its order. A link is broken when its file is missing (a folder
// counts when it holds index.html) or, for a link with a fragment into a page of the set,
// when no id of that page equals the fragment (as written or percent-decoded), an empty
// fragment and "top" aside, which every page has. A fragment into a file that is not a
// page of the set (an image) is not checked.
[[nodiscard]] std::vector<BrokenLink> CheckSiteLinks(const std::vector<LinkPage>& pages,
                                                     const PathKindFn& kindOf);

// The line for a broken link: `SRC/REL.md: broken link "TARGET" (no such file)`, or
// `(no such id)`. In TARGET the bytes below a space, DEL and '"' are percent-encoded, as a
// browser would send them, so the line stays one line and its quotes stay its own.
[[nodiscard]] std::string BrokenLinkMessage(const LinkPage& page, const BrokenLink& broken);

// The record of a page for the state file, one line without control bytes or backslashes
// (bytes from 0x80 up are kept as they are): "links 1", the counts of ids and links, then
// each id and each link, all separated by one space. In an item, the bytes up to the space, DEL,
// '%', '\' and '~' are written %HH; an empty item is "~".
[[nodiscard]] std::string FormatPageLinks(const PageLinks& page);
// The page from its record; nothing when the record is damaged in any way (the run then
// reads the page again).
[[nodiscard]] std::optional<PageLinks> ParsePageLinks(std::string_view record);

}  // namespace tarvix
