// The previous state and the stale outputs: reading the state and the journal a run left,
// adopting the records that still hold, and removing what an earlier run made whose source
// is gone. Owns the stale and kept lists; sets the documents' previous records.
#include <algorithm>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/Platform.h"
#include "site/SitePaths.h"
#include "site/Site_CL.h"
#include "site/ViewSet.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// A state file larger than this is no state we wrote: a few hundred bytes a page, with room
// for long paths and many includes.
constexpr std::uint64_t kStateBaseBytes = std::uint64_t{64} << 20;
constexpr std::uint64_t kStateBytesPerDocument = 4096;
// What a terminating signal leaves behind or a damaged state file is told in these words.
constexpr std::string_view kStateIgnored = "StateFile ignored";
constexpr std::string_view kNotRemoved = ": not removed, changed since it was written";
constexpr std::string_view kNotRemovable = ": not removed";
constexpr std::string_view kNotRemovedWord = "not removed";
constexpr std::string_view kKeptAs = ": not removed, not ours; it is now ";
constexpr std::string_view kOutputsKept = ": outputs kept, the folder could not be read";
constexpr std::string_view kOtherSite = ": made from another folder ";
constexpr std::string_view kOtherSiteDetail =
    "use another output folder, or remove this one to make it from here";
// The first line of the options the state records: the input folder, seen from the output.
constexpr std::string_view kSourceLine = "source\t";

}  // namespace

bool Site_CL::ReadState(MessageSink_CL& console, StateText* read) {
  // The state is read before the walk, which takes the folders' listings from it; only a
  // state past the base bound waits for the walk, which tells how many documents it may
  // speak for.
  SiteState& state = read->state;
  // A state kept by the run before was checked when it was first read, and holds besides
  // only what that run made.
  const bool kept = TakeKeptStateInto(read);
  if (!kept) {
    // Which files were read, looked at before and after: a file replaced meanwhile is not
    // known to hold what was read.
    platform::FileIdentity before;
    platform::FileIdentity newsBefore;
    const bool looked =
        out_.Look(std::string(kSiteStateName), &before) == platform::BelowKind::kFile;
    const platform::BelowKind newsKind = out_.Look(std::string(kSiteNewsName), &newsBefore);
    read->read = out_.Read(std::string(kSiteStateName), kStateBaseBytes, &read->text);
    if (read->read == platform::ReadResult::kRead)
      newsFound_ = out_.Read(std::string(kSiteNewsName), kStateBaseBytes, &read->news) ==
                   platform::ReadResult::kRead;
    read->parsed = read->read == platform::ReadResult::kRead
                       ? ParseSiteState(read->text, &state, read->news, &read->newsTaken)
                       : StateRead::kOther;
    stateKnown_ =
        looked &&
        out_.Look(std::string(kSiteStateName), &baseFile_) == platform::BelowKind::kFile &&
        baseFile_ == before;
    if (newsKind == platform::BelowKind::kFile) {
      stateKnown_ =
          stateKnown_ && read->newsTaken &&
          out_.Look(std::string(kSiteNewsName), &newsFile_) == platform::BelowKind::kFile &&
          newsFile_ == newsBefore;
    } else {
      stateKnown_ = stateKnown_ && newsKind == platform::BelowKind::kMissing;
    }
  }
  // An output folder belongs to one site: another's pages are no stale pages of ours.
  if (read->parsed == StateRead::kRead) {
    const std::string_view recorded =
        std::string_view(state.options)
            .substr(0, std::min(state.options.find('\n'), state.options.size()));
    const std::string_view ours =
        std::string_view(optionsText_)
            .substr(0, std::min(optionsText_.find('\n'), optionsText_.size()));
    if (recorded.substr(0, kSourceLine.size()) == kSourceLine && recorded != ours) {
      const std::string other(recorded.substr(kSourceLine.size()));
      const std::string shown = platform::FullPath(
          other.empty() || other[0] == platform::kPathSeparator ? other : Join(outputReal_, other));
      console.Message(output_ + std::string(kOtherSite) + "\"" + shown + "\"",
                      MessageStream::Error);
      console.Message(DetailLine(output_, kOtherSiteDetail), MessageStream::Error);
      return false;
    }
    if (!kept)
      CheckStateRecords(&state);
  }
  if (read->parsed == StateRead::kRead && state.program == programText_ &&
      state.options == optionsText_) {
    for (SiteListing& listing : state.listings)
      read->listings.emplace(listing.folder, std::move(listing));
  }
  return true;
}

bool Site_CL::TakeKeptStateInto(StateText* read) {
  if (!kept_)
    return false;
  KeptState kept = std::move(*kept_);
  kept_.reset();
  platform::FileIdentity base;
  platform::FileIdentity news;
  const platform::BelowKind newsKind = out_.Look(std::string(kSiteNewsName), &news);
  if (out_.Look(std::string(kSiteStateName), &base) != platform::BelowKind::kFile ||
      !(base == kept.baseFile) ||
      (kept.newsFile.inode == 0
           ? newsKind != platform::BelowKind::kMissing
           : newsKind != platform::BelowKind::kFile || !(news == kept.newsFile)))
    return false;
  read->text = std::move(kept.base);
  read->news = std::move(kept.news);
  read->state = std::move(kept.state);
  read->read = platform::ReadResult::kRead;
  read->parsed = StateRead::kRead;
  read->newsTaken = !read->news.empty();
  newsFound_ = read->newsTaken;
  baseFile_ = base;
  newsFile_ = kept.newsFile;
  stateKnown_ = true;
  return true;
}

void Site_CL::TakeState(MessageSink_CL& console, StateText read) {
  std::string& stateText = read.text;
  SiteState& state = read.state;
  StateRead parsed = read.parsed;
  const std::string stateName(kSiteStateName);
  // The state is input like any other: only a regular file of a sane size is read, and one
  // that fails its check is ignored whole.
  const std::uint64_t stateLimit = kStateBaseBytes + kStateBytesPerDocument * documents_.size();
  if (read.read == platform::ReadResult::kTooLarge) {
    stateKnown_ = false;
    read.read = out_.Read(stateName, stateLimit, &stateText);
    if (read.read == platform::ReadResult::kRead)
      newsFound_ = out_.Read(std::string(kSiteNewsName), stateLimit, &read.news) ==
                   platform::ReadResult::kRead;
    parsed = read.read == platform::ReadResult::kRead
                 ? ParseSiteState(stateText, &state, read.news, &read.newsTaken)
                 : StateRead::kOther;
    if (parsed == StateRead::kRead)
      CheckStateRecords(&state);
  }
  // A state under the name earlier programs gave it is read once, and gives way to the new.
  const std::string earlierStateName(kEarlierSiteStateName);
  platform::FileIdentity earlierIdentity;
  if (read.read == platform::ReadResult::kMissing &&
      out_.Look(earlierStateName, &earlierIdentity) == platform::BelowKind::kFile &&
      out_.Read(earlierStateName, stateLimit, &stateText) == platform::ReadResult::kRead) {
    parsed = ParseSiteState(stateText, &state);
    if (parsed != StateRead::kOther)
      earlierState_ = earlierIdentity;
    if (parsed == StateRead::kDamaged || parsed == StateRead::kNewsDamaged)
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
    if (!earlierState_) {
      stateBase_ = std::move(stateText);
      if (read.newsTaken)
        newsWritten_ = std::move(read.news);
    }
    AdoptState(std::move(state));
  } else {
    if (parsed == StateRead::kDamaged || read.read == platform::ReadResult::kNotRegular ||
        read.read == platform::ReadResult::kTooLarge)
      console.Message(statePath_ + ": " + std::string(kStateIgnored), MessageStream::Error);
    if (parsed == StateRead::kNewsDamaged)
      console.Message(Join(output_, std::string(kSiteNewsName)) + ": " + std::string(kStateIgnored),
                      MessageStream::Error);
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

void Site_CL::FindStale(SiteState& state) {
  // Views of the paths, which outlive the look-ups.
  ViewSet outputs(documents_.size() + files_.size());
  for (const SiteDocument& document : documents_)
    outputs.Insert(document.target);
  for (const SiteFile& file : files_)
    outputs.Insert(file.path);
  ViewSet seen;
  for (const SitePage& page : state.pages) {
    if (outputs.Contains(page.target) || !seen.Insert(page.target))
      continue;
    (BelowUnreadable(walkErrors_, page.document) ? keptPages_ : stalePages_).push_back(page);
  }
  // The records stay where they are, looked up by their paths: a large site has thousands.
  previousCopyRecords_ = std::move(state.copies);
  previousCopies_.reserve(previousCopyRecords_.size());
  for (const SiteInput& copy : previousCopyRecords_) {
    previousCopies_.emplace(copy.path, copy);
    if (!outputs.Contains(copy.path) && seen.Insert(copy.path))
      (BelowUnreadable(walkErrors_, copy.path) ? keptCopies_ : staleCopies_).push_back(copy);
  }
  // What a run made but may not have recorded: where this walk writes it anyway, it will
  // be written again; elsewhere it is stale like any output.
  for (const SiteInput& made : state.made) {
    if (!outputs.Contains(made.path))
      (BelowUnreadable(walkErrors_, made.path) ? keptMade_ : staleMade_).push_back(made);
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
  const bool holds = state.program == programText_ && state.options == optionsText_;
  // The highlighter's files the run will write are among its outputs, which nothing finds
  // stale.
  AddHighlighter(holds ? &state.pages : nullptr);
  // What an earlier run made is ours to remove whatever program or options made it.
  FindStale(state);
  if (!holds)
    return;
  std::unordered_map<std::string_view, std::size_t> byDocument;
  byDocument.reserve(documents_.size());
  for (std::size_t i = 0; i < documents_.size(); ++i)
    byDocument[documents_[i].path] = i;
  for (SitePage& page : state.pages) {
    const auto found = byDocument.find(page.document);
    if (found == byDocument.end())
      continue;
    const std::size_t i = found->second;
    // The record must name the page this walk computes for its document; with -ext the
    // document's own extension, which its run finds, may end the name.
    bool valid = page.target == documents_[i].target;
    if (!valid && options_.replaceExt) {
      const std::string stem = WithoutExtension(PageOf(documents_[i].path));
      const std::string_view rest =
          std::string_view(page.target).substr(std::min(stem.size(), page.target.size()));
      valid = page.target.compare(0, stem.size(), stem) == 0 &&
              rest.find(platform::kPathSeparator) == std::string_view::npos &&
              rest.find('/') == std::string_view::npos && rest.find("..") == std::string_view::npos;
    }
    if (valid && !page.inputs.empty())
      documents_[i].previous = std::move(page);
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

void Site_CL::FindPageSources() {
  // Inputs are named relative to the output folder; a file of the walk is the input folder
  // seen from there, then its path below it.
  const std::string& sourceSeen = sourceSeen_;
  // Views of the records' paths, which stay while the files are marked.
  ViewSet used(documents_.size());
  for (const SiteDocument& document : documents_) {
    if (!document.record)
      continue;
    for (const SiteInput& input : document.record->inputs) {
      if (input.path.compare(0, sourceSeen.size(), sourceSeen) == 0 &&
          input.path.size() > sourceSeen.size() + 1 &&
          input.path[sourceSeen.size()] == platform::kPathSeparator)
        used.Insert(std::string_view(input.path).substr(sourceSeen.size() + 1));
    }
  }
  const std::lock_guard<std::mutex> lock(recordsMutex_);
  for (SiteFile& file : files_) {
    file.notCopied = used.Contains(file.path);
    if (file.notCopied)
      CopyIsStale(file);
  }
}

void Site_CL::CopyIsStale(const SiteFile& file) {
  if (const auto found = previousCopies_.find(file.path); found != previousCopies_.end()) {
    staleCopies_.push_back(found->second);
    previousCopies_.erase(found);
  }
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
  // the deepest first so that a folder emptied by its subfolder's removal goes too. They
  // are views of the outputs' paths, which stay put meanwhile.
  std::vector<std::string_view> folders;
  for (const SiteDocument& document : documents_)
    AddFoldersOf(document.target, &folders);
  for (const SiteFile& file : files_) {
    if (!file.notCopied)
      AddFoldersOf(file.path, &folders);
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
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  std::vector<std::string> old;
  {
    // A site whose folders stay as they were, as an unchanged rerun's do, keeps the list
    // it has: nothing is gone, and nothing is copied.
    const std::lock_guard<std::mutex> lock(recordsMutex_);
    if (std::equal(folders.begin(), folders.end(), stateFolders_.begin(), stateFolders_.end()))
      return removed;
    old.swap(stateFolders_);
    stateFolders_.assign(folders.begin(), folders.end());
  }
  std::vector<std::pair<std::ptrdiff_t, std::string>> gone;  // its depth, the folder
  for (std::string& folder : old) {
    if (!std::binary_search(folders.begin(), folders.end(), folder))
      gone.emplace_back(-std::count(folder.begin(), folder.end(), platform::kPathSeparator),
                        std::move(folder));
  }
  std::sort(gone.begin(), gone.end());
  gone.erase(std::unique(gone.begin(), gone.end()), gone.end());
  for (const auto& [depth, folder] : gone) {
    if (out_.RemoveEmptyFolder(folder) == platform::BelowResult::kDone)
      ++removed;
  }
  return removed;
}

}  // namespace tarvix
