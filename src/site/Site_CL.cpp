// The site run: the walk of the input folder, the pages converted on worker threads, the
// copies, the state file and the summary.
#include "site/Site_CL.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "core/CommandLine_CL.h"
#include "core/ConvertFile.h"
#include "core/PageSink_CL.h"
#include "core/Parser_CL.h"
#include "lex/Header.h"
#include "platform/Platform.h"
#include "site/BuildIdentity.h"
#include "site/LinkCheck.h"
#include "tarvix/tarvix.h"
#include "text/Text.h"

namespace tarvix {
namespace {

constexpr std::string_view kDocumentExtension = ".md";
constexpr std::string_view kPageExtension = ".html";
// More threads than this would only wait for one another on the disk.
constexpr int kMaxJobs = 256;
// Folders nested deeper than this are not walked (and are reported): a deeper tree would
// be a path longer than most systems open.
constexpr std::size_t kMaxFolderDepth = 64;
// A state file larger than this is no state we wrote: a few hundred bytes a page, with room
// for long paths and many includes.
constexpr std::uint64_t kStateBaseBytes = std::uint64_t{64} << 20;
constexpr std::uint64_t kStateBytesPerDocument = 4096;
// How long before a walk a folder must have last changed for its listing to be kept: well
// over a tick of any file system's clock (two seconds on the coarsest).
constexpr std::int64_t kSettledSeconds = 5;
// How often a run writes its state while it works, so that a run that is killed loses at
// most this much work.
constexpr auto kStateInterval = std::chrono::seconds(2);
// What a terminating signal leaves behind or a damaged state file is told in these words.
constexpr std::string_view kStateIgnored = "StateFile ignored";
constexpr std::string_view kTooDeep = "too deep";
constexpr std::string_view kTwoSources = "Two sources for ";
constexpr std::string_view kNotRemoved = ": not removed, changed since it was written";
constexpr std::string_view kNotRemovable = ": not removed";
constexpr std::string_view kNotWritten = "not written";
constexpr std::string_view kNotRemovedWord = "not removed";
constexpr std::string_view kKeptAs = ": not removed, not ours; it is now ";
// Before a broken link of the run before that is broken no more.
constexpr std::string_view kFixed = "fixed: ";
constexpr std::string_view kOutputsKept = ": outputs kept, the folder could not be read";
constexpr std::string_view kOtherSite = ": made from another folder ";
constexpr std::string_view kOtherSiteDetail =
    "use another output folder, or remove this one to make it from here";
// The first line of the options the state records: the input folder, seen from the output.
constexpr std::string_view kSourceLine = "source\t";
// A page larger than this is not read back for its links; the check then skips it.
constexpr std::uint64_t kMaxScannedPageBytes = std::uint64_t{256} << 20;
// The options whose value names a file or folder: the state holds it resolved.
constexpr std::string_view kPathOptions[] = {"t", "dbgt", "root", "syntax"};

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty())
    return name;
  if (name.empty())
    return folder;
  return folder + platform::kPathSeparator + name;
}

// `path` without separators at its end, unless it is nothing else (the root).
std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == platform::kPathSeparator)
    path.pop_back();
  return path;
}

// True when `inner` is `outer` or lies below it; both absolute.
bool Contains(const std::string& outer, const std::string& inner) {
  const std::string a = WithoutTrailingSeparators(outer);
  const std::string b = WithoutTrailingSeparators(inner);
  if (a.empty() || b.empty())
    return false;
  if (a == b)
    return true;
  const std::string prefix =
      a.back() == platform::kPathSeparator ? a : a + platform::kPathSeparator;
  return b.compare(0, prefix.size(), prefix) == 0;
}

// The absolute path of `path` with the links of its existing folders resolved; the part
// that does not exist yet follows as written, and so does the last name unless
// `resolveLast` (a link named as an input is looked at through its name). Empty when the
// current folder is unknown.
std::string Resolved(const std::string& path, bool resolveLast) {
  const char separator = platform::kPathSeparator;
  const std::string full = WithoutTrailingSeparators(platform::FullPath(path));
  if (full.empty())
    return full;
  std::string head = full;
  std::string tail;  // what is not resolved, each name after a separator
  const auto cut = [&] {
    const std::size_t at = head.rfind(separator);
    if (at == std::string::npos || head.find(separator) == at)
      return false;  // only the root is left
    tail.insert(0, head, at);
    head.resize(at);
    return true;
  };
  if (!resolveLast && !cut())
    return full;
  for (;;) {
    const std::string real = WithoutTrailingSeparators(platform::RealPath(head));
    if (!real.empty())
      return real.back() == separator && !tail.empty() ? real + tail.substr(1) : real + tail;
    if (!cut())
      return full;
  }
}

bool IsOption(const std::string& argument, std::string_view name) {
  return IsOptionNamed(argument, name);
}

bool IsDocument(const std::string& name) {
  return EqualsIgnoreCase(ExtensionOf(name, false), kDocumentExtension);
}

std::string PageOf(const std::string& document) {
  return WithoutExtension(document) + std::string(kPageExtension);
}

// True when `path`, as the state names it, is a path the walk could give: names that are
// plain (IsPlainName) and none a dot-name (the walk leaves those out), separated by the
// system's separator. The state is input: nothing else is ever written or removed.
bool IsWalkPath(std::string_view path) {
  if (path.empty())
    return false;
  std::size_t from = 0;
  for (;;) {
    std::size_t end = path.find(platform::kPathSeparator, from);
    if (end == std::string_view::npos)
      end = path.size();
    const std::string_view name = path.substr(from, end - from);
    if (!platform::IsPlainName(name) || name[0] == '.')
      return false;
    if (end == path.size())
      return true;
    from = end + 1;
  }
}

// True when `target` is a page that `document` may have written: its own name with the
// page's extension or, with -ext, another extension in the same folder.
bool TargetFits(const std::string& document, const std::string& target) {
  if (!IsWalkPath(target) || IsDocument(target))
    return false;
  if (target == PageOf(document))
    return true;
  const std::string stem = WithoutExtension(document);
  return target.size() >= stem.size() && target.compare(0, stem.size(), stem) == 0 &&
         target.find(platform::kPathSeparator, stem.size()) == std::string::npos &&
         target.find('/', stem.size()) == std::string::npos;
}

// The folder part of a path below the output folder ("" for a name at its top).
std::string FolderPart(const std::string& relative) {
  const std::size_t at = relative.rfind(platform::kPathSeparator);
  return at == std::string::npos ? std::string() : relative.substr(0, at);
}

// True when `relative` is `folder` or lies below it ("" holds everything).
bool IsWithin(const std::string& folder, const std::string& relative) {
  return folder.empty() || relative == folder ||
         (relative.size() > folder.size() && relative.compare(0, folder.size(), folder) == 0 &&
          relative[folder.size()] == platform::kPathSeparator);
}

// The folders that hold `path` below the output folder, innermost last.
void AddFoldersOf(const std::string& path, std::set<std::string>* folders) {
  for (std::size_t at = path.find(platform::kPathSeparator); at != std::string::npos;
       at = path.find(platform::kPathSeparator, at + 1))
    folders->insert(path.substr(0, at));
}

// Takes a page's bytes in memory: the site run writes them below the output folder itself,
// and reads its links from them.
class PageText_CL final : public PageSink_CL {
 public:
  void Reserve(std::uint64_t size, bool adoptsBody) override {
    size_ = static_cast<std::size_t>(size);
    if (!adoptsBody)
      bytes.reserve(size_);
  }
  void Write(std::string_view text) override { bytes.append(text); }
  void AdoptBody(std::string&& body) override {
    std::string page = std::move(body);
    page.reserve(size_);
    page.insert(0, bytes);
    bytes = std::move(page);
  }

  std::string bytes;

 private:
  std::size_t size_ = 0;
};

// How `text` (a template's or a document's bytes) spells the link `target` of a page made
// with it: as written, or, for a link that climbs to the root first, as the root's
// placeholder and the rest. Empty when it does not hold it.
std::string SpellingOf(std::string_view text, std::string_view target) {
  constexpr std::string_view kRoot = "####ROOT####";
  if (target.empty())
    return {};
  if (text.find(target) != std::string_view::npos)
    return std::string(target);
  std::string_view rest = target;
  while (rest.substr(0, 3) == "../" || rest.substr(0, 2) == "./")
    rest.remove_prefix(rest[1] == '/' ? 2 : 3);
  if (rest.size() == target.size() || rest.empty())
    return {};
  for (std::size_t at = text.find(kRoot); at != std::string_view::npos;
       at = text.find(kRoot, at + 1)) {
    std::string_view after = text.substr(at + kRoot.size());
    const bool slash = !after.empty() && after[0] == '/';
    if (slash)
      after.remove_prefix(1);
    if (after.substr(0, rest.size()) == rest)
      return std::string(kRoot) + (slash ? "/" : "") + std::string(rest);
  }
  return {};
}

// A duration as seconds with one decimal, without the locale's decimal sign.
std::string Seconds(std::chrono::steady_clock::duration elapsed) {
  const auto tenths = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() / 100;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

}  // namespace

bool IsSiteRun(const std::vector<std::string>& arguments) {
  const CommandLine_CL commandLine(arguments);
  if (commandLine.CountPlain() == 0 || commandLine.HasOption("?"))
    return false;
  return !commandLine.OptionValue("o").empty() && platform::IsFolder(commandLine.FirstPlain());
}

Site_CL::Site_CL(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {}

std::vector<std::string> Site_CL::OtherArguments() const {
  const auto isOption = IsOption;
  std::vector<bool> drop(arguments_.size(), false);
  bool inputFound = false;
  // The first of each, as the options are read; a value is whatever argument follows.
  bool outputFound = false;
  bool jobsFound = false;
  for (std::size_t i = 0; i < arguments_.size(); ++i) {
    const std::string& a = arguments_[i];
    if (!inputFound && !a.empty() && !platform::IsOptionMarker(a[0])) {
      drop[i] = inputFound = true;
    } else if ((!outputFound && isOption(a, "o")) || (!jobsFound && isOption(a, "j"))) {
      (isOption(a, "o") ? outputFound : jobsFound) = true;
      drop[i] = true;
      if (i + 1 < arguments_.size())
        drop[++i] = true;
    } else if (const OptionRow* row = FindOptionRow(a);
               row != nullptr && (row->products & kSingleRun) == 0) {
      // Options of the run as a whole: no page depends on them.
      drop[i] = true;
      if (row->takesValue && i + 1 < arguments_.size())
        drop[++i] = true;
    } else if (row != nullptr && row->takesValue) {
      ++i;  // its value stays with it, whatever it looks like
    }
  }
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < arguments_.size(); ++i) {
    if (!drop[i])
      rest.push_back(arguments_[i]);
  }
  return rest;
}

std::string Site_CL::TargetOf(const std::string& document) const {
  const std::string page = PageOf(document);
  if (!options_.replaceExt)
    return page;
  // The extension the document's own comments ask for, as its run will find it; the
  // page's name then decides which file it replaces or meets.
  DocumentHeader header;
  header.output_ext = ExtensionOf(page, true);
  (void)ReadIncludeFile(header, Join(source_, document));
  return WithoutExtension(page) + header.output_ext;
}

void Site_CL::Walk() {
  // Each folder is walked once, at the first path that reaches it in the walk's order:
  // links that stay inside the input folder can reach one folder along many paths, or one
  // inside itself. The walk goes level by level, and in each level the folders themselves
  // come before the links to folders, so a folder is walked at its own place.
  struct Pending {
    std::string relative;
    bool link = false;
  };
  std::set<std::pair<std::uint64_t, std::uint64_t>> walked;
  // An output inside the input is never walked: its pages are no documents.
  if (outputFolder_)
    walked.insert(*outputFolder_);
  std::vector<Pending> level{{std::string(), false}};
  for (std::size_t depth = 0; !level.empty(); ++depth) {
    std::stable_partition(level.begin(), level.end(), [](const Pending& p) { return !p.link; });
    std::vector<Pending> next;
    for (const Pending& folder : level) {
      const std::string folderPath = Join(source_, folder.relative);
      platform::FileStatus status;
      const bool known = platform::StatusOf(folderPath, &status);
      if (known && !walked.insert({status.device, status.inode}).second)
        continue;
      if (depth >= kMaxFolderDepth) {
        walkErrors_.push_back({folderPath, folder.relative, std::string(kTooDeep)});
        continue;
      }
      std::vector<platform::FolderEntry> entries;
      const auto previous = previousListings_.find(folder.relative);
      if (known && status.changeTime != 0 && previous != previousListings_.end() &&
          previous->second.changeTime == status.changeTime &&
          previous->second.device == status.device && previous->second.inode == status.inode) {
        // Listing a folder costs far more than a look at it; most folders of a site do not
        // change between runs.
        entries = std::move(previous->second.entries);
      } else {
        if (!platform::ListFolder(folderPath, &entries)) {
          walkErrors_.push_back({folderPath, folder.relative, std::string()});
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
          status.changeTime < walkStart_ - kSettledSeconds * platform::kStampUnitsPerSecond;
      folders_.push_back(folder.relative);
      for (platform::FolderEntry& entry : entries) {
        const std::string relative = Join(folder.relative, entry.name);
        // A link is followed only when it stays inside the input folder; what it leads to
        // may have changed while its folder did not.
        if (entry.link) {
          const std::string real = platform::RealPath(Join(source_, relative));
          if (real.empty() || !Contains(sourceReal_, real))
            continue;
          platform::FileStatus target;
          entry.kind = !platform::StatusOf(real, &target)           ? platform::EntryKind::Other
                       : target.kind == platform::FileKind::Regular ? platform::EntryKind::File
                       : target.kind == platform::FileKind::Folder  ? platform::EntryKind::Folder
                                                                    : platform::EntryKind::Other;
        }
        if (entry.kind == platform::EntryKind::File) {
          (IsDocument(entry.name) ? documents_ : files_).push_back(relative);
        } else if (entry.kind == platform::EntryKind::Folder) {
          next.push_back({relative, entry.link});
        }
      }
      // The kind found above for a link is not kept: the state writes a link as a link.
      if (keepListing)
        listings_.push_back({folder.relative, status.changeTime, status.device, status.inode,
                             std::move(entries)});
    }
    level = std::move(next);
  }
  std::sort(documents_.begin(), documents_.end());
  std::sort(files_.begin(), files_.end());
  targets_.clear();
  std::map<std::string, std::size_t> writers;
  for (const std::string& document : documents_) {
    targets_.push_back(TargetOf(document));
    ++writers[targets_.back()];
  }
  // Two documents that write one page (a.md and a.MD) would take turns at it from run to
  // run: neither is written, and both are told.
  collides_.assign(documents_.size(), false);
  for (std::size_t i = 0; i < documents_.size(); ++i)
    collides_[i] = writers[targets_[i]] > 1;
  // A file named like a page (a.html beside a.md) would be overwritten by it or overwrite
  // it: the page wins.
  std::erase_if(files_, [&](const std::string& file) { return writers.count(file) != 0; });
}

std::string Site_CL::StatePath(const std::string& path) const {
  return PathRelativeTo(outputReal_, Resolved(path, false), platform::kPathSeparator);
}

std::string Site_CL::OptionsText() const {
  std::string text =
      "source\t" + PathRelativeTo(outputReal_, sourceReal_, platform::kPathSeparator);
  for (std::size_t i = 0; i < pageArguments_.size(); ++i) {
    const std::string& a = pageArguments_[i];
    text.append(1, '\n').append(a);
    const bool namesPath = std::any_of(std::begin(kPathOptions), std::end(kPathOptions),
                                       [&](std::string_view name) { return IsOption(a, name); });
    if (namesPath && i + 1 < pageArguments_.size() && !pageArguments_[i + 1].empty()) {
      ++i;
      text.append(1, '\n').append(StatePath(pageArguments_[i]));
    }
  }
  return text;
}

bool Site_CL::BelowUnreadable(const std::string& relative) const {
  return std::any_of(walkErrors_.begin(), walkErrors_.end(),
                     [&](const WalkError& error) { return IsWithin(error.relative, relative); });
}

void Site_CL::CheckStateRecords(SiteState* state) const {
  std::erase_if(state->pages, [](const SitePage& page) {
    return !IsWalkPath(page.document) || !IsDocument(page.document) ||
           !TargetFits(page.document, page.target);
  });
  const auto notCopy = [](const SiteInput& copy) {
    return !IsWalkPath(copy.path) || IsDocument(copy.path);
  };
  std::erase_if(state->copies, notCopy);
  std::erase_if(state->made, [](const SiteInput& made) { return !IsWalkPath(made.path); });
  std::erase_if(state->folders, [](const std::string& folder) { return !IsWalkPath(folder); });
  // A listing is the walk's own result: a name in it that no fresh listing keeps, or a
  // folder that no walk reaches, and the folder is listed again.
  std::erase_if(state->listings, [](const SiteListing& listing) {
    return (!listing.folder.empty() && !IsWalkPath(listing.folder)) ||
           std::any_of(listing.entries.begin(), listing.entries.end(),
                       [](const platform::FolderEntry& entry) {
                         return !platform::IsPlainName(entry.name) || entry.name[0] == '.';
                       });
  });
}

void Site_CL::FindStale(const SiteState& state) {
  std::unordered_set<std::string> outputs(targets_.begin(), targets_.end());
  outputs.insert(files_.begin(), files_.end());
  std::unordered_set<std::string> seen;
  for (const SitePage& page : state.pages) {
    if (outputs.count(page.target) != 0 || !seen.insert(page.target).second)
      continue;
    (BelowUnreadable(page.document) ? keptPages_ : stalePages_).push_back(page);
  }
  for (const SiteInput& copy : state.copies) {
    previousCopies_.emplace(copy.path, copy);
    if (outputs.count(copy.path) == 0 && seen.insert(copy.path).second)
      (BelowUnreadable(copy.path) ? keptCopies_ : staleCopies_).push_back(copy);
  }
  // What a run made but may not have recorded: where this walk writes it anyway, it will
  // be written again; elsewhere it is stale like any output.
  for (const SiteInput& made : state.made) {
    if (outputs.count(made.path) == 0)
      (BelowUnreadable(made.path) ? keptMade_ : staleMade_).push_back(made);
  }
  for (const std::string& folder : state.folders)
    stateFolders_.push_back(folder);
}

void Site_CL::ReadJournal(SiteState* state) {
  std::string text;
  const std::string name(kSiteJournalName);
  const std::uint64_t limit = kStateBaseBytes + kStateBytesPerDocument * documents_.size();
  if (out_.Read(name, limit, &text) != platform::ReadResult::kRead)
    return;
  journalFound_ = true;
  std::vector<SiteInput> made = ParseMadeLines(text);
  std::erase_if(made, [](const SiteInput& file) { return !IsWalkPath(file.path); });
  state->made.insert(state->made.end(), std::make_move_iterator(made.begin()),
                     std::make_move_iterator(made.end()));
  state->finished = false;
}

void Site_CL::AdoptState(SiteState state) {
  previousFinished_ = state.finished;
  previousProgramSame_ = state.program == programText_;
  // What an earlier run made is ours to remove whatever program or options made it.
  FindStale(state);
  if (state.program != programText_ || state.options != optionsText_)
    return;
  std::unordered_map<std::string, std::size_t> byDocument;
  for (std::size_t i = 0; i < documents_.size(); ++i)
    byDocument[documents_[i]] = i;
  for (SitePage& page : state.pages) {
    const auto found = byDocument.find(page.document);
    if (found == byDocument.end())
      continue;
    const std::size_t i = found->second;
    // The record must name the page this walk computes for its document; with -ext the
    // document's own extension, which its run finds, may end the name.
    bool valid = page.target == targets_[i];
    if (!valid && options_.replaceExt) {
      const std::string stem = WithoutExtension(PageOf(documents_[i]));
      const std::string_view rest =
          std::string_view(page.target).substr(std::min(stem.size(), page.target.size()));
      valid = page.target.compare(0, stem.size(), stem) == 0 &&
              rest.find(platform::kPathSeparator) == std::string_view::npos &&
              rest.find('/') == std::string_view::npos && rest.find("..") == std::string_view::npos;
    }
    if (valid && !page.inputs.empty())
      previous_[i] = std::move(page);
  }
}

void Site_CL::RemoveLeftovers() {
  // The folders of this walk, and those an earlier run wrote into, whose sources may be
  // gone by now.
  std::set<std::string> folders(folders_.begin(), folders_.end());
  folders.insert(stateFolders_.begin(), stateFolders_.end());
  for (const SiteInput& made : staleMade_)
    folders.insert(FolderPart(made.path));
  for (const std::string& folder : folders)
    (void)out_.RemoveTemporaries(folder);
}

bool Site_CL::UpToDate(const SitePage& page) const {
  if (page.inputs.empty() || !page.page.exists ||
      (!page.navigation.empty() && page.navigation != navigation_.Sum()))
    return false;
  // A page emptied or edited behind our back is made again, as a missing one is, and so
  // is one whose name leads through a link now.
  platform::FileIdentity found;
  if (out_.Look(page.target, &found) != platform::BelowKind::kFile || found.stamp != page.page ||
      (page.inode != 0 && found != IdentityOf(page)))
    return false;
  for (const SiteInput& input : page.inputs) {
    if (platform::StampOf(Join(output_, input.path)) != input.stamp)
      return false;
  }
  return true;
}

void Site_CL::BeginWork() {
  std::call_once(beginWork_, [this] {
    // Before the first temporary file: a run killed from here on is known to the next.
    (void)WriteState(false);
    nextStateWrite_ =
        (std::chrono::steady_clock::now() + kStateInterval).time_since_epoch().count();
  });
}

void Site_CL::RecordUpToDate(std::size_t index) {
  const std::lock_guard<std::mutex> lock(recordsMutex_);
  records_[index] = std::move(previous_[index]);
  processed_[index] = true;
}

void Site_CL::Record(std::size_t index, std::optional<SitePage> record) {
  const std::lock_guard<std::mutex> lock(recordsMutex_);
  records_[index] = std::move(record);
  processed_[index] = true;
}

void Site_CL::ConvertPage(std::size_t index) {
  const std::string& relative = documents_[index];
  const std::string document = Join(source_, relative);
  CollectedMessages_CL messages;
  if (collides_[index]) {
    messages.Message(std::string(kTwoSources) + Join(output_, targets_[index]),
                     MessageStream::Error);
    ++failed_;
    Record(index, std::nullopt);
    Report(document, messages);
    return;
  }
  if (!options_.force && previous_[index] && UpToDate(*previous_[index])) {
    RecordUpToDate(index);
    ++upToDate_;
    Report(document, messages);
    return;
  }
  // Regular files only: a pipe or a device put in a document's place since the walk would
  // hold the conversion for ever.
  platform::FileStatus found;
  std::string reason;
  if (!platform::StatusOf(document, &found, &reason) || found.kind != platform::FileKind::Regular) {
    if (reason.empty())
      reason = platform::NotRegularReason(found.kind);
    messages.Message("Open Err InputFile", MessageStream::Output);
    messages.Message(DetailLine(document, reason), MessageStream::Output);
    ++failed_;
    Record(index, std::nullopt);
    Report(document, messages);
    return;
  }
  BeginWork();
  const std::string output = Join(output_, PageOf(relative));
  std::vector<std::string> arguments{document, "-o", output};
  arguments.insert(arguments.end(), pageArguments_.begin(), pageArguments_.end());
  // Every input we know of is stamped before the conversion reads it, and again after: a
  // change made while it runs leaves the page unrecorded, so the next run makes it again.
  std::map<std::string, platform::FileStamp> before;
  before[StatePath(document)] = platform::StampOf(document);
  for (const std::string* named : {&options_.templateFile, &options_.debugTemplateFile}) {
    if (!named->empty())
      before.emplace(StatePath(*named), platform::StampOf(*named));
  }
  if (previous_[index]) {
    for (const SiteInput& input : previous_[index]->inputs)
      before.emplace(input.path, platform::StampOf(Join(outputReal_, input.path)));
  }
  int status = kStatusNotStarted;
  std::optional<SitePage> record;
  reason.clear();
  const platform::BelowResult folder = out_.MakeFolders(FolderPart(targets_[index]), &reason);
  // A link in the page's place is seen before the conversion: the single run's checks
  // would follow it.
  if (folder == platform::BelowResult::kLink ||
      (folder == platform::BelowResult::kDone &&
       out_.Look(targets_[index]) == platform::BelowKind::kLink)) {
    SayLink(targets_[index], kNotWritten);
  } else if (folder != platform::BelowResult::kDone) {
    messages.Message("Open Err OutputFolder", MessageStream::Error);
    if (!reason.empty())
      messages.Message(DetailLine(Join(output_, FolderPart(targets_[index])), reason),
                       MessageStream::Error);
  } else {
    auto parser = std::make_unique<Parser_CL>();
    PageText_CL page;
    parser->messages = &messages;
    parser->pageSink = &page;
    PageFacts facts;
    PreparePage(*parser, index, &facts);
    status = ConvertFile(*parser, arguments);
    // The page's name below the output folder: with -ext, what its own header asked for.
    const std::string target =
        options_.replaceExt ? WithoutExtension(PageOf(relative)) + parser->header.output_ext
                            : PageOf(relative);
    platform::FileIdentity made;
    if (status == kStatusWritten &&
        !WriteBelow(target, page.bytes, nullptr, &made, messages, true))
      status = kStatusNotWritten;
    if (status == kStatusWritten) {
      NoteOutputChanged(target);
      record = SitePage{relative, target, made.stamp, {}, {}, made.device, made.inode, {}, {}, false, {}};
      DescribePage(*parser, facts, index, &*record);
      // What the conversion found itself (a new include) it stamped before reading it.
      for (std::size_t k = 0; k < parser->inputsRead.size(); ++k) {
        if (k < parser->inputStamps.size())
          before.emplace(StatePath(parser->inputsRead[k]), parser->inputStamps[k]);
      }
      std::vector<std::string> inputs{document};
      inputs.insert(inputs.end(), parser->inputsRead.begin(), parser->inputsRead.end());
      std::set<std::string> seen;
      for (const std::string& path : inputs) {
        std::string statePath = StatePath(path);
        if (!seen.insert(statePath).second)
          continue;
        const platform::FileStamp after = platform::StampOf(path);
        platform::FileStamp stamp = after;
        bool steady = false;
        if (const auto known = before.find(statePath); known != before.end()) {
          steady = known->second == after;
          stamp = known->second;
        }
        if (!steady) {
          record.reset();
          break;
        }
        record->inputs.push_back({std::move(statePath), stamp});
      }
      // The page's share of the link check, from the bytes just written, so that a later
      // run checks its links without reading it.
      if (record && page.bytes.size() <= kMaxScannedPageBytes) {
        PageLinks links = ScanOwnLinks(page.bytes, facts, index);
        record->links = FormatPageLinks(links);
        pageLinks_[index] = std::move(links);
      }
    }
  }
  if (status == kStatusWritten) {
    ++converted_;
  } else {
    ++failed_;
  }
  Record(index, std::move(record));
  Report(document, messages);
}

void Site_CL::SayLink(const std::string& relative, std::string_view what) {
  const std::lock_guard<std::mutex> lock(reportMutex_);
  ClearProgress();
  platform::PrintError(Join(output_, relative) + ": " + std::string(what) + ", a link");
}

bool Site_CL::WriteBelow(const std::string& relative, std::string_view bytes,
                         const std::string* copyFrom, platform::FileIdentity* identity,
                         CollectedMessages_CL& messages, bool asPage) {
  platform::NewFileBelow file;
  std::string reason;
  const platform::BelowResult created = file.Create(out_, relative, &reason);
  if (created == platform::BelowResult::kLink) {
    SayLink(relative, kNotWritten);
    return false;
  }
  if (created != platform::BelowResult::kDone) {
    messages.Message(copyFrom ? "Copy Err File" : "Open Err TemporaryFile",
                     copyFrom ? MessageStream::Error : MessageStream::Output);
    if (!reason.empty())
      messages.Message(DetailLine(Join(output_, FolderPart(relative)), reason),
                       copyFrom ? MessageStream::Error : MessageStream::Output);
    return false;
  }
  // A page goes into its file as a single run's does; other bytes as they are.
  const bool written = copyFrom ? file.CopyFrom(*copyFrom, &reason)
                       : asPage ? file.WriteText(bytes)
                                : file.Write(bytes);
  if (!written || !file.Finish(false, identity, &reason)) {
    messages.Message(copyFrom ? "Copy Err File" : "Write Err OutputFile", MessageStream::Error);
    if (!reason.empty())
      messages.Message(DetailLine(file.ShownPath(), reason), MessageStream::Error);
    return false;
  }
  {
    // Known as ours before it has its name: a run killed from here on leaves nothing the
    // next one cannot tell as its own.
    const std::lock_guard<std::mutex> lock(journalMutex_);
    if (!journal_.IsOpen()) {
      std::string why;
      const platform::BelowResult opened =
          journal_.Open(out_, std::string(kSiteJournalName), &why);
      if (opened == platform::BelowResult::kLink) {
        SayLink(std::string(kSiteJournalName), kNotWritten);
        return false;
      }
      if (opened != platform::BelowResult::kDone) {
        messages.Message(Join(output_, std::string(kSiteJournalName)) + ": Write Err StateFile",
                         MessageStream::Error);
        return false;
      }
    }
    if (!journal_.Append(FormatMadeLine({relative, identity->stamp, identity->device, identity->inode}))) {
      messages.Message(Join(output_, std::string(kSiteJournalName)) + ": Write Err StateFile",
                       MessageStream::Error);
      return false;
    }
  }
  const platform::BelowResult committed = file.Commit(false, &reason);
  if (committed == platform::BelowResult::kLink) {
    SayLink(relative, kNotWritten);
    return false;
  }
  if (committed != platform::BelowResult::kDone) {
    messages.Message(copyFrom ? "Copy Err File" : "TemporaryFile rename error",
                     MessageStream::Error);
    if (!reason.empty())
      messages.Message(DetailLine(Join(output_, relative), reason), MessageStream::Error);
    return false;
  }
  return true;
}

void Site_CL::CopyFile(std::size_t index) {
  const std::string& relative = files_[index];
  const std::string from = Join(source_, relative);
  CollectedMessages_CL messages;
  if (isPageSource_[index]) {
    Report(from, messages);
    return;
  }
  if (IsHighlighterFile(index)) {
    WriteHighlighterFile(index);
    return;
  }
  const platform::FileStamp source = platform::StampOf(from);
  platform::FileIdentity copy;
  const platform::BelowKind found = out_.Look(relative, &copy);
  bool made = found != platform::BelowKind::kLink;
  if (!made) {
    SayLink(relative, kNotWritten);
    ++failed_;
  } else if (options_.force || found != platform::BelowKind::kFile ||
             copy.stamp.size != source.size || copy.stamp.time != source.time) {
    BeginWork();
    const platform::BelowResult folder = out_.MakeFolders(FolderPart(relative));
    if (folder == platform::BelowResult::kLink) {
      SayLink(relative, kNotWritten);
      ++failed_;
      made = false;
    } else if (folder != platform::BelowResult::kDone) {
      messages.Message("Copy Err File", MessageStream::Error);
      ++failed_;
      made = false;
    } else if (WriteBelow(relative, {}, &from, &copy, messages)) {
      ++copied_;
      NoteOutputChanged(relative);
    } else {
      ++failed_;
      made = false;
    }
  }
  {
    // A copy that failed keeps what the previous run knew of the file in its place.
    const std::lock_guard<std::mutex> lock(recordsMutex_);
    if (made) {
      copies_[index] = copy;
    } else if (const auto known = previousCopies_.find(relative); known != previousCopies_.end()) {
      copies_[index] = IdentityOf(known->second);
    }
  }
  Report(from, messages);
}

bool Site_CL::WriteState(bool finished) {
  std::string text;
  {
    const std::lock_guard<std::mutex> lock(recordsMutex_);
    // This run's records and the listings are lent to the state for its formatting and
    // taken back, not copied: they are most of what it holds. A page not made yet is
    // written with the previous run's record, copied, as its own task may be reading it
    // meanwhile; each lent record is taken back from its own place among them.
    SiteState state{programText_, optionsText_, finished, {}, {}, {}, {}, {}};
    std::vector<std::pair<std::size_t, std::size_t>> lent;  // record, place in the state
    for (std::size_t i = 0; i < records_.size(); ++i) {
      if (processed_[i] && records_[i]) {
        lent.emplace_back(i, state.pages.size());
        state.pages.push_back(std::move(*records_[i]));
      } else if (!processed_[i] && previous_[i]) {
        state.pages.push_back(*previous_[i]);
      }
    }
    state.pages.insert(state.pages.end(), stalePages_.begin(), stalePages_.end());
    state.pages.insert(state.pages.end(), keptPages_.begin(), keptPages_.end());
    for (std::size_t i = 0; i < copies_.size(); ++i) {
      if (copies_[i]) {
        const platform::FileIdentity& copy = *copies_[i];
        state.copies.push_back({files_[i], copy.stamp, copy.device, copy.inode});
      } else if (const auto found = previousCopies_.find(files_[i]);
                 found != previousCopies_.end()) {
        // Not done yet: the previous run's copy is still the one in place.
        state.copies.push_back(found->second);
      }
    }
    state.copies.insert(state.copies.end(), staleCopies_.begin(), staleCopies_.end());
    state.copies.insert(state.copies.end(), keptCopies_.begin(), keptCopies_.end());
    state.made = keptMade_;
    state.folders = stateFolders_;
    state.listings = std::move(listings_);
    text = FormatSiteState(state, stateBytes_.load());
    listings_ = std::move(state.listings);
    for (const auto& [record, place] : lent)
      *records_[record] = std::move(state.pages[place]);
  }
  const std::lock_guard<std::mutex> lock(stateMutex_);
  if (text == writtenState_)
    return true;
  // On the disk before its name, and its name before we go on: a crash leaves the old
  // state or the new one.
  platform::NewFileBelow file;
  platform::FileIdentity written;
  const platform::BelowResult created = file.Create(out_, std::string(kSiteStateName));
  if (created == platform::BelowResult::kLink)
    SayLink(std::string(kSiteStateName), kNotWritten);
  if (created != platform::BelowResult::kDone || !file.Write(text) ||
      !file.Finish(true, &written))
    return false;
  // The state's name is ours alone: whatever was put there is replaced, not followed.
  const platform::BelowResult committed = file.Commit(true, nullptr, true);
  if (committed == platform::BelowResult::kLink)
    SayLink(std::string(kSiteStateName), kNotWritten);
  if (committed != platform::BelowResult::kDone)
    return false;
  stateBytes_ = text.size();
  writtenState_ = std::move(text);
  return true;
}

void Site_CL::ClearProgress() {
  if (progressWidth_ == 0)
    return;
  std::string blank(progressWidth_ + 2, ' ');
  blank.front() = '\r';
  blank.back() = '\r';
  platform::PrintErrorText(blank);
  progressWidth_ = 0;
}

void Site_CL::Report(const std::string& path, const CollectedMessages_CL& messages) {
  const std::lock_guard<std::mutex> lock(reportMutex_);
  if (!messages.lines.empty())
    ClearProgress();
  for (const CollectedMessages_CL::Line& line : messages.lines) {
    const std::string text = path + ": " + line.text;
    if (line.stream == MessageStream::Error) {
      platform::PrintError(text);
    } else {
      platform::PrintMessage(text);
    }
  }
  ++done_;
  if (showProgress_) {
    const std::string progress = std::to_string(done_) + "/" + std::to_string(total_);
    platform::PrintErrorText("\r" + progress);
    progressWidth_ = std::max(progressWidth_, progress.size());
  }
}

int Site_CL::Run() {
  // Memory that runs out anywhere in the run ends it as it ends a single page's.
  try {
    const int status = RunSite();
    if (!outOfMemory_)
      return status;
  } catch (const std::bad_alloc&) {
  }
  try {
    ClearProgress();
    ConsoleMessages_CL().Message("Out of memory", MessageStream::Error);
  } catch (const std::bad_alloc&) {
  }
  return kStatusNotWritten;
}

int Site_CL::RunSite() {
  const auto start = std::chrono::steady_clock::now();
  ConsoleMessages_CL console;
  const CommandLine_CL commandLine(arguments_);
  source_ = WithoutTrailingSeparators(commandLine.FirstPlain());
  output_ = WithoutTrailingSeparators(commandLine.OptionValue("o"));
  (void)ParseOptions(arguments_, options_);

  // An input inside the output would be overwritten by its own pages. An output inside
  // the input is a folder of the project, as documentation repositories keep it: the walk
  // leaves it out. The output folder's existing part is resolved before anything is made:
  // through a link it may lie around the input.
  sourceReal_ = Resolved(source_, true);
  if (Contains(platform::FullPath(output_), platform::FullPath(source_)) ||
      Contains(Resolved(output_, true), sourceReal_)) {
    console.Message("Input Folder and Output Folder may not contain each other",
                    MessageStream::Output);
    return 255;
  }
  if (!platform::MakeFolders(output_) || !out_.Open(output_)) {
    console.Message("Open Err OutputFolder", MessageStream::Output);
    return 255;
  }
  outputReal_ = Resolved(output_, true);
  // The output folder itself, wherever a walk of the input meets it.
  platform::FileStatus outputStatus;
  if (platform::StatusOf(output_, &outputStatus))
    outputFolder_ = {outputStatus.device, outputStatus.inode};
  statePath_ = Join(output_, std::string(kSiteStateName));

  pageArguments_ = OtherArguments();
  if (commandLine.OptionValue("root").empty())
    pageArguments_.insert(pageArguments_.begin(), {"-root", output_});
  programText_ = std::string(TARVIX_VERSION) + ' ' + kBuildIdentity;
  optionsText_ = OptionsText();

  // The state is read before the walk, which takes the folders' listings from it; only a
  // state past the base bound waits for the walk, which tells how many documents it may
  // speak for.
  std::string stateText;
  const std::string stateName(kSiteStateName);
  platform::ReadResult read = out_.Read(stateName, kStateBaseBytes, &stateText);
  SiteState state;
  StateRead parsed =
      read == platform::ReadResult::kRead ? ParseSiteState(stateText, &state) : StateRead::kOther;
  // An output folder belongs to one site: another's pages are no stale pages of ours.
  if (parsed == StateRead::kRead) {
    const std::string_view recorded = std::string_view(state.options).substr(
        0, std::min(state.options.find('\n'), state.options.size()));
    const std::string_view ours = std::string_view(optionsText_).substr(
        0, std::min(optionsText_.find('\n'), optionsText_.size()));
    if (recorded.substr(0, kSourceLine.size()) == kSourceLine && recorded != ours) {
      const std::string other(recorded.substr(kSourceLine.size()));
      const std::string shown = platform::FullPath(
          other.empty() || other[0] == platform::kPathSeparator ? other
                                                                : Join(outputReal_, other));
      console.Message(output_ + std::string(kOtherSite) + "\"" + shown + "\"",
                      MessageStream::Error);
      console.Message(DetailLine(output_, kOtherSiteDetail), MessageStream::Error);
      return 255;
    }
    CheckStateRecords(&state);
  }
  if (parsed == StateRead::kRead && state.program == programText_ &&
      state.options == optionsText_) {
    for (SiteListing& listing : state.listings)
      previousListings_.emplace(listing.folder, std::move(listing));
  }
  walkStart_ = platform::FileClockNow();
  Walk();
  AddHighlighter();
  previousListings_.clear();
  for (const WalkError& error : walkErrors_) {
    console.Message(error.folder + ": Open Err Folder", MessageStream::Error);
    if (!error.reason.empty())
      console.Message(DetailLine(error.folder, error.reason), MessageStream::Error);
  }

  previous_.assign(documents_.size(), std::nullopt);
  records_.assign(documents_.size(), std::nullopt);
  processed_.assign(documents_.size(), false);
  pageLinks_.assign(documents_.size(), std::nullopt);
  copies_.assign(files_.size(), std::nullopt);
  isPageSource_.assign(files_.size(), false);
  // The state is input like any other: only a regular file of a sane size is read, and one
  // that fails its check is ignored whole.
  const std::uint64_t stateLimit = kStateBaseBytes + kStateBytesPerDocument * documents_.size();
  if (read == platform::ReadResult::kTooLarge) {
    read = out_.Read(stateName, stateLimit, &stateText);
    parsed =
        read == platform::ReadResult::kRead ? ParseSiteState(stateText, &state) : StateRead::kOther;
    if (parsed == StateRead::kRead)
      CheckStateRecords(&state);
  }
  // A state under the name earlier programs gave it is read once, and gives way to the new.
  const std::string earlierStateName(kEarlierSiteStateName);
  platform::FileIdentity earlierIdentity;
  bool earlierState = false;
  if (read == platform::ReadResult::kMissing &&
      out_.Look(earlierStateName, &earlierIdentity) == platform::BelowKind::kFile &&
      out_.Read(earlierStateName, stateLimit, &stateText) == platform::ReadResult::kRead) {
    parsed = ParseSiteState(stateText, &state);
    earlierState = parsed != StateRead::kOther;
    if (parsed == StateRead::kDamaged)
      parsed = StateRead::kOther;
    if (parsed == StateRead::kRead)
      CheckStateRecords(&state);
  }
  if (parsed != StateRead::kRead)
    state = SiteState();
  ReadJournal(&state);
  if (parsed == StateRead::kRead) {
    stateBytes_ = stateText.size();
    // The new name has no file yet: the first write must make it, whatever it holds.
    if (!earlierState)
      writtenState_ = std::move(stateText);
    AdoptState(std::move(state));
  } else {
    if (parsed == StateRead::kDamaged || read == platform::ReadResult::kNotRegular ||
        read == platform::ReadResult::kTooLarge)
      console.Message(statePath_ + ": " + std::string(kStateIgnored), MessageStream::Error);
    // Without a state, what the journal names is still known to be ours.
    if (!state.made.empty())
      AdoptState(std::move(state));
  }
  for (const WalkError& error : walkErrors_) {
    const auto below = [&](const std::string& path) { return IsWithin(error.relative, path); };
    if (std::any_of(keptPages_.begin(), keptPages_.end(),
                    [&](const SitePage& page) { return below(page.document); }) ||
        std::any_of(keptCopies_.begin(), keptCopies_.end(),
                    [&](const SiteInput& copy) { return below(copy.path); }))
      console.Message(error.folder + std::string(kOutputsKept), MessageStream::Error);
  }
  // A run that did not finish may have left temporary files; one that finished did not.
  if (!previousFinished_)
    RemoveLeftovers();

  BeginNavigation();
  total_ = documents_.size() + files_.size();
  showProgress_ = platform::StandardErrorIsTerminal();
  int jobs =
      options_.jobs > 0 ? options_.jobs : static_cast<int>(std::thread::hardware_concurrency());
  jobs = std::clamp(jobs, 1, kMaxJobs);
  jobs = static_cast<int>(
      std::min<std::size_t>(static_cast<std::size_t>(jobs), std::max<std::size_t>(total_, 1)));
  // What an earlier run made and no source makes now goes first: one of its files may stand
  // where a folder of pages must be now (a file that became a folder of documents), or one
  // of its folders where a file must. What turns out stale only once the pages are made,
  // a copy of what a page used as its template, goes after them.
  std::size_t removed = RemoveStale(console);
  // The pages first: which files are their templates and includes is known only then.
  RunTasks(0, documents_.size(), jobs);
  if (outOfMemory_)
    return kStatusNotWritten;
  RedoNavigation(jobs);
  if (outOfMemory_)
    return kStatusNotWritten;
  FindPageSources();
  SettleHighlighter();
  RunTasks(documents_.size(), total_, jobs);
  if (outOfMemory_)
    return kStatusNotWritten;

  ClearProgress();
  removed += RemoveStale(console);
  const std::size_t broken = CheckLinks();
  const bool stateWritten = WriteState(true);
  // The state names each input relative to the output folder; the preview's watcher wants
  // a path it can open from here.
  for (const std::optional<SitePage>& record : records_) {
    if (!record)
      continue;
    for (const SiteInput& input : record->inputs)
      inputsUsed_.push_back(outputReal_ + platform::kPathSeparator + input.path);
  }
  if (!stateWritten)
    console.Message(statePath_ + ": Write Err StateFile", MessageStream::Error);
  if (stateWritten && earlierState)
    (void)out_.RemoveIfSame(earlierStateName, earlierIdentity);
  if (stateWritten) {
    // The state now records all the journal told: it has done its work.
    const std::lock_guard<std::mutex> lock(journalMutex_);
    platform::FileIdentity journal;
    journal_.Close(&journal);
    if (journal.inode != 0 || journalFound_ ||
        out_.Look(std::string(kSiteJournalName), &journal) == platform::BelowKind::kFile) {
      if (journal.inode == 0)
        (void)out_.Look(std::string(kSiteJournalName), &journal);
      (void)out_.RemoveIfSame(std::string(kSiteJournalName), journal);
    }
  }
  std::size_t failed = failed_ + walkErrors_.size() + (stateWritten ? 0 : 1);
  if (options_.strict)
    failed += broken;
  console.Message(std::to_string(converted_) + " pages converted, " + std::to_string(upToDate_) +
                      " up to date, " + std::to_string(copied_) + " files copied, " +
                      std::to_string(removed) + " removed, " + std::to_string(broken) +
                      " broken links, " + std::to_string(failed) + " failed in " +
                      Seconds(std::chrono::steady_clock::now() - start) + " s",
                  MessageStream::Error);
  return failed > 0 ? 1 : 0;
}

void Site_CL::RunTasks(std::size_t first, std::size_t last, int jobs) {
  std::atomic<std::size_t> next{first};
  const auto work = [&] {
    try {
      for (;;) {
        const std::size_t task = next.fetch_add(1);
        if (task >= last)
          return;
        if (task < documents_.size()) {
          ConvertPage(task);
        } else {
          CopyFile(task - documents_.size());
        }
        // Now and then the pages done so far are written down, by one worker at a time.
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        std::int64_t due = nextStateWrite_.load();
        if (due != 0 && now >= due && nextStateWrite_.compare_exchange_strong(due, 0)) {
          (void)WriteState(false);
          nextStateWrite_ =
              (std::chrono::steady_clock::now() + kStateInterval).time_since_epoch().count();
        }
      }
    } catch (const std::bad_alloc&) {
      // The other workers stop at their next task; the run ends as out of memory.
      outOfMemory_ = true;
      next = last;
    }
  };
  jobs = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(jobs),
                                                std::max<std::size_t>(last - first, 1)));
  std::vector<std::thread> workers;
  for (int i = 1; i < jobs; ++i) {
    // A thread the system will not give is work the others take over.
    try {
      workers.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    } catch (const std::bad_alloc&) {
      break;  // leaving with threads that run would end the process
    }
  }
  work();
  for (std::thread& worker : workers)
    worker.join();
}

void Site_CL::FindPageSources() {
  // Inputs are named relative to the output folder; a file of the walk is the input folder
  // seen from there, then its path below it.
  const std::string sourceSeen = PathRelativeTo(outputReal_, sourceReal_, platform::kPathSeparator);
  std::unordered_set<std::string> used;
  for (std::size_t i = 0; i < records_.size(); ++i) {
    if (!records_[i])
      continue;
    for (const SiteInput& input : records_[i]->inputs) {
      if (input.path.compare(0, sourceSeen.size(), sourceSeen) == 0 &&
          input.path.size() > sourceSeen.size() + 1 &&
          input.path[sourceSeen.size()] == platform::kPathSeparator)
        used.insert(input.path.substr(sourceSeen.size() + 1));
    }
  }
  const std::lock_guard<std::mutex> lock(recordsMutex_);
  for (std::size_t i = 0; i < files_.size(); ++i) {
    isPageSource_[i] = used.count(files_[i]) != 0;
    // A copy an earlier run made of it is now a stale output.
    if (const auto found = previousCopies_.find(files_[i]);
        isPageSource_[i] && found != previousCopies_.end()) {
      staleCopies_.push_back(found->second);
      previousCopies_.erase(found);
    }
  }
}

void Site_CL::NoteOutputChanged(const std::string& path) {
  const std::lock_guard<std::mutex> lock(changedMutex_);
  outputsChanged_.push_back(ToForwardSlashes(path));
}

std::size_t Site_CL::RemoveStale(MessageSink_CL& console) {
  std::size_t removed = 0;
  // Only the very file we wrote, still as we wrote it, is ours: one changed by hand stays,
  // and is ours no more, and so does one reached through a link. One we could not delete
  // stays recorded, for the next run to try again. `quiet`: a file a run may not have got
  // as far as naming, where anything else found is no surprise.
  const auto remove = [&](const std::string& path, const platform::FileIdentity& identity,
                          bool quiet) {
    const std::string file = Join(output_, path);
    if (identity.inode == 0 && identity.device == 0) {
      // A record without the file's identity (an earlier program's) cannot tell it.
      if (!quiet && out_.Look(path) == platform::BelowKind::kFile)
        console.Message(file + std::string(kNotRemoved), MessageStream::Error);
      return false;
    }
    std::string keptAs;
    switch (out_.RemoveIfSame(path, identity, &keptAs)) {
      case platform::BelowResult::kDone:
        ++removed;
        NoteOutputChanged(path);
        return false;
      case platform::BelowResult::kMissing:
        return false;
      case platform::BelowResult::kLink:
        SayLink(path, kNotRemovedWord);
        ++failed_;
        return false;
      case platform::BelowResult::kChanged:
        if (!keptAs.empty()) {
          console.Message(file + std::string(kKeptAs) + Join(FolderPart(file), keptAs),
                          MessageStream::Error);
        } else if (!quiet) {
          console.Message(file + std::string(kNotRemoved), MessageStream::Error);
        }
        return false;
      case platform::BelowResult::kFailed:
        break;
    }
    console.Message(file + std::string(kNotRemovable), MessageStream::Error);
    return true;
  };
  std::vector<SitePage> pages;
  std::vector<SiteInput> copies;
  std::vector<SiteInput> made;
  {
    const std::lock_guard<std::mutex> lock(recordsMutex_);
    if (!options_.keep) {
      pages.swap(stalePages_);
      copies.swap(staleCopies_);
      made.swap(staleMade_);
    } else {
      // Kept for a later run without -keep.
      keptMade_.insert(keptMade_.end(), staleMade_.begin(), staleMade_.end());
      staleMade_.clear();
    }
  }
  for (const SiteInput& file : made) {
    if (remove(file.path, IdentityOf(file), true)) {
      const std::lock_guard<std::mutex> lock(recordsMutex_);
      keptMade_.push_back(file);
    }
  }
  for (SitePage& page : pages) {
    if (remove(page.target, IdentityOf(page), false))
      stalePages_.push_back(std::move(page));
  }
  for (SiteInput& copy : copies) {
    if (remove(copy.path, IdentityOf(copy), false))
      staleCopies_.push_back(std::move(copy));
  }

  // The folders that hold this run's outputs stay; of the others, those left empty go,
  // the deepest first so that a folder emptied by its subfolder's removal goes too.
  std::set<std::string> folders;
  for (std::size_t i = 0; i < documents_.size(); ++i)
    AddFoldersOf(targets_[i], &folders);
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (!isPageSource_[i])
      AddFoldersOf(files_[i], &folders);
  }
  // The stale outputs that stay recorded (with -keep, all), and those kept, keep their
  // folders.
  for (const std::vector<SitePage>* list : {&stalePages_, &keptPages_}) {
    for (const SitePage& page : *list)
      AddFoldersOf(page.target, &folders);
  }
  for (const std::vector<SiteInput>* list : {&staleCopies_, &keptCopies_, &keptMade_}) {
    for (const SiteInput& copy : *list)
      AddFoldersOf(copy.path, &folders);
  }
  std::vector<std::string> old;
  {
    const std::lock_guard<std::mutex> lock(recordsMutex_);
    old.swap(stateFolders_);
    stateFolders_.assign(folders.begin(), folders.end());
  }
  const auto depth = [](const std::string& path) {
    return std::count(path.begin(), path.end(), platform::kPathSeparator);
  };
  std::sort(old.begin(), old.end(), [&](const std::string& a, const std::string& b) {
    return depth(a) != depth(b) ? depth(a) > depth(b) : a < b;
  });
  old.erase(std::unique(old.begin(), old.end()), old.end());
  for (const std::string& folder : old) {
    if (folders.count(folder) == 0 &&
        out_.RemoveEmptyFolder(folder) == platform::BelowResult::kDone)
      ++removed;
  }
  return removed;
}

std::size_t Site_CL::CheckLinks() {
  std::vector<LinkPage> pages;
  std::vector<const SitePage*> recordOf;  // by page of the check
  std::unordered_map<std::string, PathKind> known;
  for (std::size_t i = 0; i < documents_.size(); ++i) {
    std::optional<SitePage>& record = records_[i];
    if (!record)
      continue;
    std::optional<PageLinks>& links = pageLinks_[i];
    if (!links)
      links = ParsePageLinks(record->links);
    if (!links) {
      // Without a record we can read (an older state's page): the page itself, once.
      std::string html;
      if (platform::ReadRegularFile(Join(output_, record->target), kMaxScannedPageBytes, &html) ==
          platform::ReadResult::kRead) {
        links = ScanPage(html);
        if (!record->navigation.empty())
          std::erase_if(links->links,
                        [&](const std::string& link) { return navigation_.HoldsLink(i, link); });
        record->links = FormatPageLinks(*links);
      }
    }
    std::string path = ToForwardSlashes(record->target);
    known.emplace(path, PathKind::File);
    pages.push_back({Join(source_, documents_[i]), std::move(path), links ? &*links : nullptr});
    recordOf.push_back(&*record);
  }
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (copies_[i] && !isPageSource_[i])
      known.emplace(ToForwardSlashes(files_[i]), PathKind::File);
  }
  // Anything else is asked of the system: files put into the output by hand, and folders.
  const PathKindFn kindOf = [&](std::string_view path) {
    if (const auto found = known.find(std::string(path)); found != known.end())
      return found->second;
    platform::FileStatus status;
    if (!platform::StatusOf(Join(output_, ToNativeSeparators(path)), &status))
      return PathKind::Missing;
    if (status.kind == platform::FileKind::Regular)
      return PathKind::File;
    return status.kind == platform::FileKind::Folder ? PathKind::Folder : PathKind::Missing;
  };
  std::vector<BrokenLink> broken = CheckSiteLinks(pages, kindOf);
  std::vector<BrokenLink> navigation = CheckNavigationLinks(pages, recordOf, kindOf);
  if (!navigation.empty()) {
    broken.insert(broken.end(), std::make_move_iterator(navigation.begin()),
                  std::make_move_iterator(navigation.end()));
    std::stable_sort(broken.begin(), broken.end(),
                     [](const BrokenLink& a, const BrokenLink& b) { return a.page < b.page; });
  }
  // A link that a page's template (or include) holds and its document does not is broken
  // in every page made with it: said once, for the template.
  std::unordered_map<std::string, std::optional<std::string>> texts;  // by input path
  const auto textOf = [&](const std::string& input) -> const std::optional<std::string>& {
    auto [at, added] = texts.try_emplace(input);
    if (added) {
      std::string bytes;
      if (platform::ReadRegularFile(Join(outputReal_, input), kMaxScannedPageBytes, &bytes) ==
          platform::ReadResult::kRead)
        at->second = std::move(bytes);
    }
    return at->second;
  };
  // The template (or include) a broken link comes from, and how it spells the link there.
  const auto sourceOf = [&](const BrokenLink& link) -> std::optional<std::pair<std::string, std::string>> {
    const SitePage& record = *recordOf[link.page];
    if (record.inputs.size() < 2)
      return std::nullopt;
    const std::optional<std::string>& document = textOf(record.inputs[0].path);
    if (!document || !SpellingOf(*document, link.target).empty())
      return std::nullopt;
    for (std::size_t k = 1; k < record.inputs.size(); ++k) {
      const std::optional<std::string>& text = textOf(record.inputs[k].path);
      if (!text)
        continue;
      std::string spelling = SpellingOf(*text, link.target);
      if (!spelling.empty())
        return std::pair(record.inputs[k].path, std::move(spelling));
    }
    return std::nullopt;
  };
  struct Shared {
    std::size_t pages = 0;
    std::size_t line = 0;  // where its line goes among the others
  };
  std::map<std::pair<std::string, std::string>, Shared> shared;  // by template, link
  std::vector<std::string> out;
  for (const BrokenLink& link : broken) {
    if (std::optional<std::pair<std::string, std::string>> from = sourceOf(link)) {
      auto [at, added] = shared.try_emplace(std::move(*from));
      if (added) {
        at->second.line = out.size();
        out.emplace_back();
      }
      ++at->second.pages;
      continue;
    }
    out.push_back(BrokenLinkMessage(pages[link.page], link));
  }
  const std::string here = WithoutTrailingSeparators(platform::FullPath("."));
  for (const auto& [key, counted] : shared) {
    const std::string file = PathRelativeTo(
        here, platform::FullPath(Join(outputReal_, key.first)), platform::kPathSeparator);
    // The link as the page lines show it, after the template's name.
    std::string line = BrokenLinkMessage({file, {}, nullptr}, {0, key.second, LinkProblem::NoSuchFile});
    line.resize(line.rfind(" ("));
    out[counted.line] = line + " (in " + std::to_string(counted.pages) +
                        (counted.pages == 1 ? " page)" : " pages)");
  }
  // A site whose links point at files it never had reports hundreds: one write for all.
  std::string lines;
  if (linkLines_ != nullptr) {
    const std::unordered_set<std::string> before(linkLines_->begin(), linkLines_->end());
    const std::unordered_set<std::string> now(out.begin(), out.end());
    for (const std::string& line : out) {
      if (before.count(line) == 0)
        lines.append(line).push_back('\n');
    }
    for (const std::string& line : *linkLines_) {
      if (now.count(line) == 0)
        lines.append(kFixed).append(line).push_back('\n');
    }
    *linkLines_ = std::move(out);
  } else {
    for (const std::string& line : out)
      lines.append(line).push_back('\n');
  }
  if (!lines.empty())
    platform::PrintErrorText(lines);
  return broken.size();
}

}  // namespace tarvix
