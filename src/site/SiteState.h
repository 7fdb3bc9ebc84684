// What a site run remembers in its output folder between runs: the program and options it
// ran with and, for each page, the page as it was written and the files it was made from
// with their stamps, so that the next run converts only the pages whose inputs changed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Below.h"
#include "platform/Platform.h"

namespace tarvix {

// The name of the state file inside the output folder. It is published with the pages, so
// it is a name servers keep to themselves: a dot-name, which the preview and most static
// hosts never serve, that starts ".ht", which a stock web server's rules refuse as well.
inline constexpr std::string_view kSiteStateName = ".ht-tarvix-site";
// The name earlier programs gave it: read when the state has no file of the new name yet,
// and removed once the new one is written.
inline constexpr std::string_view kEarlierSiteStateName = ".tarvix-site";

struct SiteInput {
  std::string path;  // relative to the output folder
  platform::FileStamp stamp;
  // For a file the run made (a copy), which file it was: 0 and 0 when not known.
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

struct SitePage {
  std::string document;      // relative to the input folder
  std::string target;        // the page file written, relative to the output folder
  platform::FileStamp page;  // the page as it was written
  std::vector<SiteInput> inputs;
  // The page's ids and relative links as the link check keeps them (FormatPageLinks);
  // empty when not known, and the page is then read again.
  std::string links;
  std::uint64_t device = 0;  // which file the page was: 0 and 0 when not known
  std::uint64_t inode = 0;
  // The page's title as the navigation shows it (empty: it has none of its own), the sum
  // of the navigation it holds (empty: its template holds none), and whether it uses a brush.
  std::string title{};
  std::string navigation{};
  bool brushes = false;
  // The script files of the brushes it uses ("shBrushCpp.js"), in table order; empty with
  // `brushes` set: not known (an older record), taken as every brush.
  std::vector<std::string> brushScripts{};
};

// A folder of the input as the walk listed it: what the next walk takes instead of listing it
// again while the folder's identity and change time are the same (adding, removing or
// renaming an entry changes the time, and no one can set it back). Entries are in name
// order, without dot-names and without anything the walk ignores; a link's kind is looked
// at again on every walk, as its target may change while the folder does not.
struct SiteListing {
  std::string folder;  // relative to the input folder
  std::int64_t changeTime = 0;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::vector<platform::FolderEntry> entries;
};

struct SiteState {
  std::string program;  // the version and build identity of the program that wrote it
  std::string options;  // everything besides the files that decides what a page holds
  // False while the run that wrote it was still going: it may have left temporary files.
  bool finished = false;
  std::vector<SitePage> pages;
  // The files copied beside the pages, each with its stamp as the copy was written, and the
  // folders below the output folder that hold what the run made: what a later run may
  // remove once their sources are gone.
  std::vector<SiteInput> copies;
  // The files a run that was still going had made and was about to give their names, each
  // with its identity: they are its own even if it ended before it recorded them.
  std::vector<SiteInput> made;
  std::vector<std::string> folders;
  std::vector<SiteListing> listings;
};

// The identity of the file a page or copy record made.
[[nodiscard]] inline platform::FileIdentity IdentityOf(const SitePage& page) {
  return {page.device, page.inode, page.page};
}
[[nodiscard]] inline platform::FileIdentity IdentityOf(const SiteInput& file) {
  return {file.device, file.inode, file.stamp};
}

// The text of the state file, one record a line:
//   tarvix-site 3
//   program <TAB> TEXT
//   options <TAB> TEXT
//   run <TAB> finished | going
//   page <TAB> DOCUMENT <TAB> TARGET <TAB> TIME <TAB> SIZE <TAB> DEVICE <TAB> INODE
//   input <TAB> TIME <TAB> SIZE <TAB> PATH      (TIME and SIZE "-" for a missing file)
//   links <TAB> RECORD                          (the page's links, see FormatPageLinks)
//   about <TAB> b | - <TAB> NAVIGATION <TAB> TITLE
//                                               (a brush used or not, the sum of its
//                                                navigation, its title; left out when
//                                                the page has none of the three)
//   copy <TAB> TIME <TAB> SIZE <TAB> PATH <TAB> DEVICE <TAB> INODE
//   made <TAB> TIME <TAB> SIZE <TAB> PATH <TAB> DEVICE <TAB> INODE
//   folder <TAB> PATH
//   listing <TAB> CHANGE <TAB> DEVICE <TAB> INODE <TAB> FOLDER [<TAB> ENTRY]...
//                                               (ENTRY: f, d or l for a file, a folder or
//                                                a link, then the name)
//   check <TAB> LINES <TAB> SUM
// each "input", "links" and "about" line belonging to the "page" above it. The last line
// counts the lines before it and sums their bytes (16 hexadecimal digits; the sum takes the
// bytes eight at a time, see SumOf), so a file cut short or changed by hand is seen whole.
// In the texts a backslash, a tab, a line feed and a carriage return are written \\, \t,
// \n and \r. A reader skips records of kinds it does not know and fields after those it
// knows, so that a later program can add both within this version.
// `expectedBytes`, when known (the size of the text written last), spares the growing.
[[nodiscard]] std::string FormatSiteState(const SiteState& state, std::size_t expectedBytes = 0);

// Whether `text` is the text FormatSiteState makes of `state`, found without making it:
// formatted and compared a piece at a time, so an unchanged state costs no second copy.
[[nodiscard]] bool IsTextOf(const SiteState& state, std::string_view text);

// `body` (whole lines) followed by the check line that vouches for it.
[[nodiscard]] std::string WithCheckLine(std::string body);

// The name of the journal beside the state: one "made" line (as in the state) for each file
// a run is about to give its name, written before it does.
inline constexpr std::string_view kSiteJournalName = ".ht-tarvix-made";

// The journal's line for `made`.
[[nodiscard]] std::string FormatMadeLine(const SiteInput& made);
// The journal's lines that are whole and as we write them, in order; the others (the last,
// cut short by a run that was killed while writing it) are skipped.
[[nodiscard]] std::vector<SiteInput> ParseMadeLines(std::string_view text);

// The name of the news beside a large state: what changed since the state was written
// whole, so that a run that changed a few pages writes a few records, not the whole state
// again. It names the state it is news of by that state's check line, so news left beside
// a state written whole later is no news of it.
inline constexpr std::string_view kSiteNewsName = ".ht-tarvix-news";

// The text of the news of a state, one record a line:
//   tarvix-news 3
//   base <TAB> LINES <TAB> SUM      (the check line of the state it is news of)
//   keep <TAB> FROM <TAB> BYTES     (the state's body from byte FROM on, BYTES of whole lines)
//   text <TAB> BYTES                (the next BYTES, whole lines, are the news' own)
//   check <TAB> LINES <TAB> SUM     (as the state's)
// The "keep" and "text" records in order make the new state's body (all but its check
// line), and each "keep" starts where the one before it ended or further on: news is never
// longer to apply than the state and the news together.

// The news that makes `state` of `base` (a whole state's text as FormatSiteState makes it or
// ParseSiteState took it: its sum is not taken again), in `news`; false when it would be
// longer than `limit` bytes or `base` ends in no check line, and the state is better written
// whole. `same` tells whether the state is the base as it is.
[[nodiscard]] bool FormatSiteNews(const SiteState& state, std::string_view base, std::size_t limit,
                                  std::string* news, bool* same);

// How a state file's text was found.
enum class StateRead {
  kRead,     // a state file of this version, whole
  kOther,    // no state file of this version (an older program's): a full run, silently
  kDamaged,  // this version's first line, but its check or a record fails: said, ignored
  // The state is whole, but its news (of this version and of this state) fails its check or
  // a record: said, and both are ignored.
  kNewsDamaged,
};

// The state from a state file's text and the news beside it (empty: none); `state` is filled
// only when kRead. News of another state or version is left out, and `newsTaken`, when
// given, tells whether the news was taken.
[[nodiscard]] StateRead ParseSiteState(std::string_view text, SiteState* state,
                                       std::string_view news = {}, bool* newsTaken = nullptr);

// The path that leads from the folder `from` to `to`, both absolute and normalised,
// split at `separator`; `to` itself when the two share no root (another drive).
[[nodiscard]] std::string PathRelativeTo(std::string_view from, std::string_view to,
                                         char separator);

}  // namespace tarvix
