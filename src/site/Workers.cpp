// The workers: the threads that convert the pages and make the copies, each task ending in
// its document's or file's record and its messages. Owns the counts of what was done; writes
// the records' shared fields under the records lock, the rest of a record as its one writer.
#include <algorithm>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "core/ConvertFile.h"
#include "core/PageSink_CL.h"
#include "core/Parser_CL.h"
#include "platform/Platform.h"
#include "site/SitePaths.h"
#include "site/Site_CL.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// More threads than this would only wait for one another on the disk.
constexpr int kMaxJobs = 256;
constexpr std::string_view kTwoSources = "Two sources for ";
constexpr std::string_view kNotWritten = "not written";

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

}  // namespace

int Site_CL::JobCount() const {
  int jobs =
      options_.jobs > 0 ? options_.jobs : static_cast<int>(std::thread::hardware_concurrency());
  jobs = std::clamp(jobs, 1, kMaxJobs);
  const std::size_t tasks = documents_.size() + files_.size();
  return static_cast<int>(
      std::min<std::size_t>(static_cast<std::size_t>(jobs), std::max<std::size_t>(tasks, 1)));
}

void Site_CL::RunPool(std::size_t count, int jobs, bool writesState,
                      const std::function<void(std::size_t)>& task) {
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    try {
      for (std::size_t at = next.fetch_add(1); at < count; at = next.fetch_add(1)) {
        task(at);
        if (writesState)
          WriteStateWhenDue();
      }
    } catch (const std::bad_alloc&) {
      // The other workers stop at their next task; the run ends as out of memory.
      outOfMemory_ = true;
      next = count;
    }
  };
  jobs = static_cast<int>(
      std::min<std::size_t>(static_cast<std::size_t>(jobs), std::max<std::size_t>(count, 1)));
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

platform::FileStamp Site_CL::InputStamp(const std::string& recorded) const {
  // A file of the input is looked at from the input folder held open: the same file as
  // from the output folder, where the system would climb out of it and down again name by
  // name.
  const std::size_t seen = sourceSeen_.size();
  if (seen != 0 && recorded.size() > seen + 1 && recorded.compare(0, seen, sourceSeen_) == 0 &&
      recorded[seen] == platform::kPathSeparator)
    return in_.StampOf(std::string_view(recorded).substr(seen + 1));
  return platform::StampOf(Join(output_, recorded));
}

bool Site_CL::UpToDate(const SitePage& page) const {
  if (page.inputs.empty() || !page.page.exists ||
      (!page.navigation.empty() && page.navigation != navigation_.Sum()))
    return false;
  // A page emptied or edited behind our back is made again, as a missing one is, and so
  // is one whose name leads through a link now.
  platform::FileIdentity found;
  if (!out_.IsStill(page.target, IdentityOf(page)) &&
      (out_.Look(page.target, &found) != platform::BelowKind::kFile || found.stamp != page.page ||
       (page.inode != 0 && found != IdentityOf(page))))
    return false;
  for (const SiteInput& input : page.inputs) {
    if (InputStamp(input.path) != input.stamp)
      return false;
  }
  return true;
}

void Site_CL::RecordUpToDate(std::size_t index) {
  const std::lock_guard<std::mutex> lock(recordsMutex_);
  SiteDocument& document = documents_[index];
  document.record = std::move(document.previous);
  document.processed = true;
}

void Site_CL::Record(std::size_t index, std::optional<SitePage> record) {
  const std::lock_guard<std::mutex> lock(recordsMutex_);
  documents_[index].record = std::move(record);
  documents_[index].processed = true;
}

void Site_CL::RecordCopy(std::size_t index, const std::optional<platform::FileIdentity>& made) {
  // A copy that failed keeps what the previous run knew of the file in its place.
  const std::lock_guard<std::mutex> lock(recordsMutex_);
  SiteFile& file = files_[index];
  if (made) {
    file.copy = made;
  } else if (const auto known = previousCopies_.find(file.path); known != previousCopies_.end()) {
    file.copy = IdentityOf(known->second);
  }
}

void Site_CL::ConvertPage(std::size_t index) {
  SiteDocument& entry = documents_[index];
  const std::string& relative = entry.path;
  // Most pages of a rerun are up to date: told in a few looks, with nothing to say.
  if (!entry.collides && !options_.force && entry.previous && UpToDate(*entry.previous)) {
    RecordUpToDate(index);
    ++upToDate_;
    console_.Done();
    return;
  }
  const std::string document = Join(source_, relative);
  CollectedMessages_CL messages;
  if (entry.collides) {
    messages.Message(std::string(kTwoSources) + Join(output_, entry.target), MessageStream::Error);
    ++failed_;
    Record(index, std::nullopt);
    console_.Report(document, messages);
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
    console_.Report(document, messages);
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
  if (entry.previous) {
    for (const SiteInput& input : entry.previous->inputs)
      before.emplace(input.path, platform::StampOf(Join(outputReal_, input.path)));
  }
  int status = kStatusNotStarted;
  std::optional<SitePage> record;
  reason.clear();
  const platform::BelowResult folder = out_.MakeFolders(FolderPart(entry.target), &reason);
  // A link in the page's place is seen before the conversion: the single run's checks
  // would follow it.
  if (folder == platform::BelowResult::kLink ||
      (folder == platform::BelowResult::kDone &&
       out_.Look(entry.target) == platform::BelowKind::kLink)) {
    SayLink(entry.target, kNotWritten);
  } else if (folder != platform::BelowResult::kDone) {
    messages.Message("Open Err OutputFolder", MessageStream::Error);
    if (!reason.empty())
      messages.Message(DetailLine(Join(output_, FolderPart(entry.target)), reason),
                       MessageStream::Error);
  } else {
    auto parser = std::make_unique<Parser_CL>();
    PageText_CL page;
    ParserSettings settings;
    settings.messages = &messages;
    settings.pageSink = &page;
    parser->UseSettings(std::move(settings));
    PageFacts facts;
    PreparePage(*parser, index, &facts);
    status = ConvertFile(*parser, arguments);
    // The page's name below the output folder: with -ext, what its own header asked for.
    const std::string target = options_.replaceExt
                                   ? WithoutExtension(PageOf(relative)) + parser->header.output_ext
                                   : PageOf(relative);
    platform::FileIdentity made;
    if (status == kStatusWritten && !WriteBelow(target, page.bytes, nullptr, &made, messages, true))
      status = kStatusNotWritten;
    if (status == kStatusWritten) {
      NotePageWritten(target);
      record = SitePage{relative,   target, made.stamp, {},    {}, made.device,
                        made.inode, {},     {},         false, {}};
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
        entry.links = std::move(links);
      }
    }
  }
  if (status == kStatusWritten) {
    ++converted_;
  } else {
    ++failed_;
  }
  Record(index, std::move(record));
  console_.Report(document, messages);
}

void Site_CL::CopyFile(std::size_t index) {
  const SiteFile& file = files_[index];
  if (file.notCopied) {
    console_.Done();
    return;
  }
  if (file.highlighter != SiteFile::kNoHighlighter) {
    WriteHighlighterFile(index);
    return;
  }
  const std::string& relative = file.path;
  const std::string from = Join(source_, relative);
  CollectedMessages_CL messages;
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
  RecordCopy(index, made ? std::optional(copy) : std::nullopt);
  console_.Report(from, messages);
}

}  // namespace tarvix
