// Writing below the output folder: each page and copy through the journal, which names it
// before it takes its name, and the state file now and then while the run works and once
// at its end. Owns the journal and the state written; reads the records under their lock.
#include <chrono>
#include <utility>

#include "platform/Platform.h"
#include "site/SitePaths.h"
#include "site/Site_CL.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// How often a run writes its state while it works, so that a run that is killed loses at
// most this much work.
constexpr auto kStateInterval = std::chrono::seconds(2);
constexpr std::string_view kNotWritten = "not written";
// A state smaller than this is written whole each time: it costs less than the news would
// save, and one file is the easier to read. Larger, its news may grow to this share of it.
constexpr std::size_t kNewsFromBytes = 64 * 1024;
constexpr std::size_t kNewsShare = 32;
// How many of the pages a run writes are told as they come (see TellPagesWritten).
constexpr std::size_t kPagesToldAtOnce = 8;

std::int64_t NextStateWrite() {
  return (std::chrono::steady_clock::now() + kStateInterval).time_since_epoch().count();
}

}  // namespace

void Site_CL::SayLink(const std::string& relative, std::string_view what) {
  console_.Say(Join(output_, relative) + ": " + std::string(what) + ", a link");
}

void Site_CL::NoteOutputChanged(const std::string& path) {
  const std::lock_guard<std::mutex> lock(recordsMutex_);
  outputsChanged_.push_back(ToForwardSlashes(path));
}

void Site_CL::NotePageWritten(const std::string& target) {
  NoteOutputChanged(target);
  // The first pages only: a run that makes every page again tells them all at its end at
  // once, not one by one.
  if (pageTold_ && pagesTold_.fetch_add(1) < kPagesToldAtOnce)
    pageTold_(ToForwardSlashes(target));
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
    const std::lock_guard<std::mutex> lock(recordsMutex_);
    if (!journal_.IsOpen()) {
      std::string why;
      const platform::BelowResult opened = journal_.Open(out_, std::string(kSiteJournalName), &why);
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
    if (!journal_.Append(
            FormatMadeLine({relative, identity->stamp, identity->device, identity->inode}))) {
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

void Site_CL::BeginWork() {
  std::call_once(beginWork_, [this] {
    // Before the first temporary file: a run killed from here on is known to the next. The
    // journal being there tells it (the next run reads a run that left one as unfinished),
    // and costs one file made, where the whole state written again would cost as much as an
    // unchanged run of a large site; only a journal that cannot be made leaves it to the state.
    bool opened = false;
    {
      const std::lock_guard<std::mutex> lock(recordsMutex_);
      opened = journal_.IsOpen() ||
               journal_.Open(out_, std::string(kSiteJournalName)) == platform::BelowResult::kDone;
    }
    if (!opened)
      (void)WriteState(false);
    nextStateWrite_ = NextStateWrite();
  });
}

void Site_CL::WriteStateWhenDue() {
  // The pages done so far are written down now and then, by one worker at a time.
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  std::int64_t due = nextStateWrite_.load();
  if (due != 0 && now >= due && nextStateWrite_.compare_exchange_strong(due, 0)) {
    (void)WriteState(false);
    nextStateWrite_ = NextStateWrite();
  }
}

SiteState Site_CL::StateNow(bool finished, std::vector<std::pair<SitePage*, std::size_t>>* lent) {
  // This run's records and the listings are lent to the state for its formatting and taken
  // back, not copied: they are most of what it holds. A page not made yet is written with
  // the previous run's record, copied, as its own task may be reading it meanwhile; each
  // lent record is taken back from its own place among them.
  SiteState state{programText_, optionsText_, finished, {}, {}, {}, {}, {}};
  for (SiteDocument& document : documents_) {
    if (document.processed && document.record) {
      if (lent != nullptr)
        lent->emplace_back(&*document.record, state.pages.size());
      state.pages.push_back(std::move(*document.record));
    } else if (!document.processed && document.previous) {
      state.pages.push_back(*document.previous);
    }
  }
  state.pages.insert(state.pages.end(), stalePages_.begin(), stalePages_.end());
  state.pages.insert(state.pages.end(), keptPages_.begin(), keptPages_.end());
  for (const SiteFile& file : files_) {
    if (file.copy) {
      const platform::FileIdentity& copy = *file.copy;
      state.copies.push_back({file.path, copy.stamp, copy.device, copy.inode});
    } else if (const auto found = previousCopies_.find(file.path); found != previousCopies_.end()) {
      // Not done yet: the previous run's copy is still the one in place.
      state.copies.push_back(found->second);
    }
  }
  state.copies.insert(state.copies.end(), staleCopies_.begin(), staleCopies_.end());
  state.copies.insert(state.copies.end(), keptCopies_.begin(), keptCopies_.end());
  state.made = keptMade_;
  state.folders = stateFolders_;
  state.listings = std::move(listings_);
  return state;
}

std::optional<Site_CL::KeptState> Site_CL::KeepState() {
  if (!stateKnown_ || stateBase_.empty())
    return std::nullopt;
  // As the last write made it: the run finished, and nothing changed since.
  KeptState kept{StateNow(true, nullptr), std::move(stateBase_), std::move(newsWritten_), baseFile_,
                 newsFile_};
  stateKnown_ = false;
  return kept;
}

bool Site_CL::WriteState(bool finished) {
  enum class Write { kNothing, kNews, kWhole };
  Write write = Write::kWhole;
  std::string text;
  std::string news;
  bool same = false;
  {
    const std::lock_guard<std::mutex> lock(recordsMutex_);
    std::vector<std::pair<SitePage*, std::size_t>> lent;  // record, place in the state
    SiteState state = StateNow(finished, &lent);
    // A large state that changed little is written as news of the state file, which stays
    // as it is: a few records where the whole state written again would cost as much as an
    // unchanged run. News that grows past a share of the state gives way to the state
    // written whole. An unchanged state, as a rerun of an unchanged site has, is found so as
    // it is made, and needs no text of its own.
    if (stateBase_.size() >= kNewsFromBytes && !newsRefused_ &&
        FormatSiteNews(state, stateBase_, stateBase_.size() / kNewsShare, &news, &same)) {
      write =
          (same && newsWritten_.empty()) || news == newsWritten_ ? Write::kNothing : Write::kNews;
    } else if (!stateBase_.empty() && newsWritten_.empty() && IsTextOf(state, stateBase_)) {
      write = Write::kNothing;
    } else {
      text = FormatSiteState(state, stateBytes_.load());
    }
    listings_ = std::move(state.listings);
    for (const auto& [record, place] : lent)
      *record = std::move(state.pages[place]);
  }
  // The texts written last are this writer's alone: state writes come one at a time (see
  // nextStateWrite_), so no lock guards them.
  if (write == Write::kNothing ||
      (write == Write::kWhole && text == stateBase_ && newsWritten_.empty()))
    return true;
  stateKnown_ = false;
  if (write == Write::kNews) {
    if (WriteStateFile(kSiteNewsName, news, &newsFile_)) {
      newsWritten_ = std::move(news);
      newsFound_ = true;
      stateKnown_ = baseFile_.inode != 0;
      return true;
    }
    // News that cannot be written (a folder in its place, say): the state is written whole
    // from now on.
    newsRefused_ = true;
    return WriteState(finished);
  }
  if (!WriteStateFile(kSiteStateName, text, &baseFile_))
    return false;
  stateBytes_ = text.size();
  stateBase_ = std::move(text);
  // The news was of the state written before: it goes, and a crash before it does leaves
  // news of another state, which the next run leaves out.
  bool newsGone = true;
  if (newsFound_) {
    platform::FileIdentity found;
    if (out_.Look(std::string(kSiteNewsName), &found) == platform::BelowKind::kFile)
      newsGone =
          out_.RemoveIfSame(std::string(kSiteNewsName), found) == platform::BelowResult::kDone;
    newsWritten_.clear();
    newsFound_ = false;
  }
  newsFile_ = {};
  stateKnown_ = newsGone;
  return true;
}

bool Site_CL::WriteStateFile(std::string_view name, std::string_view text,
                             platform::FileIdentity* written) {
  // On the disk before its name, and its name before we go on: a crash leaves the old
  // file or the new one.
  const std::string relative(name);
  platform::NewFileBelow file;
  const platform::BelowResult created = file.Create(out_, relative);
  if (created == platform::BelowResult::kLink)
    SayLink(relative, kNotWritten);
  if (created != platform::BelowResult::kDone || !file.Write(text) || !file.Finish(true, written))
    return false;
  // The name is ours alone: whatever was put there is replaced, not followed.
  const platform::BelowResult committed = file.Commit(true, nullptr, true);
  if (committed == platform::BelowResult::kLink)
    SayLink(relative, kNotWritten);
  return committed == platform::BelowResult::kDone;
}

bool Site_CL::FinishState(MessageSink_CL& console) {
  const bool stateWritten = WriteState(true);
  if (!stateWritten) {
    console.Message(statePath_ + ": Write Err StateFile", MessageStream::Error);
    return false;
  }
  if (earlierState_)
    (void)out_.RemoveIfSame(std::string(kEarlierSiteStateName), *earlierState_);
  // The state now records all the journal told: it has done its work.
  const std::lock_guard<std::mutex> lock(recordsMutex_);
  platform::FileIdentity journal;
  journal_.Close(&journal);
  if (journal.inode != 0 || journalFound_ ||
      out_.Look(std::string(kSiteJournalName), &journal) == platform::BelowKind::kFile) {
    if (journal.inode == 0)
      (void)out_.Look(std::string(kSiteJournalName), &journal);
    (void)out_.RemoveIfSame(std::string(kSiteJournalName), journal);
  }
  return true;
}

}  // namespace tarvix
