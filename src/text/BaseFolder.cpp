// Whether a document's template or include entry stays inside the base folder.
#include "text/BaseFolder.h"

#include "platform/Platform.h"

namespace tarvix {
namespace {

// A separator of either system: an entry written for the other one must not slip out.
bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

// An entry that starts at a root: a separator first, or a drive letter and its colon.
bool IsAbsoluteEntry(std::string_view entry) {
  return (!entry.empty() && IsSeparator(entry[0])) || (entry.size() >= 2 && entry[1] == ':');
}

// True when no ".." step of `entry` climbs above where it starts.
bool StaysBelow(std::string_view entry) {
  std::size_t depth = 0;
  std::size_t from = 0;
  while (from <= entry.size()) {
    std::size_t end = from;
    while (end < entry.size() && !IsSeparator(entry[end]))
      ++end;
    const std::string_view step = entry.substr(from, end - from);
    if (step == "..") {
      if (depth == 0)
        return false;
      --depth;
    } else if (!step.empty() && step != ".") {
      ++depth;
    }
    from = end + 1;
  }
  return true;
}

}  // namespace

bool InsideBaseFolder(const std::string& baseFolder, std::string_view entry) {
  if (IsAbsoluteEntry(entry) || !StaysBelow(entry))
    return false;
  std::string path = baseFolder;
  if (!path.empty())
    path.push_back(platform::kPathSeparator);
  path.append(entry);
  // A file that does not exist is reported missing by whoever looks for it.
  const std::string real = platform::RealPath(path);
  if (real.empty())
    return true;
  std::string folder = platform::RealPath(baseFolder.empty() ? std::string(".") : baseFolder);
  if (folder.empty())
    return false;
  if (folder.back() != platform::kPathSeparator)
    folder.push_back(platform::kPathSeparator);
  return real.size() > folder.size() && real.compare(0, folder.size(), folder) == 0;
}

std::string EntryPath(const std::string& baseFolder, std::string_view entry, EntryRule rule,
                      std::string* outside) {
  outside->clear();
  if (rule == EntryRule::Anywhere && IsAbsoluteEntry(entry))
    return std::string(entry);
  std::string path = baseFolder;
  if (!path.empty())
    path.push_back(platform::kPathSeparator);
  path.append(entry);
  if (rule == EntryRule::Inside && !InsideBaseFolder(baseFolder, entry))
    *outside = kOutsideBaseFolder;
  return path;
}

bool ReadInsideEntry(const std::string& baseFolder, std::string_view entry, bool textMode,
                     std::string* bytes, std::string* reason) {
  if (IsAbsoluteEntry(entry) || !StaysBelow(entry)) {
    *reason = kOutsideBaseFolder;
    return false;
  }
  platform::FileKind kind = platform::FileKind::Other;
  switch (platform::ReadFileBelow(baseFolder, std::string(entry), textMode, bytes, &kind, reason)) {
    case platform::BelowRead::kRead:
      return true;
    case platform::BelowRead::kOutside:
      *reason = kOutsideBaseFolder;
      return false;
    case platform::BelowRead::kNotRegular:
      *reason = platform::NotRegularReason(kind);
      return false;
    case platform::BelowRead::kFailed:
      break;
  }
  return false;
}

}  // namespace tarvix
