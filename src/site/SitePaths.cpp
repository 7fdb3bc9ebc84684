// The paths of a site run, shared by its walk, its state and its workers: pure functions of
// their arguments and of what the system says of existing folders.
#include "site/SitePaths.h"

#include <algorithm>

#include "platform/Below.h"
#include "platform/Platform.h"
#include "text/Text.h"

namespace tarvix {
namespace {

constexpr std::string_view kDocumentExtension = ".md";
constexpr std::string_view kPageExtension = ".html";

}  // namespace

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty())
    return name;
  if (name.empty())
    return folder;
  return folder + platform::kPathSeparator + name;
}

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == platform::kPathSeparator)
    path.pop_back();
  return path;
}

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

std::string Resolved(const std::string& path, bool resolveLast) {
  const char separator = platform::kPathSeparator;
  const std::string full = WithoutTrailingSeparators(platform::FullPath(path));
  if (full.empty())
    return full;
  std::string head = full;
  std::string tail;  // what is not resolved, each name after a separator
  const auto cut = [&] {
    const std::size_t at = head.rfind(separator);
    if (at == std::string::npos || head.find(separator) == at)
      return false;  // only the root is left
    tail.insert(0, head, at);
    head.resize(at);
    return true;
  };
  if (!resolveLast && !cut())
    return full;
  for (;;) {
    const std::string real = WithoutTrailingSeparators(platform::RealPath(head));
    if (!real.empty())
      return real.back() == separator && !tail.empty() ? real + tail.substr(1) : real + tail;
    if (!cut())
      return full;
  }
}

bool IsDocument(const std::string& name) {
  return EqualsIgnoreCase(ExtensionOf(name, false), kDocumentExtension);
}

std::string PageOf(const std::string& document) {
  return WithoutExtension(document) + std::string(kPageExtension);
}

bool IsWalkPath(std::string_view path) {
  if (path.empty())
    return false;
  std::size_t from = 0;
  for (;;) {
    std::size_t end = path.find(platform::kPathSeparator, from);
    if (end == std::string_view::npos)
      end = path.size();
    const std::string_view name = path.substr(from, end - from);
    if (!platform::IsPlainName(name) || name[0] == '.')
      return false;
    if (end == path.size())
      return true;
    from = end + 1;
  }
}

bool TargetFits(const std::string& document, const std::string& target) {
  if (!IsWalkPath(target) || IsDocument(target))
    return false;
  if (target == PageOf(document))
    return true;
  const std::string stem = WithoutExtension(document);
  return target.size() >= stem.size() && target.compare(0, stem.size(), stem) == 0 &&
         target.find(platform::kPathSeparator, stem.size()) == std::string::npos &&
         target.find('/', stem.size()) == std::string::npos;
}

std::string FolderPart(const std::string& relative) {
  const std::size_t at = relative.rfind(platform::kPathSeparator);
  return at == std::string::npos ? std::string() : relative.substr(0, at);
}

bool IsWithin(const std::string& folder, const std::string& relative) {
  return folder.empty() || relative == folder ||
         (relative.size() > folder.size() && relative.compare(0, folder.size(), folder) == 0 &&
          relative[folder.size()] == platform::kPathSeparator);
}

void AddFoldersOf(const std::string& path, std::vector<std::string_view>* folders) {
  // The folders of the path before come last: those this path shares with it are there.
  // Below the last folder added, all of them are: its own folders came with it.
  std::size_t from = 0;
  if (!folders->empty()) {
    const std::string_view last = folders->back();
    if (path.size() > last.size() && path[last.size()] == platform::kPathSeparator &&
        path.compare(0, last.size(), last) == 0)
      from = last.size() + 1;
  }
  for (std::size_t at = path.find(platform::kPathSeparator, from); at != std::string::npos;
       at = path.find(platform::kPathSeparator, at + 1)) {
    const std::string_view folder = std::string_view(path).substr(0, at);
    if (std::find(folders->end() - std::min<std::ptrdiff_t>(folders->size(), 8), folders->end(),
                  folder) == folders->end())
      folders->emplace_back(folder);
  }
}

}  // namespace tarvix
