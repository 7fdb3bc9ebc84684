// The walk of a site run's input folder (WalkInput): it owns what it returns and reads the
// input folder alone, to tell documents from copies and to find the page each one writes.
#include "site/Walk.h"

#include <algorithm>
#include <new>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>

#include "lex/Header.h"
#include "platform/Platform.h"
#include "site/SitePaths.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// Folders nested deeper than this are not walked (and are reported): a deeper tree would
// be a path longer than most systems open.
constexpr std::size_t kMaxFolderDepth = 64;
// How long before a walk a folder must have last changed for its listing to be kept: well
// over a tick of any file system's clock (two seconds on the coarsest).
constexpr std::int64_t kSettledSeconds = 5;
constexpr std::string_view kTooDeep = "too deep";

// The page `document` writes, relative to the output folder; with -ext the extension its
// own header asks for.
std::string TargetOf(const WalkPlace& place, const std::string& document) {
  const std::string page = PageOf(document);
  if (!place.replaceExt)
    return page;
  // The extension the document's own comments ask for, as its run will find it; the
  // page's name then decides which file it replaces or meets.
  DocumentHeader header;
  header.output_ext = ExtensionOf(page, true);
  (void)ReadIncludeFile(header, Join(place.source, document));
  return WithoutExtension(page) + header.output_ext;
}

// A folder the walk has yet to read, relative to the input folder.
struct Pending {
  std::string relative;
  bool link = false;
};

// A level this large has its folders looked at on two threads: on a rerun, whose listings
// come from the state, the looks are most of the walk's time, and each waits on the
// system alone.
constexpr std::size_t kLevelForTwoThreads = 256;

// What each folder of `level` is; `known` false where nothing can be found.
void LookAtLevel(const WalkPlace& place, const std::vector<Pending>& level,
                 std::vector<platform::FileStatus>* statuses, std::vector<char>* known) {
  statuses->assign(level.size(), platform::FileStatus());
  known->assign(level.size(), 0);
  const auto look = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      const std::string& relative = level[i].relative;
      (*known)[i] = place.looks != nullptr
                        ? place.looks->StatusOf(relative, &(*statuses)[i])
                        : platform::StatusOf(Join(place.source, relative), &(*statuses)[i]);
    }
  };
  const std::size_t half = level.size() / 2;
  std::optional<std::thread> helper;
  if (level.size() >= kLevelForTwoThreads) {
    // A thread the system will not give leaves its half to this one.
    try {
      helper.emplace(look, half, level.size());
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
  }
  look(0, helper ? half : level.size());
  if (helper)
    helper->join();
}

}  // namespace

SiteWalk WalkInput(const WalkPlace& place,
                   std::unordered_map<std::string, SiteListing> previousListings) {
  SiteWalk walk;
  std::vector<std::string> documents;
  std::vector<std::string> files;
  // Each folder is walked once, at the first path that reaches it in the walk's order:
  // links that stay inside the input folder can reach one folder along many paths, or one
  // inside itself. The walk goes level by level, and in each level the folders themselves
  // come before the links to folders, so a folder is walked at its own place.
  std::set<std::pair<std::uint64_t, std::uint64_t>> walked;
  // An output inside the input is never walked: its pages are no documents.
  if (place.outputFolder)
    walked.insert(*place.outputFolder);
  std::vector<Pending> level{{std::string(), false}};
  std::vector<platform::FileStatus> statuses;  // by folder of the level
  std::vector<char> looked;                    // by folder: its status was found
  for (std::size_t depth = 0; !level.empty(); ++depth) {
    std::stable_partition(level.begin(), level.end(), [](const Pending& p) { return !p.link; });
    std::vector<Pending> next;
    LookAtLevel(place, level, &statuses, &looked);
    for (std::size_t at = 0; at < level.size(); ++at) {
      Pending& folder = level[at];
      // The folder's whole path, for a listing made again and for the messages: most
      // folders of a rerun need neither.
      const auto folderPath = [&] { return Join(place.source, folder.relative); };
      const platform::FileStatus& status = statuses[at];
      const bool known = looked[at] != 0;
      if (known && !walked.insert({status.device, status.inode}).second)
        continue;
      if (depth >= kMaxFolderDepth) {
        walk.errors.push_back({folderPath(), folder.relative, std::string(kTooDeep)});
        continue;
      }
      std::vector<platform::FolderEntry> entries;
      const auto previous = previousListings.find(folder.relative);
      if (known && status.changeTime != 0 && previous != previousListings.end() &&
          previous->second.changeTime == status.changeTime &&
          previous->second.device == status.device && previous->second.inode == status.inode) {
        // Listing a folder costs far more than a look at it; most folders of a site do not
        // change between runs.
        entries = std::move(previous->second.entries);
      } else {
        if (!platform::ListFolder(folderPath(), &entries)) {
          walk.errors.push_back({folderPath(), folder.relative, std::string()});
          continue;
        }
        std::erase_if(entries, [](const platform::FolderEntry& entry) {
          return !platform::IsPlainName(entry.name) || entry.name[0] == '.' ||
                 (!entry.link && entry.kind == platform::EntryKind::Other);
        });
        std::sort(entries.begin(), entries.end(),
                  [](const auto& a, const auto& b) { return a.name < b.name; });
      }
      // A listing is kept for the next walk only when the folder's last change lies well
      // before this walk began: a change made while the walk lists it may fall on the same
      // tick of the file system's clock, and would then go unseen.
      const bool keepListing =
          known && status.changeTime != 0 &&
          status.changeTime < place.start - kSettledSeconds * platform::kStampUnitsPerSecond;
      for (platform::FolderEntry& entry : entries) {
        std::string relative = Join(folder.relative, entry.name);
        // A link is followed only when it stays inside the input folder; what it leads to
        // may have changed while its folder did not.
        if (entry.link) {
          const std::string real = platform::RealPath(Join(place.source, relative));
          if (real.empty() || !Contains(place.sourceReal, real))
            continue;
          platform::FileStatus target;
          entry.kind = !platform::StatusOf(real, &target)           ? platform::EntryKind::Other
                       : target.kind == platform::FileKind::Regular ? platform::EntryKind::File
                       : target.kind == platform::FileKind::Folder  ? platform::EntryKind::Folder
                                                                    : platform::EntryKind::Other;
        }
        if (entry.kind == platform::EntryKind::File) {
          if (IsDocument(entry.name)) {
            documents.push_back(std::move(relative));
          } else {
            files.push_back(std::move(relative));
          }
        } else if (entry.kind == platform::EntryKind::Folder) {
          next.push_back({std::move(relative), entry.link});
        }
      }
      // The kind found above for a link is not kept: the state writes a link as a link.
      if (keepListing)
        walk.listings.push_back({folder.relative, status.changeTime, status.device, status.inode,
                                 std::move(entries)});
      walk.folders.push_back(std::move(folder.relative));
    }
    level = std::move(next);
  }
  std::sort(documents.begin(), documents.end());
  std::sort(files.begin(), files.end());
  // How many documents write each page, by views of the targets: the documents have all
  // their room before the first is made, and stay put.
  std::unordered_map<std::string_view, std::size_t> writers;
  writers.reserve(documents.size());
  walk.documents.reserve(documents.size());
  for (std::string& document : documents) {
    SiteDocument& walked = walk.documents.emplace_back();
    walked.target = TargetOf(place, document);
    walked.path = std::move(document);
    ++writers[walked.target];
  }
  // Two documents that write one page (a.md and a.MD) would take turns at it from run to
  // run: neither is written, and both are told.
  for (SiteDocument& document : walk.documents)
    document.collides = writers[document.target] > 1;
  // A file named like a page (a.html beside a.md) would be overwritten by it or overwrite
  // it: the page wins.
  std::erase_if(files, [&](const std::string& file) { return writers.count(file) != 0; });
  walk.files.reserve(files.size());
  for (std::string& file : files)
    walk.files.emplace_back().path = std::move(file);
  return walk;
}

bool BelowUnreadable(const std::vector<WalkError>& errors, const std::string& relative) {
  return std::any_of(errors.begin(), errors.end(),
                     [&](const WalkError& error) { return IsWithin(error.relative, relative); });
}

}  // namespace tarvix
