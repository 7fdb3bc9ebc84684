// The preview's loop: the first site run, the server, and the watch that starts each
// rerun. Reruns happen on this thread one after another, never two at once; a change made
// during one is still pending when it ends, and starts the next.
#include "serve/Preview_CL.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "core/CommandLine_CL.h"
#include "platform/Platform.h"
#include "platform/Watch.h"
#include "serve/HttpServer_CL.h"
#include "serve/Reload.h"
#include "site/Site_CL.h"
#include "text/Text.h"

namespace tarvix {
namespace {

constexpr std::string_view kServeOption = "serve";
constexpr std::string_view kPortOption = "port";
constexpr std::string_view kBindOption = "bind";
// More Host names the preview answers to (repeatable), beyond localhost and its addresses.
constexpr std::string_view kHostOption = "host";
constexpr std::uint16_t kDefaultPort = 8000;
constexpr std::string_view kDefaultAddress = "127.0.0.1";
constexpr std::string_view kTemporaryPrefix = "tarvix-preview-";
// How long a wait for news lasts before the stop flag is looked at again.
constexpr int kWaitMilliseconds = 100;
// An editor saves in several writes (a temporary file, a rename, the times): changes that
// come this close together are one change.
constexpr int kSettleMilliseconds = 10;
// Where the system cannot watch, the files are compared this often.
constexpr auto kPollInterval = std::chrono::seconds(1);
// The temporary output folder is removed to this depth; the site run writes none deeper.
constexpr std::size_t kMaxRemoveDepth = 80;

// The arguments of the site run: the preview's own options left out, and `-o` added when
// the preview writes into a folder of its own.
std::vector<std::string> SiteArguments(const std::vector<std::string>& arguments,
                                       const std::string& temporaryOutput) {
  std::vector<std::string> site;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const OptionRow* row = FindOptionRow(arguments[i]);
    const std::size_t taken = row != nullptr && row->takesValue && i + 1 < arguments.size() ? 2 : 1;
    if (row == nullptr || (row->products & kSiteRun) != 0)
      site.insert(site.end(), arguments.begin() + i, arguments.begin() + i + taken);
    i += taken - 1;
  }
  if (!temporaryOutput.empty()) {
    site.push_back("-o");
    site.push_back(temporaryOutput);
  }
  return site;
}

// Removes the folder `path` with everything below it; links are removed, never followed.
void RemoveTree(const std::string& path, std::size_t depth) {
  std::vector<platform::FolderEntry> entries;
  if (depth < kMaxRemoveDepth && platform::ListFolder(path, &entries)) {
    for (const platform::FolderEntry& entry : entries) {
      const std::string inner = path + platform::kPathSeparator + entry.name;
      if (entry.kind == platform::EntryKind::Folder && !entry.link) {
        RemoveTree(inner, depth + 1);
      } else {
        (void)platform::RemoveFile(inner);
      }
    }
  }
  (void)platform::RemoveEmptyFolder(path);
}

// What the poll compares: every file below the input folder (but for the output folder,
// when it lies there) and every file the pages used.
using SourceState = std::map<std::string, platform::FileStamp>;
SourceState ReadSourceState(const std::string& source, const std::string& output,
                            const std::vector<std::string>& inputs) {
  SourceState state;
  for (const auto& [path, stamp] : serve::TakeSnapshot(source, output))
    state["\x01" + path] = stamp;
  for (const std::string& input : inputs)
    state[input] = platform::StampOf(input);
  return state;
}

// The folders a watch covers: the input folder with everything below it, and the folder
// of each file the pages used that lies elsewhere (a file is watched through its folder,
// as editors replace a file by renaming a new one onto it).
std::vector<platform::WatchedFolder> WatchedFolders(const std::string& source,
                                                    const std::string& output,
                                                    const std::vector<std::string>& inputs) {
  std::vector<platform::WatchedFolder> folders{{source, true, output}};
  const std::string sourceFull = platform::FullPath(source + platform::kPathSeparator);
  std::map<std::string, bool> seen;
  for (const std::string& input : inputs) {
    const std::string full = platform::FullPath(input);
    if (full.empty() || full.compare(0, sourceFull.size(), sourceFull) == 0)
      continue;
    std::string folder = FolderOf(full);
    while (folder.size() > 1 && folder.back() == platform::kPathSeparator)
      folder.pop_back();
    if (!folder.empty() && platform::IsFolder(folder) && !seen[folder]) {
      seen[folder] = true;
      folders.push_back({folder, false, {}});
    }
  }
  return folders;
}

// `written` (a path for each time the run wrote or removed it) without the pages told as
// they were written, as often as they were told: a page written again after it was told
// (its navigation) is told again.
std::vector<std::string> WithoutTold(std::vector<std::string> written,
                                     std::vector<std::string> told) {
  if (told.empty())
    return written;
  std::sort(written.begin(), written.end());
  std::sort(told.begin(), told.end());
  std::vector<std::string> left;
  auto tells = told.begin();
  for (std::size_t i = 0; i < written.size();) {
    std::size_t end = i + 1;
    while (end < written.size() && written[end] == written[i])
      ++end;
    while (tells != told.end() && *tells < written[i])
      ++tells;
    std::size_t toldTimes = 0;
    for (; tells != told.end() && *tells == written[i]; ++tells)
      ++toldTimes;
    if (end - i > toldTimes)
      left.push_back(std::move(written[i]));
    i = end;
  }
  return left;
}

std::string AddressText(const std::string& address, std::uint16_t port) {
  const bool v6 = address.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port) + "/";
}

}  // namespace

bool IsPreviewRun(const std::vector<std::string>& arguments) {
  const CommandLine_CL commandLine(arguments);
  return commandLine.HasOption(kServeOption) && !commandLine.HasOption("?");
}

int RunPreview(const std::vector<std::string>& arguments) {
  const CommandLine_CL commandLine(arguments);
  const std::string source = commandLine.FirstPlain();
  platform::FileStatus status;
  std::string why;
  if (!platform::StatusOf(source, &status, &why) || status.kind != platform::FileKind::Folder) {
    platform::PrintMessage("Open Err InputFolder");
    if (why.empty())
      why = "Not a directory";
    if (!source.empty())
      platform::PrintMessage(std::string(kProgramName) + ": " + source + ": " + why);
    return 255;
  }
  std::uint16_t port = kDefaultPort;
  if (commandLine.HasOption(kPortOption)) {
    const std::string text = commandLine.OptionValue(kPortOption);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
      platform::PrintMessage("Open Err Port");
      platform::PrintMessage(std::string(kProgramName) + ": " + text + ": not a port number");
      return 255;
    }
  }
  std::string address = commandLine.OptionValue(kBindOption);
  if (address.empty())
    address = std::string(kDefaultAddress);

  // Bound before anything is converted: a port in use ends the run at once.
  std::string output = commandLine.OptionValue("o");
  std::string temporary;
  std::string reason;
  if (output.empty()) {
    if (!platform::CreateTemporaryFolder(std::string(kTemporaryPrefix), &temporary)) {
      platform::PrintMessage("Open Err TemporaryFolder");
      return 255;
    }
    output = temporary;
  }
  while (output.size() > 1 && output.back() == platform::kPathSeparator)
    output.pop_back();
  serve::HttpServer_CL server(output);
  std::vector<std::string> hosts;
  for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (IsOptionNamed(arguments[i], kHostOption))
      hosts.push_back(arguments[i + 1]);
  }
  server.AllowHosts(hosts);
  if (!server.Listen(address, port, &reason)) {
    platform::PrintMessage("Open Err Port");
    platform::PrintMessage(std::string(kProgramName) + ": " + address + ":" + std::to_string(port) +
                           ": " + reason);
    if (!temporary.empty())
      RemoveTree(temporary, 0);
    return 255;
  }
  platform::StopOnSignals();

  const std::vector<std::string> siteArguments = SiteArguments(arguments, temporary);
  std::vector<std::string> inputs;
  std::vector<std::string> written;      // the outputs the last rerun wrote or removed
  std::vector<std::string> brokenLinks;  // the lines of the last rerun's broken links
  bool serving = false;
  std::mutex toldMutex;
  std::vector<std::string> told;  // the pages the last rerun told as it wrote them
  // The state the last rerun left, which the next takes rather than reading it again.
  std::optional<Site_CL::KeptState> kept;
  const auto rerun = [&] {
    Site_CL site(siteArguments);
    site.SayLinksAsChanges(&brokenLinks);
    if (kept)
      site.TakeKeptState(std::move(*std::exchange(kept, std::nullopt)));
    told.clear();
    // An open page is reloaded as soon as its new page has its name: what the run does
    // after that (the other pages' looks, the link check, the state) is no wait for it.
    if (serving) {
      site.TellPagesWritten([&](const std::string& page) {
        server.Reload(serve::UrlPathsOf({page}));
        const std::lock_guard<std::mutex> lock(toldMutex);
        told.push_back(page);
      });
    }
    const int status = site.Run();
    inputs = site.InputsUsed();
    written = site.OutputsChanged();
    kept = site.KeepState();
    return status;
  };
  // The input's stamps before the first run: an edit made while it worked, or before the
  // watch below began, is in no news of the watch, and these tell it.
  const SourceState beforeFirst = ReadSourceState(source, output, {});
  // A first run that could not start (the folders contain each other, no output folder)
  // leaves nothing worth serving: the preview ends as the site run would.
  if (rerun() == 255) {
    if (!temporary.empty())
      RemoveTree(temporary, 0);
    return 255;
  }
  server.Start();
  serving = true;
  platform::PrintMessage("Serving " + output + " at " + AddressText(address, server.Port()));

  platform::FolderWatch watch;
  bool polling = !watch.Start(WatchedFolders(source, output, inputs));
  // Polling compares with the stamps from before the first run, so that it too sees what
  // changed while that run worked.
  SourceState polled;
  if (polling) {
    polled = beforeFirst;
    for (const std::string& input : inputs)
      polled[input] = platform::StampOf(input);
  }
  bool missed = !polling && ReadSourceState(source, output, {}) != beforeFirst;
  auto nextPoll = std::chrono::steady_clock::now() + kPollInterval;
  while (!platform::StopRequested()) {
    bool changed = std::exchange(missed, false);
    if (!polling) {
      const platform::WatchWait news =
          changed ? platform::WatchWait::Changed : watch.Wait(kWaitMilliseconds);
      if (news == platform::WatchWait::Failed) {
        polling = true;
        polled = ReadSourceState(source, output, inputs);
        continue;
      }
      changed = news == platform::WatchWait::Changed;
      // The news of one edit come in several events: the rerun waits until they stop (and
      // takes the news of an edit that came before the watch with it).
      while (changed && watch.Wait(kSettleMilliseconds) == platform::WatchWait::Changed) {
      }
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(kWaitMilliseconds));
      if (std::chrono::steady_clock::now() < nextPoll)
        continue;
      nextPoll = std::chrono::steady_clock::now() + kPollInterval;
      SourceState now = ReadSourceState(source, output, inputs);
      changed = now != polled;
      polled = std::move(now);
    }
    if (!changed)
      continue;
    (void)rerun();
    // The run knows what it wrote and removed: no look over the whole output folder
    // stands between an edit and the pages' reload. A page told as it was written is not
    // told again, unless the run wrote it once more after that (its navigation).
    const std::vector<std::string> paths = serve::UrlPathsOf(WithoutTold(std::move(written), told));
    if (!paths.empty())
      server.Reload(paths);
    // New folders below the input and new templates or include files are watched too.
    if (!polling && !watch.Start(WatchedFolders(source, output, inputs))) {
      polling = true;
      polled = ReadSourceState(source, output, inputs);
    } else if (polling) {
      polled = ReadSourceState(source, output, inputs);
    }
  }
  server.Stop();
  if (!temporary.empty())
    RemoveTree(temporary, 0);
  return 0;
}

}  // namespace tarvix
