// Where a document's template and include entries lead: joined onto the base folder, and
// for a caller of the library converting documents it did not write, kept inside it.
#pragma once

#include <string>
#include <string_view>

namespace tarvix {

// The detail line's reason for an entry that leads out of the base folder.
inline constexpr std::string_view kOutsideBaseFolder = "outside the base folder";

// How entries are read.
enum class EntryRule {
  Joined,    // joined onto the folder, whatever they hold (the program: the user's documents)
  Inside,    // only files inside the folder (the library's default)
  Anywhere,  // joined when relative, as they are when absolute (a library caller's choice)
};

// True when `entry` (a relative path as the document names it, with the system's
// separators) names a file inside `baseFolder` ("" is the current folder): it is not
// absolute, its ".." steps never climb above the folder, and, where the file exists, its
// real path (links followed) lies below the folder's real path.
[[nodiscard]] bool InsideBaseFolder(const std::string& baseFolder, std::string_view entry);

// The path an entry leads to under `rule`. Empty `*outside` when it may be read, else
// the reason it may not.
[[nodiscard]] std::string EntryPath(const std::string& baseFolder, std::string_view entry,
                                    EntryRule rule, std::string* outside);

// Reads the file an entry names inside `baseFolder` for the Inside rule, opened once below
// the folder and read from what was opened: a link swapped in after EntryPath looked can
// still not lead out. False with the detail line's reason when it cannot be read (outside
// the base folder, missing, no regular file). `textMode` as platform::ReadWholeFile's.
[[nodiscard]] bool ReadInsideEntry(const std::string& baseFolder, std::string_view entry,
                                   bool textMode, std::string* bytes, std::string* reason);

}  // namespace tarvix
