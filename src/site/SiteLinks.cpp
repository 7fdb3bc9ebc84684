// The site run's link check, driven from the records: which pages and files the check
// knows, a template's broken link said once for all the pages made with it, and the lines
// said as changes for the preview. Owns the documents' links; reads the records.
#include <algorithm>
#include <map>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "platform/Platform.h"
#include "site/SitePaths.h"
#include "site/Site_CL.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// Before a broken link of the run before that is broken no more.
constexpr std::string_view kFixed = "fixed: ";

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

}  // namespace

std::size_t Site_CL::CheckLinks() {
  // The records of the pages not made now, read back on every core: on an unchanged rerun
  // they are most of the check's work.
  RunPool(documents_.size(), JobCount(), false, [this](std::size_t i) {
    const std::optional<SitePage>& record = documents_[i].record;
    if (record && !documents_[i].links)
      documents_[i].links = ParsePageLinks(record->links);
  });
  std::vector<LinkPage> pages;
  pages.reserve(documents_.size());
  std::vector<const SitePage*> recordOf;  // by page of the check
  recordOf.reserve(documents_.size());
  std::vector<std::size_t> documentOf;  // by page of the check
  documentOf.reserve(documents_.size());
  // What the run knows of paths below the output, as views of the pages' and files' paths
  // (both lists have their room before the first view is taken).
  std::unordered_map<std::string_view, PathKind> known;
  known.reserve(documents_.size() + files_.size());
  std::vector<std::string> filePaths;
  filePaths.reserve(files_.size());
  for (std::size_t i = 0; i < documents_.size(); ++i) {
    std::optional<SitePage>& record = documents_[i].record;
    if (!record)
      continue;
    std::optional<PageLinks>& links = documents_[i].links;
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
    // The page's name in messages is made once a link of it is found broken.
    pages.push_back({std::string(), ToForwardSlashes(record->target), links ? &*links : nullptr});
    known.emplace(pages.back().path, PathKind::File);
    recordOf.push_back(&*record);
    documentOf.push_back(i);
  }
  for (const SiteFile& file : files_) {
    if (!file.copy || file.notCopied)
      continue;
    // Where the system's separator is '/' the file's own path is the one the check asks.
    if (platform::kPathSeparator == '/')
      known.emplace(file.path, PathKind::File);
    else
      known.emplace(filePaths.emplace_back(ToForwardSlashes(file.path)), PathKind::File);
  }
  // Anything else is asked of the system: files put into the output by hand, and folders.
  // Thousands of links lead to nothing on a large site: each is asked from the output
  // folder held open.
  platform::FolderLooks looks;
  looks.Open(output_);
  const PathKindFn kindOf = [&](std::string_view path) {
    if (const auto found = known.find(path); found != known.end())
      return found->second;
    platform::FileStatus status;
    if (!looks.StatusOf(ToNativeSeparators(path), &status))
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
    std::string& source = pages[link.page].source;
    if (source.empty())
      source = Join(source_, documents_[documentOf[link.page]].path);
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
    std::size_t size = 0;
    for (const std::string& line : out)
      size += line.size() + 1;
    lines.reserve(size);
    for (const std::string& line : out)
      lines.append(line).push_back('\n');
  }
  if (!lines.empty())
    platform::PrintErrorText(lines);
  // The records keep what the next run checks; what was read of them goes before the state
  // is written, which needs as much room again.
  pages.clear();
  for (SiteDocument& document : documents_)
    document.links.reset();
  return broken.size();
}

}  // namespace tarvix
