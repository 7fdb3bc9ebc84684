// The site run: every document below an input folder becomes a page at the same place below
// an output folder, converted side by side on several threads, and only when something the
// page was made from changed; the other files are copied beside the pages.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Messages.h"
#include "core/Options.h"
#include "platform/Below.h"
#include "site/Highlighter.h"
#include "site/LinkCheck.h"
#include "site/Navigation.h"
#include "site/SiteState.h"

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
  [[nodiscard]] const std::vector<std::string>& InputsUsed() const { return inputsUsed_; }
  // The pages and copies the run wrote and the outputs it removed, relative to the output
  // folder with '/' between names, in no particular order: what a live preview tells the
  // pages open in a browser.
  [[nodiscard]] const std::vector<std::string>& OutputsChanged() const { return outputsChanged_; }
  // With `lines` set, the broken links are said as a change from `lines` (those of the run
  // before): each that appeared, and each that went away after "fixed: "; `lines` then
  // gets this run's. The preview's way: the whole list again on every save buries the news.
  void SayLinksAsChanges(std::vector<std::string>* lines) { linkLines_ = lines; }

 private:
  // Run without the guard against exhausted memory.
  [[nodiscard]] int RunSite();
  // Finds the documents and the other files below the input folder (relative paths), and
  // the page each document writes.
  void Walk();
  // The page `document` writes, relative to the output folder; with -ext the extension its
  // own header asks for.
  [[nodiscard]] std::string TargetOf(const std::string& document) const;
  // The user's arguments without the input, -o and its value, -j and its value, -force,
  // -keep and -strict.
  [[nodiscard]] std::vector<std::string> OtherArguments() const;
  // What decides the pages besides their files, free of the current folder and of the
  // way the paths were spelled.
  [[nodiscard]] std::string OptionsText() const;
  // `path` as the state names it: relative to the output folder, its folders resolved.
  [[nodiscard]] std::string StatePath(const std::string& path) const;
  // Takes the previous run's records that still describe a document of this walk.
  void AdoptState(SiteState state);
  // Keeps what the previous run made whose source this walk no longer has: stale outputs.
  // What lies below a folder of the input that could not be read is kept instead.
  void FindStale(const SiteState& state);
  // True when `relative` (as the input folder names it) lies below a folder the walk
  // could not read: nothing there is known to be gone.
  [[nodiscard]] bool BelowUnreadable(const std::string& relative) const;
  // Drops what the state says that no walk of ours could have made: it narrows a run, and
  // never names a file elsewhere.
  void CheckStateRecords(SiteState* state) const;
  // The journal of files made but maybe not recorded, left by a run that did not finish.
  void ReadJournal(SiteState* state);
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
  // Removes the temporary files an interrupted run left in the output's folders.
  void RemoveLeftovers();
  // Does the tasks [first, last) (the documents, then the files) on `jobs` threads,
  // writing the state now and then.
  void RunTasks(std::size_t first, std::size_t last, int jobs);
  // Marks the files a page of this run read as its template or include: sources, not
  // content.
  void FindPageSources();
  // Removes the stale outputs that still hold what was written, and the folders left
  // empty; warns of the others. Returns how many were removed. With -keep it only notes
  // the folders the outputs lie in.
  [[nodiscard]] std::size_t RemoveStale(MessageSink_CL& console);
  // Checks the links of every page and prints each broken one; returns how many.
  [[nodiscard]] std::size_t CheckLinks();
  [[nodiscard]] bool UpToDate(const SitePage& page) const;
  // Once, before the first file is made: the time the work starts, on the output's file
  // system, and a state that says a run is going.
  void BeginWork();
  void ConvertPage(std::size_t index);
  void CopyFile(std::size_t index);
  void Record(std::size_t index, std::optional<SitePage> record);
  // The same for a page that is up to date: its previous record, moved.
  void RecordUpToDate(std::size_t index);
  // Writes the state file: the pages done so far and, while `finished` is false, the
  // previous records of those not done yet. False when it could not be written.
  bool WriteState(bool finished);
  // Prints `messages` prefixed with `path`, counts one task done and redraws the progress.
  void Report(const std::string& path, const CollectedMessages_CL& messages);
  void ClearProgress();
  // Notes that the output at `path` (relative to the output folder) was written or removed.
  void NoteOutputChanged(const std::string& path);

  // The navigation and the highlighter folder (SiteExtras.cpp).
  // What a page's conversion told besides its bytes.
  struct PageFacts {
    std::string title;
    std::string navigation;  // the sum of the navigation it holds; empty: none
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
  // After the walk: the highlighter's files become files of the run, written like copies, in
  // each folder of pages where the input has no folder of that name, unless -syntax, -root
  // or -nohighlighter is given.
  void AddHighlighter();
  // After the pages: in a folder without a page that uses a brush, the highlighter is not
  // written and what an earlier run wrote of it is stale.
  void SettleHighlighter();
  [[nodiscard]] bool IsHighlighterFile(std::size_t index) const {
    return index >= highlighterFirst_;
  }
  void WriteHighlighterFile(std::size_t index);
  // The folder of the pages that highlighter file `index` serves.
  [[nodiscard]] std::string PageFolderOf(std::size_t index) const;

  std::vector<std::string> arguments_;
  Options options_;
  std::string source_;
  std::string output_;
  std::string sourceReal_;  // resolved, absolute
  std::string outputReal_;
  // The output folder's identity: the walk leaves it out where it lies inside the input.
  std::optional<std::pair<std::uint64_t, std::uint64_t>> outputFolder_;
  std::string statePath_;
  std::string programText_;
  std::string optionsText_;
  std::vector<std::string> pageArguments_;  // after the document and its -o
  std::vector<std::string> documents_;
  std::vector<std::string> targets_;  // by document: its page, relative to the output folder
  std::vector<bool> collides_;        // by document: another source writes the same page
  std::vector<std::string> files_;
  std::vector<std::string> folders_;  // walked, relative to the input folder
  // The listings the previous run kept, by folder (used up by the walk), and this walk's.
  std::unordered_map<std::string, SiteListing> previousListings_;
  std::vector<SiteListing> listings_;
  std::int64_t walkStart_ = 0;  // by the file system's clock
  struct WalkError {
    std::string folder;
    std::string relative;  // below the input folder
    std::string reason;    // empty when the system gave none
  };
  std::vector<WalkError> walkErrors_;
  std::vector<std::optional<SitePage>> previous_;  // by document, when still valid
  bool previousFinished_ = false;
  bool previousProgramSame_ = false;  // the previous state was written by this program
  std::string writtenState_;  // the state file's text as last read or written

  std::once_flag beginWork_;

  std::mutex recordsMutex_;                       // guards what follows
  std::vector<std::optional<SitePage>> records_;  // by document, when it is up to date now
  std::vector<bool> processed_;
  // By file: the copy's identity when it is a copy of its source now; unset while not done.
  std::vector<std::optional<platform::FileIdentity>> copies_;
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

  // By document: the page's links, set by the thread that converts it, or by the check.
  std::vector<std::optional<PageLinks>> pageLinks_;
  std::vector<bool> isPageSource_;  // by file: a page's template or include, not copied
  std::unordered_map<std::string, SiteInput> previousCopies_;  // by path

  platform::BelowFolder out_;  // the output folder, below which nothing is reached by a link
  std::mutex journalMutex_;    // guards journal_
  platform::AppendFileBelow journal_;
  bool journalFound_ = false;  // an earlier run's journal was there

  std::mutex stateMutex_;                        // one state write at a time, and writtenState_
  std::atomic<std::int64_t> nextStateWrite_{0};  // steady-clock ticks
  std::atomic<std::size_t> stateBytes_{0};       // the size of the state last read or written
  std::vector<std::string> inputsUsed_;          // for InputsUsed
  std::mutex changedMutex_;                      // guards outputsChanged_ while pages are made
  std::vector<std::string> outputsChanged_;      // for OutputsChanged
  std::vector<std::string>* linkLines_ = nullptr;  // for SayLinksAsChanges

  Navigation_CL navigation_;
  std::vector<char> madeNow_;  // by document: converted by this run
  std::vector<HighlighterFile> highlighter_;
  std::size_t highlighterFirst_ = static_cast<std::size_t>(-1);  // in files_

  std::atomic<std::size_t> converted_{0};
  std::atomic<std::size_t> upToDate_{0};
  std::atomic<std::size_t> copied_{0};
  std::atomic<std::size_t> failed_{0};
  std::atomic<bool> outOfMemory_{false};

  std::mutex reportMutex_;  // guards what follows, and the console
  bool showProgress_ = false;
  std::size_t done_ = 0;
  std::size_t total_ = 0;
  std::size_t progressWidth_ = 0;
};

}  // namespace tarvix
