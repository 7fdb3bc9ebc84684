// The site run's navigation and highlighter folder: the hooks Site_CL calls around its pages
// and copies, kept here beside the run rather than inside it. Owns the navigation and the
// highlighter's files; marks the documents made now and the highlighter files not copied.
#include <algorithm>
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>

#include "core/CommandLine_CL.h"
#include "core/Parser_CL.h"
#include "site/Site_CL.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// The folder part of a path below the output folder ("" for a name at its top).
std::string FolderOfRelative(const std::string& relative) {
  const std::size_t at = relative.rfind(platform::kPathSeparator);
  return at == std::string::npos ? std::string() : relative.substr(0, at);
}

// The brushes' scripts the pages of a folder load ("shBrushCpp.js"); kEveryBrush stands for
// all of them, for a record that did not say which.
using BrushScripts = std::set<std::string, std::less<>>;
constexpr std::string_view kEveryBrush = "*";

// The folder part of `relative`, as a view of it.
std::string_view FolderViewOf(std::string_view relative) {
  const std::size_t at = relative.rfind(platform::kPathSeparator);
  return relative.substr(0, at == std::string_view::npos ? 0 : at);
}

// The scripts of `folder` in `byFolder`, made when missing; the pages of a folder mostly
// come one after another, so the folder before is asked first.
BrushScripts& ScriptsOf(std::map<std::string, BrushScripts, std::less<>>& byFolder,
                        std::string_view folder, BrushScripts*& last,
                        std::string_view& lastFolder) {
  if (last == nullptr || folder != lastFolder) {
    auto at = byFolder.find(folder);
    if (at == byFolder.end())
      at = byFolder.emplace(std::string(folder), BrushScripts()).first;
    last = &at->second;
    lastFolder = at->first;
  }
  return *last;
}

// Adds what the page of `record` loads to its folder's scripts.
void AddLoaded(const SitePage& record, BrushScripts* scripts) {
  if (record.brushScripts.empty())
    scripts->emplace(kEveryBrush);
  scripts->insert(record.brushScripts.begin(), record.brushScripts.end());
}

// Whether a folder whose pages load `scripts` needs the highlighter's file at `path`: the
// core and the colours serve every page with a brush, a brush's script only its own.
bool Loads(const BrushScripts& scripts, std::string_view path) {
  return !IsBrushScript(path) || scripts.count(kEveryBrush) != 0 ||
         scripts.count(path.substr(path.rfind('/') + 1)) != 0;
}

// The highlighter's files a folder whose pages load `scripts` needs (as Loads tells), in
// their order. A site has thousands of such folders and each loads a few brushes: the
// files are found from the folder's scripts, not by asking of every file.
class LoadedFiles {
 public:
  explicit LoadedFiles(const std::vector<HighlighterFile>& files) : count_(files.size()) {
    for (std::size_t k = 0; k < files.size(); ++k) {
      const std::string_view path = files[k].path;
      if (IsBrushScript(path))
        byScript_.emplace(path.substr(path.rfind('/') + 1), k);
      else
        always_.push_back(k);
    }
  }

  // The files `scripts` needs, by their places; valid until the next call.
  const std::vector<std::size_t>& Of(const BrushScripts& scripts) {
    loaded_.clear();
    if (scripts.count(kEveryBrush) != 0) {
      for (std::size_t k = 0; k < count_; ++k)
        loaded_.push_back(k);
      return loaded_;
    }
    loaded_ = always_;
    for (const std::string& script : scripts) {
      const auto [first, last] = byScript_.equal_range(script);
      for (auto at = first; at != last; ++at)
        loaded_.push_back(at->second);
    }
    std::sort(loaded_.begin(), loaded_.end());
    return loaded_;
  }

 private:
  std::size_t count_;
  std::vector<std::size_t> always_;  // the core and the colours
  std::multimap<std::string_view, std::size_t, std::less<>> byScript_;
  std::vector<std::size_t> loaded_;
};

}  // namespace

void Site_CL::BeginNavigation() {
  std::vector<std::string> documents;
  std::vector<std::string> targets;
  std::vector<std::optional<Navigation_CL::Known>> known(documents_.size());
  documents.reserve(documents_.size());
  targets.reserve(documents_.size());
  for (std::size_t i = 0; i < documents_.size(); ++i) {
    const SiteDocument& document = documents_[i];
    documents.push_back(source_.empty() ? document.path
                                        : source_ + platform::kPathSeparator + document.path);
    targets.push_back(document.target);
    // The document is the first input of its record.
    const std::optional<SitePage>& previous = document.previous;
    if (previous && !previous->inputs.empty())
      known[i] = Navigation_CL::Known{previous->inputs.front().stamp, previous->title};
  }
  navigation_.Begin(std::move(documents), std::move(targets), std::move(known));
}

void Site_CL::PreparePage(Parser_CL& parser, std::size_t index, PageFacts* facts) {
  ParserSettings settings = parser.Settings();
  settings.pageTitle = &facts->title;
  settings.navigation = [this, index, facts] {
    facts->navigation = navigation_.Sum();
    facts->navigationHtml = navigation_.Html(index);
    return facts->navigationHtml;
  };
  parser.UseSettings(std::move(settings));
}

PageLinks Site_CL::ScanOwnLinks(std::string_view page, const PageFacts& facts,
                                std::size_t index) const {
  if (facts.navigation.empty())
    return ScanPage(page);
  // The lists stand in the page as they were made: cut out, the rest reads as it did. A
  // page whose later placeholders changed them is scanned whole.
  std::string rest;
  const std::string& lists = facts.navigationHtml;
  if (const std::size_t at = lists.empty() ? std::string_view::npos : page.find(lists);
      at != std::string_view::npos) {
    rest.reserve(page.size() - lists.size());
    rest.append(page.substr(0, at)).append(page.substr(at + lists.size()));
    page = rest;
  }
  PageLinks links = ScanPage(page);
  // A link of the document's own that the navigation holds too is checked with it.
  std::erase_if(links.links,
                [&](const std::string& link) { return navigation_.HoldsLink(index, link); });
  return links;
}

std::vector<BrokenLink> Site_CL::CheckNavigationLinks(const std::vector<LinkPage>& pages,
                                                      const std::vector<const SitePage*>& recordOf,
                                                      const PathKindFn& kindOf) const {
  std::vector<BrokenLink> broken;
  const bool held = std::any_of(recordOf.begin(), recordOf.end(),
                                [](const SitePage* r) { return !r->navigation.empty(); });
  if (!held)
    return broken;
  // The lists as a page at the top holds them, checked as any page's links are.
  PageLinks lists;
  for (const NavPage& listed : navigation_.Pages())
    lists.links.push_back(NavigationHref("", listed.target));
  std::vector<std::string> missing;
  for (BrokenLink& link : CheckSiteLinks({{"", "", &lists}}, kindOf))
    missing.push_back(std::move(link.target));
  for (std::size_t i = 0; i < pages.size() && !missing.empty(); ++i) {
    if (recordOf[i]->navigation.empty())
      continue;
    for (const std::string& address : missing)
      broken.push_back({i, NavigationHref(pages[i].path, "") + address, LinkProblem::NoSuchFile});
  }
  return broken;
}

void Site_CL::DescribePage(const Parser_CL& parser, const PageFacts& facts, std::size_t index,
                           SitePage* record) {
  record->title = facts.title;
  record->navigation = facts.navigation;
  const std::vector<Brush>& brushes = parser.highLight.brushes();
  for (const Brush& brush : brushes) {
    if (brush.used != 0)
      record->brushScripts.push_back(brush.scriptFile);
  }
  record->brushes = !record->brushScripts.empty();
  documents_[index].madeNow = true;
}

void Site_CL::RedoNavigation(int jobs) {
  std::vector<std::optional<std::string>> titles(documents_.size());
  bool held = false;
  for (std::size_t i = 0; i < documents_.size(); ++i) {
    const std::optional<SitePage>& record = documents_[i].record;
    if (!record)
      continue;
    titles[i] = record->title;
    held = held || !record->navigation.empty();
  }
  // A site whose pages hold no navigation never looks at its titles.
  if (!held)
    return;
  (void)navigation_.Settle(titles);
  const std::string sum = navigation_.Sum();
  std::vector<std::size_t> redo;
  {
    const std::lock_guard<std::mutex> lock(recordsMutex_);
    for (std::size_t i = 0; i < documents_.size(); ++i) {
      SiteDocument& document = documents_[i];
      std::optional<SitePage>& record = document.record;
      if (!record || record->navigation.empty() || record->navigation == sum)
        continue;
      redo.push_back(i);
      // Counted once, as what the second conversion makes of it.
      --(document.madeNow ? converted_ : upToDate_);
      document.previous = std::move(record);
      record.reset();
      document.processed = false;
    }
  }
  if (redo.empty())
    return;
  RunPool(redo.size(), jobs, false, [&](std::size_t task) { ConvertPage(redo[task]); });
}

bool Site_CL::InputHasHighlighter(const std::string& folder) const {
  // Most inputs have none: no name is made to look for it.
  if (inputHighlighters_.empty())
    return false;
  const std::string below =
      folder.empty() ? std::string(kHighlighterFolder)
                     : folder + platform::kPathSeparator + std::string(kHighlighterFolder);
  return inputHighlighters_.count(below) != 0;
}

void Site_CL::AddHighlighterFile(const std::string& folder, std::size_t k) {
  // A large site's folders have thousands of these: each path made in one piece.
  const std::string& inside = highlighter_[k].path;
  SiteFile& file = files_.emplace_back();
  std::string& path = file.path;
  path.reserve(folder.size() + kHighlighterFolder.size() + inside.size() + 2);
  if (!folder.empty())
    path.append(folder).push_back(platform::kPathSeparator);
  path.append(kHighlighterFolder).push_back(platform::kPathSeparator);
  for (const char c : inside)
    path.push_back(c == '/' ? platform::kPathSeparator : c);
  file.highlighter = k;
}

void Site_CL::AddHighlighter(const std::vector<SitePage>* previous) {
  if (highlighterAdded_)
    return;
  highlighterAdded_ = true;
  const CommandLine_CL commandLine(arguments_);
  if (options_.noHighlighter || commandLine.HasOption("syntax") || commandLine.HasOption("root"))
    return;
  // A page names the folder from its own folder, so each folder that holds a page gets one
  // of its own, unless the input has one there, which is copied like any other file.
  highlighter_ = HighlighterFiles();
  if (highlighter_.empty())
    return;
  // The input's own entries of that name, as the walk found them: a folder, a file, or a
  // folder it could not read.
  const auto named = [](const std::string& relative) {
    const std::size_t at = relative.rfind(platform::kPathSeparator);
    return std::string_view(relative).substr(at == std::string::npos ? 0 : at + 1) ==
           kHighlighterFolder;
  };
  for (const std::string& folder : folders_) {
    if (named(folder))
      inputHighlighters_.insert(folder);
  }
  for (const SiteFile& file : files_) {
    if (named(file.path))
      inputHighlighters_.insert(file.path);
  }
  for (const WalkError& error : walkErrors_) {
    if (named(error.relative))
      inputHighlighters_.insert(error.relative);
  }
  // For each folder, what its recorded pages load; without records, everything.
  std::map<std::string, BrushScripts, std::less<>> wanted;
  BrushScripts* last = nullptr;
  std::string_view lastFolder;
  if (previous == nullptr) {
    for (const SiteDocument& document : documents_)
      ScriptsOf(wanted, FolderViewOf(document.target), last, lastFolder).emplace(kEveryBrush);
  } else {
    std::unordered_map<std::string_view, const SitePage*> byDocument;
    byDocument.reserve(previous->size());
    for (const SitePage& page : *previous)
      byDocument.emplace(page.document, &page);
    for (const SiteDocument& document : documents_) {
      const auto found = byDocument.find(document.path);
      if (found != byDocument.end() && found->second->brushes)
        AddLoaded(*found->second,
                  &ScriptsOf(wanted, FolderViewOf(document.target), last, lastFolder));
    }
  }
  LoadedFiles loaded(highlighter_);
  for (const auto& [folder, scripts] : wanted) {
    if (InputHasHighlighter(folder))
      continue;
    for (const std::size_t k : loaded.Of(scripts))
      AddHighlighterFile(folder, k);
  }
}

void Site_CL::SettleHighlighter() {
  if (highlighter_.empty())
    return;
  // The folders whose pages use a brush, and the brushes' scripts they load.
  std::map<std::string, BrushScripts, std::less<>> used;
  BrushScripts* last = nullptr;
  std::string_view lastFolder;
  for (const SiteDocument& document : documents_) {
    const std::optional<SitePage>& record = document.record;
    if (record && record->brushes)
      AddLoaded(*record, &ScriptsOf(used, FolderViewOf(record->target), last, lastFolder));
  }
  const std::lock_guard<std::mutex> lock(recordsMutex_);
  // What each folder has of the highlighter already, by its place in highlighter_. A
  // folder's files come one after another, so each folder is looked up once.
  std::map<std::string, std::vector<bool>, std::less<>> added;
  std::vector<bool>* has = nullptr;
  const BrushScripts* scripts = nullptr;
  std::string_view hasFolder;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (files_[i].highlighter == SiteFile::kNoHighlighter)
      continue;
    const std::string_view pageFolder = PageFolderOf(i);
    if (has == nullptr || pageFolder != hasFolder) {
      auto at = added.find(pageFolder);
      if (at == added.end())
        at = added.emplace(std::string(pageFolder), std::vector<bool>()).first;
      has = &at->second;
      hasFolder = at->first;
      has->resize(highlighter_.size());
      const auto folder = used.find(pageFolder);
      scripts = folder != used.end() ? &folder->second : nullptr;
    }
    (*has)[files_[i].highlighter] = true;
    if (scripts != nullptr && Loads(*scripts, highlighter_[files_[i].highlighter].path))
      continue;
    files_[i].notCopied = true;
    CopyIsStale(files_[i]);
  }
  // A page made now may load what its folder's earlier pages did not.
  const std::size_t before = files_.size();
  LoadedFiles loaded(highlighter_);
  for (const auto& [folder, scripts] : used) {
    const auto has = added.find(folder);
    if (has == added.end() && InputHasHighlighter(folder))
      continue;
    for (const std::size_t k : loaded.Of(scripts)) {
      if (has == added.end() || !has->second[k])
        AddHighlighterFile(folder, k);
    }
  }
  console_.AddTasks(files_.size() - before);
}

std::string_view Site_CL::PageFolderOf(std::size_t index) const {
  // FOLDER/SyntaxHighlighter/PATH: the file's path within the highlighter has as many names
  // as its entry in highlighter_.
  const HighlighterFile& file = highlighter_[files_[index].highlighter];
  std::string_view folder = files_[index].path;
  for (std::size_t names = std::count(file.path.begin(), file.path.end(), '/') + 2; names > 0;
       --names) {
    const std::size_t at = folder.rfind(platform::kPathSeparator);
    folder = folder.substr(0, at == std::string_view::npos ? 0 : at);
  }
  return folder;
}

void Site_CL::WriteHighlighterFile(std::size_t index) {
  const std::string& relative = files_[index].path;
  const std::string& bytes = highlighter_[files_[index].highlighter].bytes;
  CollectedMessages_CL messages;
  platform::FileIdentity copy;
  // The very file this program wrote, unchanged, is known in one look.
  const auto known = previousCopies_.find(relative);
  if (known != previousCopies_.end() && !options_.force && previousProgramSame_ &&
      known->second.get().stamp.size == bytes.size() &&
      out_.IsStill(relative, IdentityOf(known->second))) {
    RecordCopy(index, IdentityOf(known->second));
    console_.Done();
    return;
  }
  const platform::BelowKind found = out_.Look(relative, &copy);
  bool made = found != platform::BelowKind::kLink;
  // The file the previous run wrote, holding these bytes still, stays.
  bool same = false;
  if (made && !options_.force && found == platform::BelowKind::kFile) {
    std::string text;
    // Written by this very program it holds these bytes while it is the file written;
    // after another program, the bytes decide.
    same = known != previousCopies_.end() && IdentityOf(known->second) == copy &&
           copy.stamp.size == bytes.size() &&
           (previousProgramSame_ ||
            (out_.Read(relative, bytes.size() + 1, &text) == platform::ReadResult::kRead &&
             text == bytes));
  }
  if (!made) {
    SayLink(relative, "not written");
    ++failed_;
  } else if (!same) {
    BeginWork();
    const platform::BelowResult folder = out_.MakeFolders(FolderOfRelative(relative));
    if (folder == platform::BelowResult::kLink) {
      SayLink(relative, "not written");
      ++failed_;
      made = false;
    } else if (folder != platform::BelowResult::kDone ||
               !WriteBelow(relative, bytes, nullptr, &copy, messages)) {
      ++failed_;
      made = false;
    } else {
      ++copied_;
      NoteOutputChanged(relative);
    }
  }
  RecordCopy(index, made ? std::optional(copy) : std::nullopt);
  console_.Report(output_ + platform::kPathSeparator + relative, messages);
}

}  // namespace tarvix
