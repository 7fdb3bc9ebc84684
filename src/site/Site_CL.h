// The site run: every document below an input folder becomes a page at the same place below
// an output folder, converted side by side on several threads, and only when something the
// page was made from changed; the other files are copied beside the pages.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/Messages.h"
#include "core/Options.h"
#include "platform/Below.h"
#include "site/Highlighter.h"
#include "site/LinkCheck.h"
#include "site/Navigation.h"
#include "site/SiteConsole.h"
#include "site/SiteRecords.h"
#include "site/SiteState.h"
#include "site/Walk.h"

namespace tarvix {

class Parser_CL;

// True when `arguments` ask for a site run: the input names a folder and an output is named.
// (Any other folder input keeps failing as an input that cannot be read.)
[[nodiscard]] bool IsSiteRun(const std::vector<std::string>& arguments);

// One site run. Each page is converted by a Parser_CL of its own, through the same Init and
// Run as a single page, with the arguments a single run for it would get:
//   SRC/REL.md -o OUT/REL.html [-root OUT] OTHER OPTIONS
// so each page is byte for byte what that run writes. A page's messages are collected and
// printed together when it is done, each line prefixed with the document's path.
// The pages come first, then the copies (a file a page used as its template or include is
// not copied), then what an earlier run made whose source is gone is removed, and last
// the links of every page are checked from the records the state keeps.
//
// The run is one object whose rooms are files of their own, each owning the members listed
// under its name below: the driving (Site_CL.cpp), the walk (Walk.cpp, a function of its
// own), the previous state and the stale outputs (Stale.cpp), the writing below the output
// folder (Writing.cpp), the workers (Workers.cpp), the link check (SiteLinks.cpp), and the
// navigation and highlighter (SiteExtras.cpp). What the rooms share is a record per
// document and per file (SiteRecords.h).
class Site_CL {
 public:
  explicit Site_CL(std::vector<std::string> arguments);
  virtual ~Site_CL() = default;
  Site_CL(const Site_CL&) = delete;
  Site_CL& operator=(const Site_CL&) = delete;

  // Converts and copies what changed, removes stale outputs, checks the links, then writes
  // the state file. Returns the exit status: 0; 1 when a page or a copy failed (or, with
  // -strict, a link is broken), or memory ran out ("Out of memory"); 255 when the run could
  // not start.
  [[nodiscard]] int Run();
  // The files the pages of the run were made from (documents, templates, include files),
  // named as the pages' runs named them: what a live preview watches besides the input.
  [[nodiscard]] std::vector<std::string> InputsUsed() const;
  // The pages and copies the run wrote and the outputs it removed, relative to the output
  // folder with '/' between names, in no particular order: what a live preview tells the
  // pages open in a browser.
  [[nodiscard]] const std::vector<std::string>& OutputsChanged() const { return outputsChanged_; }
  // With `lines` set, the broken links are said as a change from `lines` (those of the run
  // before): each that appeared, and each that went away after "fixed: "; `lines` then
  // gets this run's. The preview's way: the whole list again on every save buries the news.
  void SayLinksAsChanges(std::vector<std::string>* lines) { linkLines_ = lines; }
  // With `told` set, each of the first pages the run writes is told to it as soon as it has
  // its name (relative to the output folder with '/' between names), from the worker that
  // wrote it, before the rest of the run is done: the preview's way to show an open page's
  // edit without waiting for the other pages' looks, the link check and the state. The
  // pages are in OutputsChanged as well.
  void TellPagesWritten(std::function<void(const std::string&)> told) {
    pageTold_ = std::move(told);
  }

  // What a run leaves of its state for the next run in the same process (the preview's):
  // the state as the files below the output folder hold it, and which files those are.
  struct KeptState {
    SiteState state;
    std::string base;                 // the state file's text
    std::string news;                 // the news beside it; empty: none
    platform::FileIdentity baseFile;  // the state file
    platform::FileIdentity newsFile;  // the news file; inode 0: none
  };
  // After Run, as the last call: the state the run left, moved out of it, when the files
  // are known to hold it.
  [[nodiscard]] std::optional<KeptState> KeepState();
  // Before Run: the state the run before kept. It is taken instead of reading and parsing
  // the files again while they are the same files (identity, size and time) that run left;
  // otherwise the files are read as ever.
  void TakeKeptState(KeptState kept) { kept_ = std::move(kept); }

 private:
  // ---- The driving (Site_CL.cpp): the run's order, and what is settled before the walk
  // and only read after it.
  // Run without the guard against exhausted memory.
  [[nodiscard]] int RunSite();
  // The user's arguments without the input, -o and its value, -j and its value, -force,
  // -keep and -strict.
  [[nodiscard]] std::vector<std::string> OtherArguments() const;
  // What decides the pages besides their files, free of the current folder and of the
  // way the paths were spelled.
  [[nodiscard]] std::string OptionsText() const;
  // `path` as the state names it: relative to the output folder, its folders resolved.
  [[nodiscard]] std::string StatePath(const std::string& path) const;

  std::vector<std::string> arguments_;
  Options options_;
  std::string source_;
  std::string output_;
  std::string sourceReal_;  // resolved, absolute
  std::string outputReal_;
  std::string sourceSeen_;  // the input folder, relative to the output folder
  // The output folder's identity: the walk leaves it out where it lies inside the input.
  std::optional<std::pair<std::uint64_t, std::uint64_t>> outputFolder_;
  std::string statePath_;
  std::string programText_;
  std::string optionsText_;
  std::vector<std::string> pageArguments_;  // after the document and its -o
  platform::BelowFolder out_;  // the output folder, below which nothing is reached by a link
  platform::FolderLooks in_;   // the input folder, for the looks at what lies below it
  // Guards, while the workers run, the records' shared fields (SiteRecords.h), the stale
  // outputs' lists, the listings, the journal and outputsChanged_: what a state written
  // meanwhile reads, and what several workers add to.
  std::mutex recordsMutex_;
  SiteConsole_CL console_;
  std::vector<std::string>* linkLines_ = nullptr;     // for SayLinksAsChanges
  bool inputsKnown_ = false;                          // the run got as far as InputsUsed tells
  std::function<void(const std::string&)> pageTold_;  // for TellPagesWritten
  std::atomic<std::size_t> pagesTold_{0};

  // ---- What the walk found (Walk.cpp; AddHighlighter adds its files).
  std::vector<SiteDocument> documents_;
  std::vector<SiteFile> files_;
  std::vector<std::string> folders_;   // walked, relative to the input folder
  std::vector<SiteListing> listings_;  // for the next walk
  std::vector<WalkError> walkErrors_;

  // ---- The previous state and the stale outputs (Stale.cpp).
  // The state file as read before the walk, and completed after it.
  struct StateText {
    std::string text;
    std::string news;  // the news beside the state, when one was read
    bool newsTaken = false;
    platform::ReadResult read = platform::ReadResult::kMissing;
    StateRead parsed = StateRead::kOther;
    SiteState state;
    // The listings the walk may take, by folder: the state's, when this program with these
    // options wrote it.
    std::unordered_map<std::string, SiteListing> listings;
  };
  // Before the walk: the state within the base bound, whose listings the walk takes. False,
  // said on `console`, when the output folder belongs to another site.
  [[nodiscard]] bool ReadState(MessageSink_CL& console, StateText* read);
  // After the walk: the rest of the state, the earlier name's and the journal; the records
  // that still describe a document of this walk are adopted.
  void TakeState(MessageSink_CL& console, StateText read);
  // Takes the previous run's records that still describe a document of this walk.
  void AdoptState(SiteState state);
  // Keeps what the previous run made whose source this walk no longer has: stale outputs.
  // What lies below a folder of the input that could not be read is kept instead.
  void FindStale(SiteState& state);
  // Drops what the state says that no walk of ours could have made: it narrows a run, and
  // never names a file elsewhere.
  void CheckStateRecords(SiteState* state) const;
  // The journal of files made but maybe not recorded, left by a run that did not finish.
  void ReadJournal(SiteState* state);
  // Removes the temporary files an interrupted run left in the output's folders.
  void RemoveLeftovers();
  // Marks the files a page of this run read as its template or include: sources, not
  // content. A copy an earlier run made of one is stale now.
  void FindPageSources();
  // A copy an earlier run made of `file`, which this run does not copy, is stale now.
  void CopyIsStale(const SiteFile& file);
  // Removes the stale outputs that still hold what was written, and the folders left
  // empty; warns of the others. Returns how many were removed. With -keep it only notes
  // the folders the outputs lie in.
  [[nodiscard]] std::size_t RemoveStale(MessageSink_CL& console);

  bool previousFinished_ = false;
  bool previousProgramSame_ = false;  // the previous state was written by this program
  // The state under the name earlier programs gave it, removed once the new one is written.
  std::optional<platform::FileIdentity> earlierState_;
  // The previous run's copies, and the same by path (views of their paths); those found
  // stale or written again leave the map, not the list.
  std::vector<SiteInput> previousCopyRecords_;
  std::unordered_map<std::string_view, std::reference_wrapper<const SiteInput>> previousCopies_;
  // What the state records beside this run's own: the previous run's outputs whose sources
  // are gone (until removed, or for good with -keep), and the folders the outputs lie in.
  std::vector<SitePage> stalePages_;
  std::vector<SiteInput> staleCopies_;
  std::vector<std::string> stateFolders_;
  // The previous run's outputs below a folder of the input that could not be read: kept.
  std::vector<SitePage> keptPages_;
  std::vector<SiteInput> keptCopies_;
  // Files a run made but may not have recorded (its journal): removed where they are what
  // it made, silently where they are not (it may not have got that far); kept as above.
  std::vector<SiteInput> staleMade_;
  std::vector<SiteInput> keptMade_;

  // ---- Writing below the output folder (Writing.cpp): each file through the journal, the
  // state file now and then, and at the end.
  // Writes `bytes` (with `asPage`, as a page goes into its file) or, when `copyFrom` is
  // given, that file's bytes and time, as the file `relative` below the output folder,
  // through no link; notes it in the journal before it takes its name. False, with the
  // reason said in `messages` or on the console, when not.
  [[nodiscard]] bool WriteBelow(const std::string& relative, std::string_view bytes,
                                const std::string* copyFrom, platform::FileIdentity* identity,
                                CollectedMessages_CL& messages, bool asPage = false);
  // Says that `relative` below the output folder was not written or removed ("what"),
  // since a link is on its way. The caller counts it as failed.
  void SayLink(const std::string& relative, std::string_view what);
  // Notes that the output at `path` (relative to the output folder) was written or removed.
  void NoteOutputChanged(const std::string& path);
  // Once, before the first file is made: the time the work starts, on the output's file
  // system, and a state that says a run is going.
  void BeginWork();
  // Between tasks: the state, when it is time to write it again.
  void WriteStateWhenDue();
  // Writes the state file: the pages done so far and, while `finished` is false, the
  // previous records of those not done yet. False when it could not be written.
  bool WriteState(bool finished);
  // The finished state, and then the earlier name's state and the journal gone. False, said
  // on `console`, when the state could not be written.
  [[nodiscard]] bool FinishState(MessageSink_CL& console);

  std::once_flag beginWork_;
  // A state write is one thread's at a time without a lock of its own: the first is
  // BeginWork's (inside call_once, before the next write is due), each later one belongs to
  // the worker that takes the due time from nextStateWrite_ (0 while one is writing), and
  // the last comes after the workers are joined.
  std::atomic<std::int64_t> nextStateWrite_{0};  // steady-clock ticks; 0: not due
  std::atomic<std::size_t> stateBytes_{0};       // the size of the state last read or written
  // The state file's text as last read or written, when the file is known to hold it: what
  // the news is news of.
  std::string stateBase_;
  // The news file's text as last read (taken) or written; empty while there is none of it.
  std::string newsWritten_;
  bool newsFound_ = false;    // a news file was there, taken or not
  bool newsRefused_ = false;  // news could not be written: the state is written whole
  // Which files hold the state, and whether they are known to hold stateBase_ and
  // newsWritten_ (as read, or as the last write left them): what KeepState hands on.
  platform::FileIdentity baseFile_;
  platform::FileIdentity newsFile_;
  bool stateKnown_ = false;
  std::optional<KeptState> kept_;  // TakeKeptState's
  // The state as it is now: this run's records and the listings lent to it, each record
  // with its place in it in `lent` to be given back; moved into it for good when `lent` is
  // null.
  [[nodiscard]] SiteState StateNow(bool finished,
                                   std::vector<std::pair<SitePage*, std::size_t>>* lent);
  // Takes the kept state into `read` when the files are still the ones it names.
  [[nodiscard]] bool TakeKeptStateInto(StateText* read);
  // Writes `text` as the file `name` of the output folder, on the disk before its name and its
  // name before we go on, replacing whatever was there.
  [[nodiscard]] bool WriteStateFile(std::string_view name, std::string_view text,
                                    platform::FileIdentity* written);
  platform::AppendFileBelow journal_;
  bool journalFound_ = false;                // an earlier run's journal was there
  std::vector<std::string> outputsChanged_;  // for OutputsChanged
  // A page written: in OutputsChanged, and told now to TellPagesWritten's receiver.
  void NotePageWritten(const std::string& target);

  // ---- The workers (Workers.cpp): the pages and copies made on several threads.
  // How many threads make the pages and copies.
  [[nodiscard]] int JobCount() const;
  // Does task(0) ... task(count - 1) on up to `jobs` threads; with `writesState`, writing
  // the state now and then. A task that runs out of memory stops them all.
  void RunPool(std::size_t count, int jobs, bool writesState,
               const std::function<void(std::size_t)>& task);
  [[nodiscard]] bool UpToDate(const SitePage& page) const;
  // The stamp of an input, from the path the state records (relative to the output).
  [[nodiscard]] platform::FileStamp InputStamp(const std::string& recorded) const;
  void ConvertPage(std::size_t index);
  void CopyFile(std::size_t index);
  void Record(std::size_t index, std::optional<SitePage> record);
  // The same for a page that is up to date: its previous record, moved.
  void RecordUpToDate(std::size_t index);
  // The copy in the place of file `index`: `made` when it is one of its source now, else
  // what the previous run knew of the file there.
  void RecordCopy(std::size_t index, const std::optional<platform::FileIdentity>& made);

  std::atomic<std::size_t> converted_{0};
  std::atomic<std::size_t> upToDate_{0};
  std::atomic<std::size_t> copied_{0};
  std::atomic<std::size_t> failed_{0};
  std::atomic<bool> outOfMemory_{false};

  // ---- The link check (SiteLinks.cpp).
  // A page larger than this is not read back for its links; the check then skips it.
  static constexpr std::uint64_t kMaxScannedPageBytes = std::uint64_t{256} << 20;
  // Checks the links of every page and prints each broken one; returns how many.
  [[nodiscard]] std::size_t CheckLinks();

  // ---- The navigation and the highlighter folder (SiteExtras.cpp).
  // What a page's conversion told besides its bytes.
  struct PageFacts {
    std::string title;
    std::string navigation;      // the sum of the navigation it holds; empty: none
    std::string navigationHtml;  // the lists it holds
  };
  // The page's share of the link check without its navigation's links, which are the same
  // set in every page and checked once for the site (CheckNavigationLinks).
  [[nodiscard]] PageLinks ScanOwnLinks(std::string_view page, const PageFacts& facts,
                                       std::size_t index) const;
  // The navigation's links that lead to no file, for each page of `pages` that holds it.
  [[nodiscard]] std::vector<BrokenLink> CheckNavigationLinks(
      const std::vector<LinkPage>& pages, const std::vector<const SitePage*>& recordOf,
      const PathKindFn& kindOf) const;
  // Before the pages: what the navigation takes from the previous run's records.
  void BeginNavigation();
  // Gives page `index`'s parser the navigation and asks it for the page's title.
  void PreparePage(Parser_CL& parser, std::size_t index, PageFacts* facts);
  // Adds to a page's record what its conversion told.
  void DescribePage(const Parser_CL& parser, const PageFacts& facts, std::size_t index,
                    SitePage* record);
  // After the pages: those that hold a navigation whose titles turned out otherwise than
  // guessed are made again.
  void RedoNavigation(int jobs);
  // After the walk, before the stale outputs are found: the highlighter's files become files
  // of the run, written like copies, in folders of pages where the input has no folder of
  // that name, unless -syntax, -root or -nohighlighter is given. Without `previous` (the
  // earlier run's records, when they hold for this run) every folder of pages gets every
  // file; with them, a folder gets what its recorded pages load, which is what that run
  // wrote there: an unchanged rerun neither looks at nor keeps the rest. Once only.
  void AddHighlighter(const std::vector<SitePage>* previous);
  // After the pages: in a folder without a page that uses a brush, the highlighter is not
  // written and what an earlier run wrote of it is stale; a folder whose pages load what
  // was not added is given it.
  void SettleHighlighter();
  // Adds highlighter file `k` below `folder` (its folder of pages) to the files.
  void AddHighlighterFile(const std::string& folder, std::size_t k);
  // Whether the input has a file or folder of the highlighter's name in `folder`: then it is
  // copied like any other file, and the program writes none there.
  [[nodiscard]] bool InputHasHighlighter(const std::string& folder) const;
  void WriteHighlighterFile(std::size_t index);
  // The folder of the pages that highlighter file `index` serves.
  // A view of the file's path.
  [[nodiscard]] std::string_view PageFolderOf(std::size_t index) const;

  Navigation_CL navigation_;
  std::vector<HighlighterFile> highlighter_;
  bool highlighterAdded_ = false;
  std::unordered_set<std::string> inputHighlighters_;  // the input's entries of its name
};

}  // namespace tarvix
