// The walk of a site run's input folder: which files are documents and which are copied,
// and the page each document writes. It reads the input folder and nothing else.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "site/SiteRecords.h"
#include "site/SiteState.h"

namespace tarvix {

// A folder of the input the walk could not read.
struct WalkError {
  std::string folder;
  std::string relative;  // below the input folder
  std::string reason;    // empty when the system gave none
};

// Where the walk starts and what it leaves out.
struct WalkPlace {
  std::string source;      // the input folder as the user named it
  std::string sourceReal;  // resolved, absolute: a link is followed only inside it
  // The output folder's identity: the walk leaves it out where it lies inside the input.
  std::optional<std::pair<std::uint64_t, std::uint64_t>> outputFolder;
  bool replaceExt = false;  // -ext: a document's own header may name its page's extension
  std::int64_t start = 0;   // the walk's start, by the file system's clock
  // The input folder held open, for the looks at its folders; by path when not given.
  const platform::FolderLooks* looks = nullptr;
};

// What the walk found.
struct SiteWalk {
  std::vector<SiteDocument> documents;  // in path order, with their targets
  std::vector<SiteFile> files;          // in path order; none named like a page
  std::vector<std::string> folders;     // walked, relative to the input folder
  // The listings the next walk may take instead of listing the folders again.
  std::vector<SiteListing> listings;
  std::vector<WalkError> errors;
};

// Walks the input folder below `place.source`, taking a folder's listing from `previous` (by
// folder, the previous run's) while the folder has not changed since.
[[nodiscard]] SiteWalk WalkInput(const WalkPlace& place,
                                 std::unordered_map<std::string, SiteListing> previousListings);

// True when `relative` (as the input folder names it) lies below a folder the walk could
// not read: nothing there is known to be gone.
[[nodiscard]] bool BelowUnreadable(const std::vector<WalkError>& errors,
                                   const std::string& relative);

}  // namespace tarvix
