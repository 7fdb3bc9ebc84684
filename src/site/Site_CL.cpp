// The site run's driving: the settings made before the walk, the order of the rooms (the
// walk, the state, the stale outputs, the workers, the link check) and the summary line.
// Owns the settings; it may call every room, and touches their records only once they rest.
#include "site/Site_CL.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <utility>

#include "core/CommandLine_CL.h"
#include "core/ConvertFile.h"
#include "platform/Platform.h"
#include "site/BuildIdentity.h"
#include "site/SitePaths.h"
#include "tarvix/tarvix.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// The options whose value names a file or folder: the state holds it resolved.
constexpr std::string_view kPathOptions[] = {"t", "dbgt", "root", "syntax"};

bool IsOption(const std::string& argument, std::string_view name) {
  return IsOptionNamed(argument, name);
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

std::vector<std::string> Site_CL::InputsUsed() const {
  // The state names each input relative to the output folder; the preview's watcher wants
  // a path it can open from here. Made when asked: a run of the program never asks.
  std::vector<std::string> inputs;
  if (!inputsKnown_)
    return inputs;
  for (const SiteDocument& document : documents_) {
    if (!document.record)
      continue;
    for (const SiteInput& input : document.record->inputs)
      inputs.push_back(outputReal_ + platform::kPathSeparator + input.path);
  }
  return inputs;
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
    console_.ClearProgress();
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
  sourceSeen_ = PathRelativeTo(outputReal_, sourceReal_, platform::kPathSeparator);
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
  // The previous state is read before the walk, which takes the folders' listings from it.
  StateText state;
  if (!ReadState(console, &state))
    return 255;
  in_.Open(source_);
  const WalkPlace place{
      source_, sourceReal_, outputFolder_, options_.replaceExt != 0, platform::FileClockNow(),
      &in_};
  SiteWalk walk = WalkInput(place, std::move(state.listings));
  documents_ = std::move(walk.documents);
  files_ = std::move(walk.files);
  folders_ = std::move(walk.folders);
  listings_ = std::move(walk.listings);
  walkErrors_ = std::move(walk.errors);
  for (const WalkError& error : walkErrors_) {
    console.Message(error.folder + ": Open Err Folder", MessageStream::Error);
    if (!error.reason.empty())
      console.Message(DetailLine(error.folder, error.reason), MessageStream::Error);
  }
  TakeState(console, std::move(state));
  AddHighlighter(nullptr);  // without a state that held: every folder, every file
  // A run that did not finish may have left temporary files; one that finished did not.
  if (!previousFinished_)
    RemoveLeftovers();

  BeginNavigation();
  console_.Begin(documents_.size() + files_.size(), platform::StandardErrorIsTerminal());
  const int jobs = JobCount();
  // What an earlier run made and no source makes now goes first: one of its files may stand
  // where a folder of pages must be now (a file that became a folder of documents), or one
  // of its folders where a file must. What turns out stale only once the pages are made,
  // a copy of what a page used as its template, goes after them.
  std::size_t removed = RemoveStale(console);
  // The pages first: which files are their templates and includes is known only then.
  RunPool(documents_.size(), jobs, true, [this](std::size_t index) { ConvertPage(index); });
  if (outOfMemory_)
    return kStatusNotWritten;
  RedoNavigation(jobs);
  if (outOfMemory_)
    return kStatusNotWritten;
  FindPageSources();
  SettleHighlighter();
  RunPool(files_.size(), jobs, true, [this](std::size_t index) { CopyFile(index); });
  if (outOfMemory_)
    return kStatusNotWritten;

  console_.ClearProgress();
  removed += RemoveStale(console);
  const std::size_t broken = CheckLinks();
  const bool stateWritten = FinishState(console);
  inputsKnown_ = true;
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

}  // namespace tarvix
