// The site run: the walk of the input folder, the pages converted on worker threads, the
// copies, the state file and the summary.
#include "app/Site_CL.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "app/CommandLine_CL.h"
#include "app/Parser_CL.h"
#include "platform/Platform.h"
#include "text/Text.h"

namespace tarvix {
namespace {

constexpr std::string_view kDocumentExtension = ".md";
constexpr std::string_view kPageExtension = ".html";
// More threads than this would only wait for one another on the disk.
constexpr int kMaxJobs = 256;
// Folders nested deeper than this are not walked: links that stay inside the input folder
// can still nest it in itself many times over.
constexpr std::size_t kMaxFolderDepth = 64;

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

bool Overlap(const std::string& a, const std::string& b) {
  return Contains(a, b) || Contains(b, a);
}

bool IsDocument(const std::string& name) {
  return EqualsIgnoreCase(ExtensionOf(name, false), kDocumentExtension);
}

std::string PageOf(const std::string& document) {
  return WithoutExtension(document) + std::string(kPageExtension);
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
  const auto isOption = [](const std::string& a, std::string_view name) {
    return !a.empty() && platform::IsOptionMarker(a[0]) &&
           EqualsIgnoreCase(std::string_view(a).substr(1), name);
  };
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
        drop[i + 1] = true;
    } else if (isOption(a, "force")) {
      drop[i] = true;
    }
  }
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < arguments_.size(); ++i) {
    if (!drop[i])
      rest.push_back(arguments_[i]);
  }
  return rest;
}

void Site_CL::Walk() {
  struct Pending {
    std::string relative;
    std::vector<std::string> ancestors;  // real paths, the input folder's first
  };
  const std::string sourceReal = platform::RealPath(source_);
  std::vector<Pending> pending{{std::string(), {sourceReal}}};
  while (!pending.empty()) {
    Pending folder = std::move(pending.back());
    pending.pop_back();
    std::vector<platform::FolderEntry> entries;
    if (!platform::ListFolder(Join(source_, folder.relative), &entries)) {
      walkErrors_.push_back(Join(source_, folder.relative));
      continue;
    }
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    for (const platform::FolderEntry& entry : entries) {
      if (entry.name.empty() || entry.name[0] == '.')
        continue;
      const std::string relative = Join(folder.relative, entry.name);
      const std::string path = Join(source_, relative);
      // Below a folder whose real path is known, only a link needs resolving.
      std::string real;
      if (entry.link) {
        real = platform::RealPath(path);
      } else if (entry.kind == platform::EntryKind::Folder) {
        real = folder.ancestors.back() + platform::kPathSeparator + entry.name;
      }
      // A link is followed only when it stays inside the input folder.
      if (entry.link && (real.empty() || !Contains(sourceReal, real)))
        continue;
      if (entry.kind == platform::EntryKind::File) {
        (IsDocument(entry.name) ? documents_ : files_).push_back(relative);
      } else if (entry.kind == platform::EntryKind::Folder) {
        // A link back to a folder being walked would make the walk endless.
        const auto& chain = folder.ancestors;
        if (std::find(chain.begin(), chain.end(), real) != chain.end() ||
            chain.size() >= kMaxFolderDepth)
          continue;
        Pending next{relative, chain};
        next.ancestors.push_back(real);
        pending.push_back(std::move(next));
      }
    }
  }
  std::sort(documents_.begin(), documents_.end());
  std::sort(files_.begin(), files_.end());
  // A file named like a page (a.html beside a.md) would be overwritten by it or overwrite
  // it: the page wins.
  std::set<std::string> pages;
  for (const std::string& document : documents_)
    pages.insert(PageOf(document));
  std::erase_if(files_, [&](const std::string& file) { return pages.count(file) != 0; });
}

bool Site_CL::UpToDate(const SitePage& page) const {
  if (page.inputs.empty() || !platform::StampOf(page.target).exists)
    return false;
  for (const SiteInput& input : page.inputs) {
    if (platform::StampOf(input.path) != input.stamp)
      return false;
  }
  return true;
}

void Site_CL::ConvertPage(std::size_t index) {
  const std::string& relative = documents_[index];
  const std::string document = Join(source_, relative);
  CollectedMessages_CL messages;
  if (!options_.force && previous_[index] && UpToDate(*previous_[index])) {
    records_[index] = previous_[index];
    ++upToDate_;
    Report(document, messages);
    return;
  }
  const std::string output = Join(output_, PageOf(relative));
  std::vector<std::string> arguments{document, "-o", output};
  arguments.insert(arguments.end(), pageArguments_.begin(), pageArguments_.end());
  // Stamped before the conversion reads it: a change made while it runs is seen next time.
  SitePage record{relative, std::string(), {{document, platform::StampOf(document)}}};
  int status = kStatusNotStarted;
  if (!platform::MakeFolders(FolderOf(output))) {
    messages.Message("Open Err OutputFolder", MessageStream::Error);
  } else {
    auto parser = std::make_unique<Parser_CL>();
    parser->messages = &messages;
    parser->temporaryFolder = FolderOf(output);
    status = ConvertFile(*parser, arguments);
    record.target = parser->TargetPath();
    std::set<std::string> seen{document};
    for (const std::string& path : parser->inputsRead) {
      if (seen.insert(path).second)
        record.inputs.push_back({path, platform::StampOf(path)});
    }
  }
  if (status == kStatusWritten) {
    records_[index] = std::move(record);
    ++converted_;
  } else {
    ++failed_;
  }
  Report(document, messages);
}

void Site_CL::CopyFile(std::size_t index) {
  const std::string& relative = files_[index];
  const std::string from = Join(source_, relative);
  const std::string to = Join(output_, relative);
  CollectedMessages_CL messages;
  const platform::FileStamp source = platform::StampOf(from);
  const platform::FileStamp copy = platform::StampOf(to);
  if (options_.force || !copy.exists || copy.size != source.size || copy.time != source.time) {
    if (platform::MakeFolders(FolderOf(to)) && platform::CopyFileAtomically(from, to)) {
      ++copied_;
    } else {
      messages.Message("Copy Err File", MessageStream::Error);
      ++failed_;
    }
  }
  Report(from, messages);
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
  const auto start = std::chrono::steady_clock::now();
  ConsoleMessages_CL console;
  const CommandLine_CL commandLine(arguments_);
  source_ = WithoutTrailingSeparators(commandLine.FirstPlain());
  output_ = WithoutTrailingSeparators(commandLine.OptionValue("o"));
  (void)ParseOptions(arguments_, options_);

  // Pages written into the input folder would be read as documents by the next run, and an
  // input inside the output would be overwritten by its own pages.
  const auto overlapping = [&] {
    const std::string outputReal = platform::RealPath(output_);
    return Overlap(platform::FullPath(source_), platform::FullPath(output_)) ||
           (!outputReal.empty() && Overlap(platform::RealPath(source_), outputReal));
  };
  if (overlapping()) {
    console.Message("Input Folder and Output Folder may not contain each other",
                    MessageStream::Output);
    return 255;
  }
  if (!platform::MakeFolders(output_)) {
    console.Message("Open Err OutputFolder", MessageStream::Output);
    return 255;
  }
  // Made now, the output folder's real path may turn out to lie in the input folder.
  if (overlapping()) {
    console.Message("Input Folder and Output Folder may not contain each other",
                    MessageStream::Output);
    return 255;
  }

  pageArguments_ = OtherArguments();
  if (commandLine.OptionValue("root").empty())
    pageArguments_.insert(pageArguments_.begin(), {"-root", output_});
  // What decides the pages besides their files: the folder the paths are relative to and
  // the arguments every page gets.
  optionsText_ = platform::FullPath(".") + '\n' + source_ + '\n' + output_;
  for (const std::string& a : pageArguments_)
    optionsText_.append(1, '\n').append(a);

  Walk();
  for (const std::string& folder : walkErrors_)
    console.Message(folder + ": Open Err Folder", MessageStream::Error);

  const std::string statePath = Join(output_, std::string(kSiteStateName));
  std::string stateText;
  std::optional<SiteState> state;
  if (platform::ReadWholeFile(statePath, false, &stateText))
    state = ParseSiteState(stateText);
  previous_.assign(documents_.size(), std::nullopt);
  records_.assign(documents_.size(), std::nullopt);
  if (state && state->options == optionsText_) {
    std::unordered_map<std::string, SitePage*> byDocument;
    for (SitePage& page : state->pages)
      byDocument[page.document] = &page;
    for (std::size_t i = 0; i < documents_.size(); ++i) {
      if (const auto found = byDocument.find(documents_[i]); found != byDocument.end())
        previous_[i] = std::move(*found->second);
    }
  }

  total_ = documents_.size() + files_.size();
  showProgress_ = platform::StandardErrorIsTerminal();
  int jobs =
      options_.jobs > 0 ? options_.jobs : static_cast<int>(std::thread::hardware_concurrency());
  jobs = std::clamp(jobs, 1, kMaxJobs);
  jobs = static_cast<int>(
      std::min<std::size_t>(static_cast<std::size_t>(jobs), std::max<std::size_t>(total_, 1)));
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (;;) {
      const std::size_t task = next.fetch_add(1);
      if (task >= total_)
        return;
      if (task < documents_.size()) {
        ConvertPage(task);
      } else {
        CopyFile(task - documents_.size());
      }
    }
  };
  std::vector<std::thread> workers;
  for (int i = 1; i < jobs; ++i) {
    // A thread the system will not give is work the others take over.
    try {
      workers.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    }
  }
  work();
  for (std::thread& worker : workers)
    worker.join();

  SiteState now{optionsText_, {}};
  for (std::optional<SitePage>& record : records_) {
    if (!record)
      continue;
    for (const SiteInput& input : record->inputs)
      inputsUsed_.push_back(input.path);
    now.pages.push_back(std::move(*record));
  }
  bool stateWritten = true;
  const std::string nowText = FormatSiteState(now);
  if (nowText != stateText)
    stateWritten = platform::WriteFileAtomically(statePath, nowText);

  ClearProgress();
  if (!stateWritten)
    console.Message(statePath + ": Write Err StateFile", MessageStream::Error);
  const std::size_t failed = failed_ + walkErrors_.size() + (stateWritten ? 0 : 1);
  console.Message(std::to_string(converted_) + " pages converted, " + std::to_string(upToDate_) +
                      " up to date, " + std::to_string(copied_) + " files copied, " +
                      std::to_string(failed) + " failed in " +
                      Seconds(std::chrono::steady_clock::now() - start) + " s",
                  MessageStream::Error);
  return failed > 0 ? 1 : 0;
}

}  // namespace tarvix
