// Keeping a conversion in memory to the files below its base folder: the template and
// include entries of a document the caller did not write reach no other file.
#pragma once

#include <string>
#include <string_view>

namespace tarvix {

// The detail line's reason for an entry that leads out of the base folder.
inline constexpr std::string_view kOutsideBaseFolder = "outside the base folder";

// True when `entry` (a relative path as the document names it, with the system's
// separators) names a file inside `baseFolder` ("" is the current folder): it is not
// absolute, its ".." steps never climb above the folder, and, where the file exists, its
// real path (links followed) lies below the folder's real path.
[[nodiscard]] bool InsideBaseFolder(const std::string& baseFolder, std::string_view entry);

}  // namespace tarvix
