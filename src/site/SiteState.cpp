// The state file of a site run: its text form, written and read back.
#include "site/SiteState.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <utility>

namespace tarvix {
namespace {

// The first line; a new format gets a new number, and an older file is then ignored.
constexpr std::string_view kVersionLine = "tarvix-site 2";
constexpr std::string_view kMissing = "-";
constexpr std::string_view kFinished = "finished";
constexpr std::string_view kGoing = "going";
constexpr std::string_view kCheck = "check";
// The first byte of a listing's entry: what the name is.
constexpr char kFileEntry = 'f';
constexpr char kFolderEntry = 'd';
constexpr char kLinkEntry = 'l';

// FNV-1a over the bytes: any change of a byte or of their order changes it.
std::uint64_t Checksum(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string Hex(std::uint64_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i, value >>= 4)
    text[static_cast<std::size_t>(i)] = kDigits[value & 15];
  return text;
}

void AppendEscaped(std::string& out, std::string_view text) {
  // Most texts hold none of the four: they go in one piece.
  if (text.find_first_of("\\\t\n\r") == std::string_view::npos) {
    out.append(text);
    return;
  }
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out.push_back(c);
    }
  }
}

std::optional<std::string> Unescaped(std::string_view text) {
  if (text.find('\\') == std::string_view::npos)
    return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out.push_back(text[i]);
      continue;
    }
    if (++i == text.size())
      return std::nullopt;
    switch (text[i]) {
      case '\\':
        out.push_back('\\');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

// The fields of one line, split at tabs, into `fields`: one vector serves every line of a
// file.
void SplitFields(std::string_view line, std::vector<std::string_view>& fields) {
  fields.clear();
  std::size_t from = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', from);
    if (tab == std::string_view::npos) {
      fields.push_back(line.substr(from));
      return;
    }
    fields.push_back(line.substr(from, tab - from));
    from = tab + 1;
  }
}

template <class Number>
void AppendNumber(std::string& out, Number value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

template <class Number>
bool ReadNumber(std::string_view text, Number* value, int base = 10) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value, base);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

void AppendStamp(std::string& out, const platform::FileStamp& stamp) {
  if (stamp.exists) {
    AppendNumber(out, stamp.time);
    out.push_back('\t');
    AppendNumber(out, stamp.size);
  } else {
    out.append(kMissing).push_back('\t');
    out.append(kMissing);
  }
}

// The identity fields, when known: a record without them reads as before.
void AppendIdentity(std::string& out, std::uint64_t device, std::uint64_t inode) {
  if (device == 0 && inode == 0)
    return;
  out.push_back('\t');
  AppendNumber(out, device);
  out.push_back('\t');
  AppendNumber(out, inode);
}

// An input's or a copy's line: its kind, its stamp and its path, and for what the run made
// the file's identity.
void AppendStampedLine(std::string& out, std::string_view kind, const SiteInput& file,
                       bool identity) {
  out += kind;
  AppendStamp(out, file.stamp);
  out.push_back('\t');
  AppendEscaped(out, file.path);
  if (identity)
    AppendIdentity(out, file.device, file.inode);
  out.push_back('\n');
}

// The identity fields at `fields[at]` and after, when there; false when they are there but
// are no numbers.
bool ReadIdentity(const std::vector<std::string_view>& fields, std::size_t at,
                  std::uint64_t* device, std::uint64_t* inode) {
  if (fields.size() < at + 2)
    return true;
  return ReadNumber(fields[at], device) && ReadNumber(fields[at + 1], inode);
}

bool ReadStamp(std::string_view time, std::string_view size, platform::FileStamp* stamp) {
  *stamp = platform::FileStamp{};
  if (time == kMissing && size == kMissing)
    return true;
  stamp->exists = true;
  return ReadNumber(time, &stamp->time) && ReadNumber(size, &stamp->size);
}

// The records of a whole file (its check line passed) into `state`; false at the first
// record that is not one we write.
bool ParseRecords(std::string_view text, SiteState* state) {
  bool sawProgram = false;
  bool sawOptions = false;
  bool sawRun = false;
  std::vector<std::string_view> fields;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t end = text.find('\n', from);
    const std::string_view line = text.substr(from, end - from);
    from = end + 1;
    SplitFields(line, fields);
    const std::string_view kind = fields[0];
    if (kind == "program" && fields.size() >= 2 && !sawProgram) {
      std::optional<std::string> program = Unescaped(fields[1]);
      if (!program)
        return false;
      state->program = std::move(*program);
      sawProgram = true;
    } else if (kind == "options" && fields.size() >= 2 && !sawOptions) {
      std::optional<std::string> options = Unescaped(fields[1]);
      if (!options)
        return false;
      state->options = std::move(*options);
      sawOptions = true;
    } else if (kind == "run" && fields.size() >= 2 && !sawRun) {
      if (fields[1] != kFinished && fields[1] != kGoing)
        return false;
      state->finished = fields[1] == kFinished;
      sawRun = true;
    } else if (kind == "page" && fields.size() >= 5) {
      std::optional<std::string> document = Unescaped(fields[1]);
      std::optional<std::string> target = Unescaped(fields[2]);
      SitePage page;
      if (!document || !target || !ReadStamp(fields[3], fields[4], &page.page) ||
          !ReadIdentity(fields, 5, &page.device, &page.inode))
        return false;
      page.document = std::move(*document);
      page.target = std::move(*target);
      state->pages.push_back(std::move(page));
    } else if (kind == "input" && fields.size() >= 4) {
      if (state->pages.empty())
        return false;
      SiteInput input;
      std::optional<std::string> path = Unescaped(fields[3]);
      if (!path || !ReadStamp(fields[1], fields[2], &input.stamp))
        return false;
      input.path = std::move(*path);
      state->pages.back().inputs.push_back(std::move(input));
    } else if (kind == "links" && fields.size() >= 2) {
      if (state->pages.empty())
        return false;
      std::optional<std::string> links = Unescaped(fields[1]);
      if (!links)
        return false;
      state->pages.back().links = std::move(*links);
    } else if (kind == "about" && fields.size() >= 4) {
      // "b", or "b:" and the brushes' scripts between commas, or "-".
      const bool brushes = fields[1] == "b" || fields[1].starts_with("b:");
      if (state->pages.empty() || (!brushes && fields[1] != "-"))
        return false;
      std::vector<std::string> scripts;
      for (std::string_view rest = fields[1].size() > 2 ? fields[1].substr(2) : std::string_view();
           !rest.empty();) {
        const std::size_t comma = std::min(rest.find(','), rest.size());
        if (comma == 0)
          return false;
        scripts.emplace_back(rest.substr(0, comma));
        rest.remove_prefix(std::min(rest.size(), comma + 1));
      }
      std::optional<std::string> navigation = Unescaped(fields[2]);
      std::optional<std::string> title = Unescaped(fields[3]);
      if (!navigation || !title)
        return false;
      SitePage& page = state->pages.back();
      page.brushes = brushes;
      page.brushScripts = std::move(scripts);
      page.navigation = std::move(*navigation);
      page.title = std::move(*title);
    } else if ((kind == "copy" || kind == "made") && fields.size() >= 4) {
      SiteInput copy;
      std::optional<std::string> path = Unescaped(fields[3]);
      if (!path || !ReadStamp(fields[1], fields[2], &copy.stamp) ||
          !ReadIdentity(fields, 4, &copy.device, &copy.inode))
        return false;
      copy.path = std::move(*path);
      (kind == "copy" ? state->copies : state->made).push_back(std::move(copy));
    } else if (kind == "folder" && fields.size() >= 2) {
      std::optional<std::string> folder = Unescaped(fields[1]);
      if (!folder)
        return false;
      state->folders.push_back(std::move(*folder));
    } else if (kind == "listing" && fields.size() >= 5) {
      SiteListing listing;
      std::optional<std::string> folder = Unescaped(fields[4]);
      if (!folder || !ReadNumber(fields[1], &listing.changeTime) ||
          !ReadNumber(fields[2], &listing.device) || !ReadNumber(fields[3], &listing.inode))
        return false;
      listing.folder = std::move(*folder);
      for (std::size_t i = 5; i < fields.size(); ++i) {
        const std::string_view field = fields[i];
        std::optional<std::string> name = field.empty() ? std::nullopt : Unescaped(field.substr(1));
        if (!name || name->empty())
          return false;
        platform::FolderEntry entry;
        entry.name = std::move(*name);
        if (field[0] == kFileEntry) {
          entry.kind = platform::EntryKind::File;
        } else if (field[0] == kFolderEntry) {
          entry.kind = platform::EntryKind::Folder;
        } else if (field[0] == kLinkEntry) {
          entry.link = true;
        } else {
          return false;
        }
        listing.entries.push_back(std::move(entry));
      }
      state->listings.push_back(std::move(listing));
    } else if (kind == "program" || kind == "options" || kind == "run" || kind == "page" ||
               kind == "input" || kind == "links" || kind == "about" || kind == "copy" || kind == "made" ||
               kind == "folder" ||
               kind == "listing" || kind == kCheck) {
      // One of ours, but not as we write it.
      return false;
    }
  }
  return sawProgram && sawOptions && sawRun;
}

}  // namespace

std::string FormatSiteState(const SiteState& state, std::size_t expectedBytes) {
  std::string out;
  // Room for the whole text at once: a state is often the size it was last time, and
  // growing a string of this size step by step copies it and touches new memory each time.
  out.reserve(expectedBytes + expectedBytes / 8 + 4096);
  out.append(kVersionLine);
  out += "\nprogram\t";
  AppendEscaped(out, state.program);
  out += "\noptions\t";
  AppendEscaped(out, state.options);
  out += "\nrun\t";
  out.append(state.finished ? kFinished : kGoing).push_back('\n');
  for (const SitePage& page : state.pages) {
    out += "page\t";
    AppendEscaped(out, page.document);
    out.push_back('\t');
    AppendEscaped(out, page.target);
    out.push_back('\t');
    AppendStamp(out, page.page);
    AppendIdentity(out, page.device, page.inode);
    out.push_back('\n');
    for (const SiteInput& input : page.inputs)
      AppendStampedLine(out, "input\t", input, false);
    if (!page.links.empty()) {
      out += "links\t";
      AppendEscaped(out, page.links);
      out.push_back('\n');
    }
    if (page.brushes || !page.navigation.empty() || !page.title.empty()) {
      out += page.brushes ? "about\tb" : "about\t-";
      for (std::size_t k = 0; k < page.brushScripts.size(); ++k)
        out.append(k == 0 ? ":" : ",").append(page.brushScripts[k]);
      out += '\t';
      AppendEscaped(out, page.navigation);
      out.push_back('\t');
      AppendEscaped(out, page.title);
      out.push_back('\n');
    }
  }
  for (const SiteInput& copy : state.copies)
    AppendStampedLine(out, "copy\t", copy, true);
  for (const SiteInput& made : state.made)
    AppendStampedLine(out, "made\t", made, true);
  for (const std::string& folder : state.folders) {
    out += "folder\t";
    AppendEscaped(out, folder);
    out.push_back('\n');
  }
  for (const SiteListing& listing : state.listings) {
    out += "listing\t";
    AppendNumber(out, listing.changeTime);
    out.push_back('\t');
    AppendNumber(out, listing.device);
    out.push_back('\t');
    AppendNumber(out, listing.inode);
    out.push_back('\t');
    AppendEscaped(out, listing.folder);
    for (const platform::FolderEntry& entry : listing.entries) {
      out.push_back('\t');
      out.push_back(entry.link                                  ? kLinkEntry
                    : entry.kind == platform::EntryKind::Folder ? kFolderEntry
                                                                : kFileEntry);
      AppendEscaped(out, entry.name);
    }
    out.push_back('\n');
  }
  return WithCheckLine(std::move(out));
}

std::string FormatMadeLine(const SiteInput& made) {
  std::string line;
  AppendStampedLine(line, "made\t", made, true);
  return line;
}

std::vector<SiteInput> ParseMadeLines(std::string_view text) {
  std::vector<SiteInput> made;
  std::vector<std::string_view> fields;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t end = text.find('\n', from);
    if (end == std::string_view::npos)
      break;
    SplitFields(text.substr(from, end - from), fields);
    from = end + 1;
    SiteInput file;
    std::optional<std::string> path;
    if (fields.size() != 6 || fields[0] != "made" ||
        !ReadStamp(fields[1], fields[2], &file.stamp) || !file.stamp.exists ||
        !(path = Unescaped(fields[3])) || !ReadIdentity(fields, 4, &file.device, &file.inode))
      continue;
    file.path = std::move(*path);
    made.push_back(std::move(file));
  }
  return made;
}

std::string WithCheckLine(std::string body) {
  const std::uint64_t sum = Checksum(body);
  const auto lines = std::count(body.begin(), body.end(), '\n');
  body.append(kCheck).push_back('\t');
  AppendNumber(body, lines);
  body.push_back('\t');
  body += Hex(sum);
  body.push_back('\n');
  return body;
}

StateRead ParseSiteState(std::string_view text, SiteState* state) {
  const std::size_t firstEnd = text.find('\n');
  if (firstEnd == std::string_view::npos || text.substr(0, firstEnd) != kVersionLine)
    return StateRead::kOther;
  // The check is the last line: everything before it is what it vouches for.
  if (text.back() != '\n')
    return StateRead::kDamaged;
  const std::size_t checkStart = text.rfind('\n', text.size() - 2) + 1;
  const std::string_view body = text.substr(0, checkStart);
  std::vector<std::string_view> check;
  SplitFields(text.substr(checkStart, text.size() - 1 - checkStart), check);
  std::size_t lines = 0;
  std::uint64_t sum = 0;
  if (check.size() != 3 || check[0] != kCheck || !ReadNumber(check[1], &lines) ||
      !ReadNumber(check[2], &sum, 16) || sum != Checksum(body) ||
      lines != static_cast<std::size_t>(std::count(body.begin(), body.end(), '\n')))
    return StateRead::kDamaged;
  SiteState read;
  if (!ParseRecords(body.substr(firstEnd + 1), &read))
    return StateRead::kDamaged;
  *state = std::move(read);
  return StateRead::kRead;
}

std::string PathRelativeTo(std::string_view from, std::string_view to, char separator) {
  const auto parts = [separator](std::string_view path) {
    std::vector<std::string_view> names;
    std::size_t at = 0;
    while (at <= path.size()) {
      std::size_t end = path.find(separator, at);
      if (end == std::string_view::npos)
        end = path.size();
      if (end > at || names.empty())
        names.push_back(path.substr(at, end - at));
      at = end + 1;
    }
    return names;
  };
  const std::vector<std::string_view> a = parts(from);
  const std::vector<std::string_view> b = parts(to);
  // The root (empty before a leading separator, or a drive) must be the same.
  if (a.empty() || b.empty() || a[0] != b[0])
    return std::string(to);
  std::size_t common = 0;
  while (common < a.size() && common < b.size() && a[common] == b[common])
    ++common;
  std::string out;
  for (std::size_t i = common; i < a.size(); ++i) {
    if (!out.empty())
      out.push_back(separator);
    out += "..";
  }
  for (std::size_t i = common; i < b.size(); ++i) {
    if (!out.empty())
      out.push_back(separator);
    out.append(b[i]);
  }
  return out.empty() ? std::string(".") : out;
}

}  // namespace tarvix
