// The link check over the site's records: links resolved below the output folder, each
// broken one reported once, and the one-line record of a page for the site state.
#include "site/LinkCheck.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <deque>
#include <unordered_map>
#include <unordered_set>

#include "text/Text.h"

namespace tarvix {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  const char lower = AsciiLower(c);
  return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

void AppendPercentDecoded(std::string& out, std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2])));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
}

// Whether `link` is '#' and a fragment that ResolveLink takes as it stands: no byte it
// would clean away or turn into a slash.
bool IsPlainFragment(std::string_view link) {
  return !link.empty() && link[0] == '#' && std::none_of(link.begin(), link.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b <= 0x20 || b == 0x7F || c == '\\';
  });
}

// The record: its first two words, the empty item, and the bytes written %HH.
constexpr std::string_view kRecordTag = "links";
constexpr std::string_view kRecordVersion = "1";
constexpr std::string_view kEmptyItem = "~";
constexpr std::string_view kHexDigits = "0123456789ABCDEF";

constexpr std::array<bool, 256> MakeEscapeTable() {
  std::array<bool, 256> t{};
  for (int b = 0; b <= 0x20; ++b)
    t[b] = true;
  t[0x7F] = t['%'] = t['\\'] = t['~'] = true;
  return t;
}
constexpr std::array<bool, 256> kNeedsEscape = MakeEscapeTable();

bool NeedsEscape(char c) {
  return kNeedsEscape[static_cast<unsigned char>(c)];
}

void AppendItem(std::string& out, std::string_view item) {
  out.push_back(' ');
  if (item.empty()) {
    out.append(kEmptyItem);
    return;
  }
  for (const char c : item) {
    if (NeedsEscape(c)) {
      const auto b = static_cast<unsigned char>(c);
      out.push_back('%');
      out.push_back(kHexDigits[b >> 4]);
      out.push_back(kHexDigits[b & 0x0F]);
    } else {
      out.push_back(c);
    }
  }
}

// Reads an item into `item`; false when the field is no item we write.
bool ParseItem(std::string_view field, std::string& item) {
  if (field == kEmptyItem)
    return true;
  if (field.empty() || field.size() > 3 * kMaxLinkValueBytes)
    return false;
  item.reserve(field.size());
  std::size_t i = 0;
  while (i < field.size()) {
    std::size_t run = i;
    while (run < field.size() && !NeedsEscape(field[run]))
      ++run;
    item.append(field.data() + i, run - i);
    if (run == field.size())
      break;
    if (field[run] != '%' || run + 2 >= field.size() || HexValue(field[run + 1]) < 0 ||
        HexValue(field[run + 2]) < 0)
      return false;
    item.push_back(static_cast<char>(HexValue(field[run + 1]) * 16 + HexValue(field[run + 2])));
    i = run + 3;
  }
  return item.size() <= kMaxLinkValueBytes;
}

std::optional<std::size_t> ParseCount(std::string_view field) {
  std::size_t count = 0;
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), count);
  if (ec != std::errc() || end != field.data() + field.size() || field.empty() ||
      (field.size() > 1 && field[0] == '0') || count > kMaxPageLinkItems)
    return std::nullopt;
  return count;
}

}  // namespace

std::optional<LinkTarget> ResolveLink(std::string_view pagePath, std::string_view link) {
  std::string scratch;
  std::string_view rest = CleanAddress(link, scratch);
  // Pages are served over HTTP, where a browser reads a backslash as a slash.
  if (rest.find('\\') != std::string_view::npos) {
    std::string slashes(rest);
    std::replace(slashes.begin(), slashes.end(), '\\', '/');
    scratch = std::move(slashes);
    rest = scratch;
  }
  LinkTarget target;
  if (const std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
    target.hasFragment = true;
    target.rawFragment = std::string(rest.substr(hash + 1));
    // Decoding only shortens it.
    target.fragment.reserve(target.rawFragment.size());
    AppendPercentDecoded(target.fragment, target.rawFragment);
    rest = rest.substr(0, hash);
  }
  rest = rest.substr(0, rest.find('?'));
  if (rest.empty()) {
    target.self = true;
    target.path = std::string(pagePath);
    return target;
  }

  // The path is built in place: the page's folder, then each part of the link decoded
  // onto its end and, when it is a step rather than a name, taken off again.
  std::string& path = target.path;
  const std::size_t folderEnd = pagePath.rfind('/');
  const std::string_view folder =
      pagePath.substr(0, folderEnd == std::string_view::npos ? 0 : folderEnd);
  // The longest it can get: the folder, a slash and the whole rest, which decoding and the
  // steps only shorten.
  path.reserve(folder.size() + 1 + rest.size());
  path.assign(folder);
  bool last = false;
  while (!last) {
    const std::size_t slash = rest.find('/');
    last = slash == std::string_view::npos;
    const std::size_t before = path.size();
    const std::size_t partAt = before == 0 ? 0 : before + 1;
    if (before != 0)
      path.push_back('/');
    AppendPercentDecoded(path, rest.substr(0, slash));
    if (!last)
      rest = rest.substr(slash + 1);
    const std::string_view part = std::string_view(path).substr(partAt);
    // An empty part is a doubled slash, or the trailing one of a folder.
    target.folder = part.empty() || part == "." || part == "..";
    if (!target.folder) {
      if (part.find('/') != std::string_view::npos || part.find('\0') != std::string_view::npos)
        return std::nullopt;
      continue;
    }
    const bool up = part == "..";
    path.resize(before);
    if (up) {
      if (path.empty())
        return std::nullopt;
      const std::size_t cut = path.rfind('/');
      path.resize(cut == std::string::npos ? 0 : cut);
    }
  }
  return target;
}

std::vector<BrokenLink> CheckSiteLinks(const std::vector<LinkPage>& pages,
                                       const PathKindFn& kindOf) {
  std::unordered_map<std::string_view, std::size_t> pageAt;
  pageAt.reserve(pages.size());
  for (std::size_t i = 0; i < pages.size(); ++i)
    pageAt.emplace(pages[i].path, i);
  // What was asked of kindOf, by views of the paths kept in `asked`, which never move.
  std::deque<std::string> asked;
  std::unordered_map<std::string_view, PathKind> known;
  auto kind = [&](std::string_view path) {
    if (pageAt.count(path) != 0)
      return PathKind::File;
    const auto found = known.find(path);
    if (found != known.end())
      return found->second;
    const PathKind k = kindOf(path);
    known.emplace(asked.emplace_back(path), k);
    return k;
  };
  // Each page's ids by their hashes, sorted: one block a page, made when a fragment first
  // points into it.
  using IdHash = std::pair<std::size_t, std::uint32_t>;  // hash, index into the ids
  std::vector<std::vector<IdHash>> idHashes(pages.size());
  std::vector<bool> hashed(pages.size(), false);
  const std::hash<std::string_view> hashOf;
  auto holds = [&](std::size_t page, std::string_view id) {
    const std::vector<std::string>& ids = pages[page].content->ids;
    std::vector<IdHash>& index = idHashes[page];
    if (!hashed[page]) {
      hashed[page] = true;
      index.reserve(ids.size());
      for (std::size_t k = 0; k < ids.size(); ++k)
        index.emplace_back(hashOf(ids[k]), static_cast<std::uint32_t>(k));
      std::sort(index.begin(), index.end());
    }
    const std::size_t h = hashOf(id);
    for (auto at = std::lower_bound(index.begin(), index.end(), IdHash{h, 0});
         at != index.end() && at->first == h; ++at) {
      if (ids[at->second] == id)
        return true;
    }
    return false;
  };
  auto hasId = [&](std::size_t page, std::string_view rawFragment, std::string_view fragment) {
    return fragment.empty() || pages[page].content == nullptr || holds(page, rawFragment) ||
           holds(page, fragment) || EqualsIgnoreCase(fragment, "top");
  };

  std::vector<BrokenLink> broken;
  // A page's links are checked once each. A scanned page lists each once already, so the
  // set of those seen is made only for a page whose list repeats one (a record written
  // by hand): a sorted copy of views tells, and keeps its room from page to page.
  std::vector<std::string_view> sorted;
  std::unordered_set<std::string_view> seen;
  std::string folderIndex;
  std::string decoded;
  for (std::size_t p = 0; p < pages.size(); ++p) {
    if (pages[p].content == nullptr || pages[p].content->links.empty())
      continue;
    const std::vector<std::string>& links = pages[p].content->links;
    sorted.assign(links.begin(), links.end());
    std::sort(sorted.begin(), sorted.end());
    const bool repeats = std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end();
    seen.clear();
    for (const std::string& link : links) {
      if ((repeats && !seen.insert(link).second) || !IsRelativeLink(link))
        continue;
      if (IsPlainFragment(link)) {
        // A place in its own page, as most of a site's links are: read as ResolveLink
        // would read it, with no path made.
        const std::string_view raw = std::string_view(link).substr(1);
        std::string_view fragment = raw;
        if (raw.find('%') != std::string_view::npos) {
          decoded.clear();
          AppendPercentDecoded(decoded, raw);
          fragment = decoded;
        }
        const auto linked = pageAt.find(pages[p].path);
        if (linked != pageAt.end() && !hasId(linked->second, raw, fragment))
          broken.push_back({p, link, LinkProblem::NoSuchId});
        continue;
      }
      const std::optional<LinkTarget> target = ResolveLink(pages[p].path, link);
      std::string_view file;  // the page or file the link leads to
      bool found = false;
      if (!target) {
        found = false;
      } else if (target->self) {
        file = pages[p].path;
        found = true;
      } else {
        const PathKind k = target->folder ? PathKind::Folder : kind(target->path);
        if (k == PathKind::File) {
          file = target->path;
          found = true;
        } else if (k == PathKind::Folder) {
          folderIndex = target->path.empty() ? "index.html" : target->path + "/index.html";
          file = folderIndex;
          found = kind(file) == PathKind::File;
        }
      }
      if (!found) {
        broken.push_back({p, link, LinkProblem::NoSuchFile});
        continue;
      }
      if (!target->hasFragment)
        continue;
      const auto linked = pageAt.find(file);
      if (linked != pageAt.end() && !hasId(linked->second, target->rawFragment, target->fragment))
        broken.push_back({p, link, LinkProblem::NoSuchId});
    }
  }
  return broken;
}

std::string BrokenLinkMessage(const LinkPage& page, const BrokenLink& broken) {
  std::string line;
  // A site with thousands of broken links makes a line for each: its room at once.
  line.reserve(page.source.size() + broken.target.size() + 40);
  line.append(page.source).append(": broken link \"");
  for (const char c : broken.target) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || c == '"') {
      line.push_back('%');
      line.push_back(kHexDigits[b >> 4]);
      line.push_back(kHexDigits[b & 0x0F]);
    } else {
      line.push_back(c);
    }
  }
  line.append(broken.problem == LinkProblem::NoSuchFile ? "\" (no such file)" : "\" (no such id)");
  return line;
}

std::string FormatPageLinks(const PageLinks& page) {
  std::string record(kRecordTag);
  record.push_back(' ');
  record.append(kRecordVersion);
  record.push_back(' ');
  record.append(std::to_string(page.ids.size()));
  record.push_back(' ');
  record.append(std::to_string(page.links.size()));
  for (const std::string& id : page.ids)
    AppendItem(record, id);
  for (const std::string& link : page.links)
    AppendItem(record, link);
  return record;
}

std::optional<PageLinks> ParsePageLinks(std::string_view record) {
  std::size_t at = 0;
  bool more = true;
  // The next field up to a space or the end; false when there is none.
  auto take = [&](std::string_view& field) {
    if (!more)
      return false;
    const std::size_t space = record.find(' ', at);
    more = space != std::string_view::npos;
    field = record.substr(at, more ? space - at : std::string_view::npos);
    at = more ? space + 1 : record.size();
    return true;
  };
  std::string_view field;
  if (!take(field) || field != kRecordTag || !take(field) || field != kRecordVersion)
    return std::nullopt;
  std::optional<std::size_t> idCount;
  std::optional<std::size_t> linkCount;
  if (take(field))
    idCount = ParseCount(field);
  if (idCount && take(field))
    linkCount = ParseCount(field);
  // An item takes at least two bytes of the record, so the counts cannot make us reserve
  // beyond what the record holds.
  if (!linkCount || *idCount + *linkCount > record.size() / 2)
    return std::nullopt;
  PageLinks page;
  page.ids.resize(*idCount);
  page.links.resize(*linkCount);
  for (std::vector<std::string>* items : {&page.ids, &page.links}) {
    for (std::string& item : *items) {
      if (!take(field) || !ParseItem(field, item))
        return std::nullopt;
    }
  }
  if (more)
    return std::nullopt;
  return page;
}

}  // namespace tarvix
