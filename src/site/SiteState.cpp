// The state file of a site run: its text form, written and read back.
#include "site/SiteState.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <type_traits>
#include <unordered_map>
#include <utility>

namespace tarvix {
namespace {

// The first line; a new format gets a new number, and an older file is then ignored.
constexpr std::string_view kVersionLine = "tarvix-site 3";
constexpr std::string_view kMissing = "-";
constexpr std::string_view kFinished = "finished";
constexpr std::string_view kGoing = "going";
// The first byte of a listing's entry: what the name is.
constexpr char kFileEntry = 'f';
constexpr char kFolderEntry = 'd';
constexpr char kLinkEntry = 'l';

// The kinds of record, each the first field of its line, in the order they are most often
// met, as the reader tries them in turn.
enum class Kind {
  kInput,
  kPage,
  kLinks,
  kAbout,
  kFolder,
  kCopy,
  kListing,
  kMade,
  kProgram,
  kOptions,
  kRun,
  kCheck,
  kOther
};
// Their names, in the same order.
constexpr std::string_view kKindNames[] = {"input",   "page",    "links",   "about",
                                           "folder",  "copy",    "listing", "made",
                                           "program", "options", "run",     "check"};
static_assert(std::size(kKindNames) == static_cast<std::size_t>(Kind::kOther));

constexpr std::string_view NameOf(Kind kind) {
  return kKindNames[static_cast<std::size_t>(kind)];
}

Kind KindOf(std::string_view name) {
  for (std::size_t k = 0; k < std::size(kKindNames); ++k) {
    if (kKindNames[k] == name)
      return static_cast<Kind>(k);
  }
  return Kind::kOther;
}

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;

// The eight bytes at `at` as a number, the first the lowest: the sum is the same on every
// machine, as the state is published with the pages.
std::uint64_t LittleWord(const unsigned char* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  if constexpr (std::endian::native == std::endian::big) {
    std::uint64_t swapped = 0;
    for (int i = 0; i < 8; ++i, word >>= 8)
      swapped = (swapped << 8) | (word & 0xff);
    word = swapped;
  }
  return word;
}

constexpr std::uint64_t kMultiplierA = 0x9e3779b97f4a7c15ull;
constexpr std::uint64_t kMultiplierB = 0xc6a4a7935bd1e995ull;

// One word into one lane. Each step is a bijection of the lane for a given word, and of the
// word for a given lane, so a changed word always changes its lane and the steps after it
// keep the difference.
std::uint64_t Mix(std::uint64_t lane, std::uint64_t word) {
  return std::rotl(lane + word * kMultiplierA, 31) * kMultiplierB;
}

// The zero bytes of `word` as a 1 in each such byte's lowest bit.
std::uint64_t ZeroBytes(std::uint64_t word) {
  return (~(((word & ~kHighs) + ~kHighs) | word) & kHighs) >> 7;
}

struct BodySum {
  std::uint64_t sum = 0;
  std::size_t lines = 0;
};

// The sum that the check line gives for `body`, and its line feeds. A byte-by-byte sum is a
// chain of dependent multiplications, which over a state of megabytes took tens of
// milliseconds a run; we take eight bytes at a time in four lanes that do not wait for one
// another. Any change of one word changes the sum; any other change of bytes or of their
// order, all but certainly.
BodySum SumOf(std::string_view body) {
  const auto* at = reinterpret_cast<const unsigned char*>(body.data());
  const unsigned char* const end = at + body.size();
  std::uint64_t lanes[4] = {kMultiplierA, kMultiplierB, ~kMultiplierA, ~kMultiplierB};
  const std::uint64_t feeds = kOnes * '\n';
  std::size_t lines = 0;
  // The line feeds found add up in each byte of `counts`, taken out before a byte can carry.
  std::uint64_t counts = 0;
  const auto addCounts = [&] {
    constexpr std::uint64_t kLowBytes = 0x00ff00ff00ff00ffull;
    const std::uint64_t pairs = (counts & kLowBytes) + ((counts >> 8) & kLowBytes);
    lines += static_cast<std::size_t>((pairs * 0x0001000100010001ull) >> 48);
    counts = 0;
  };
  // Each block of 32 bytes adds at most 4 to a byte of `counts`.
  constexpr int kBlocksBetweenCounts = 63;
  while (end - at >= 32) {
    for (int block = 0; block < kBlocksBetweenCounts && end - at >= 32; ++block, at += 32) {
      const std::uint64_t words[4] = {LittleWord(at), LittleWord(at + 8), LittleWord(at + 16),
                                      LittleWord(at + 24)};
      lanes[0] = Mix(lanes[0], words[0]);
      lanes[1] = Mix(lanes[1], words[1]);
      lanes[2] = Mix(lanes[2], words[2]);
      lanes[3] = Mix(lanes[3], words[3]);
      counts += ZeroBytes(words[0] ^ feeds) + ZeroBytes(words[1] ^ feeds) +
                ZeroBytes(words[2] ^ feeds) + ZeroBytes(words[3] ^ feeds);
    }
    addCounts();
  }
  for (std::size_t lane = 0; end - at >= 8; at += 8, ++lane) {
    const std::uint64_t word = LittleWord(at);
    lanes[lane] = Mix(lanes[lane], word);
    counts += ZeroBytes(word ^ feeds);
  }
  // The last bytes, padded: the length, mixed in below, tells them from their padding.
  unsigned char last[8] = {};
  if (at != end)
    std::memcpy(last, at, static_cast<std::size_t>(end - at));
  lines += static_cast<std::size_t>(std::count(last, last + (end - at), '\n'));
  addCounts();
  std::uint64_t sum = Mix(body.size(), LittleWord(last));
  for (std::size_t lane = 0; lane < 4; ++lane)
    sum = Mix(sum, lanes[lane]);
  // Every bit of the sum depends on every bit of the lanes.
  sum ^= sum >> 33;
  sum *= kMultiplierB;
  sum ^= sum >> 29;
  return {sum, lines};
}

// Whether the eight bytes at `at` may hold one that is written escaped: a backslash, or a
// byte below 14 (tab, line feed and carriage return are 9, 10 and 13). Never false when
// one is there; true now and then for another control byte, which the caller looks at.
bool MayHoldEscaped(const char* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  const std::uint64_t slashes = word ^ (kOnes * '\\');
  return (((word - kOnes * 14) & ~word) | ((slashes - kOnes) & ~slashes)) & kHighs;
}

bool IsEscaped(char c) {
  return c == '\\' || c == '\t' || c == '\n' || c == '\r';
}

// The first byte in [at, end) written escaped, or `end`. Texts are mostly plain, so we look
// at eight bytes at a time.
const char* NextEscaped(const char* at, const char* end) {
  while (at < end) {
    if (end - at >= 8 && !MayHoldEscaped(at)) {
      at += 8;
      continue;
    }
    for (const char* stop = std::min(at + 8, end); at < stop; ++at) {
      if (IsEscaped(*at))
        return at;
    }
  }
  return end;
}

void AppendEscaped(std::string& out, std::string_view text) {
  const char* at = text.data();
  const char* const end = at + text.size();
  for (;;) {
    const char* special = NextEscaped(at, end);
    out.append(at, static_cast<std::size_t>(special - at));
    if (special == end)
      return;
    const char escape[2] = {'\\', *special == '\\'   ? '\\'
                                  : *special == '\t' ? 't'
                                  : *special == '\n' ? 'n'
                                                     : 'r'};
    out.append(escape, 2);
    at = special + 1;
  }
}

// `text` with its escapes undone into `out`; false at an escape we do not write.
[[nodiscard]] bool Unescape(std::string_view text, std::string* out) {
  const char* at = text.data();
  const char* const end = at + text.size();
  const void* found = std::memchr(at, '\\', text.size());
  if (found == nullptr) {
    out->assign(text);
    return true;
  }
  out->clear();
  out->reserve(text.size());
  while (found != nullptr) {
    const char* slash = static_cast<const char*>(found);
    out->append(at, static_cast<std::size_t>(slash - at));
    if (slash + 1 == end)
      return false;
    switch (slash[1]) {
      case '\\':
        out->push_back('\\');
        break;
      case 't':
        out->push_back('\t');
        break;
      case 'n':
        out->push_back('\n');
        break;
      case 'r':
        out->push_back('\r');
        break;
      default:
        return false;
    }
    at = slash + 2;
    found = std::memchr(at, '\\', static_cast<std::size_t>(end - at));
  }
  out->append(at, static_cast<std::size_t>(end - at));
  return true;
}

// The fields of one line, split at tabs, into `fields`: one vector serves every line of a
// file.
void SplitFields(std::string_view line, std::vector<std::string_view>& fields) {
  fields.clear();
  const char* at = line.data();
  const char* const end = at + line.size();
  for (;;) {
    const void* tab = std::memchr(at, '\t', static_cast<std::size_t>(end - at));
    if (tab == nullptr) {
      fields.emplace_back(at, static_cast<std::size_t>(end - at));
      return;
    }
    const char* stop = static_cast<const char*>(tab);
    fields.emplace_back(at, static_cast<std::size_t>(stop - at));
    at = stop + 1;
  }
}

template <class Number>
void AppendNumber(std::string& out, Number value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

// A decimal number that fills `text`, as std::from_chars reads it (a sign only for a signed
// type, no plus, leading zeros taken). The stamps, sizes and identities are most of a state's
// numbers, all of at most 19 digits, which we read here without the general reader's check
// for overflow at each digit.
template <class Number>
bool ReadNumber(std::string_view text, Number* value) {
  constexpr std::size_t kSafeDigits = 19;  // 10^19 - 1 fits in 64 bits without a sign
  const bool negative = std::is_signed_v<Number> && !text.empty() && text[0] == '-';
  const std::string_view digits = text.substr(negative ? 1 : 0);
  if (digits.empty() || digits.size() > kSafeDigits) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value, 10);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
  }
  std::uint64_t read = 0;
  for (const char c : digits) {
    const unsigned digit = static_cast<unsigned char>(c) - unsigned{'0'};
    if (digit > 9)
      return false;
    read = read * 10 + digit;
  }
  using Unsigned = std::make_unsigned_t<Number>;
  const std::uint64_t limit =
      static_cast<std::uint64_t>(std::numeric_limits<Number>::max()) + (negative ? 1 : 0);
  if (read > limit)
    return false;
  // Negated in the unsigned type, where the lowest value of the signed one is no overflow.
  *value = static_cast<Number>(negative ? Unsigned{0} - static_cast<Unsigned>(read)
                                        : static_cast<Unsigned>(read));
  return true;
}

// The check line's sum: hexadecimal digits.
bool ReadHex(std::string_view text, std::uint64_t* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value, 16);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// A kind's name and the tab after it.
void AppendKind(std::string& out, Kind kind) {
  out.append(NameOf(kind));
  out.push_back('\t');
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
void AppendStampedLine(std::string& out, Kind kind, const SiteInput& file, bool identity) {
  AppendKind(out, kind);
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

// A copy's or a made file's record: its stamp, its path and, when there, its identity.
bool ReadFileRecord(const std::vector<std::string_view>& fields, SiteInput* file) {
  return ReadStamp(fields[1], fields[2], &file->stamp) && Unescape(fields[3], &file->path) &&
         ReadIdentity(fields, 4, &file->device, &file->inode);
}

// The brushes' field of an "about" record into `page`: "b", or "b:" and the brushes' scripts
// between commas, or "-".
bool ReadBrushes(std::string_view field, SitePage* page) {
  page->brushes = field == "b" || field.starts_with("b:");
  if (!page->brushes && field != "-")
    return false;
  page->brushScripts.clear();
  for (std::string_view rest = field.size() > 2 ? field.substr(2) : std::string_view();
       !rest.empty();) {
    const std::size_t comma = std::min(rest.find(','), rest.size());
    if (comma == 0)
      return false;
    page->brushScripts.emplace_back(rest.substr(0, comma));
    rest.remove_prefix(std::min(rest.size(), comma + 1));
  }
  return true;
}

bool ReadListing(const std::vector<std::string_view>& fields, SiteListing* listing) {
  if (!ReadNumber(fields[1], &listing->changeTime) || !ReadNumber(fields[2], &listing->device) ||
      !ReadNumber(fields[3], &listing->inode) || !Unescape(fields[4], &listing->folder))
    return false;
  listing->entries.resize(fields.size() - 5);
  for (std::size_t i = 5; i < fields.size(); ++i) {
    const std::string_view field = fields[i];
    platform::FolderEntry& entry = listing->entries[i - 5];
    if (field.size() < 2 || !Unescape(field.substr(1), &entry.name) || entry.name.empty())
      return false;
    if (field[0] == kFileEntry) {
      entry.kind = platform::EntryKind::File;
    } else if (field[0] == kFolderEntry) {
      entry.kind = platform::EntryKind::Folder;
    } else if (field[0] == kLinkEntry) {
      entry.link = true;
    } else {
      return false;
    }
  }
  return true;
}

// The records of a state's body into `state`, read a run of whole lines at a time (the body
// of a state with news comes in pieces); false at the first record that is not one we
// write. A record of ours short of its fields is damage; one of a kind we do not know is
// skipped.
class RecordReader {
 public:
  explicit RecordReader(SiteState* state) : state_(state) {}

  bool Read(std::string_view text);
  // Whether the records read make a whole state.
  [[nodiscard]] bool Whole() const { return sawProgram_ && sawOptions_ && sawRun_; }

 private:
  SiteState* state_;
  bool sawProgram_ = false;
  bool sawOptions_ = false;
  bool sawRun_ = false;
  std::vector<std::string_view> fields_;
};

bool RecordReader::Read(std::string_view text) {
  SiteState* const state = state_;
  std::vector<std::string_view>& fields = fields_;
  const char* at = text.data();
  const char* const end = at + text.size();
  while (at < end) {
    const char* lineEnd =
        static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
    if (lineEnd == nullptr)
      return false;
    SplitFields(std::string_view(at, static_cast<std::size_t>(lineEnd - at)), fields);
    at = lineEnd + 1;
    const std::size_t count = fields.size();
    switch (KindOf(fields[0])) {
      case Kind::kProgram:
        if (count < 2 || sawProgram_ || !Unescape(fields[1], &state->program))
          return false;
        sawProgram_ = true;
        break;
      case Kind::kOptions:
        if (count < 2 || sawOptions_ || !Unescape(fields[1], &state->options))
          return false;
        sawOptions_ = true;
        break;
      case Kind::kRun:
        if (count < 2 || sawRun_ || (fields[1] != kFinished && fields[1] != kGoing))
          return false;
        state->finished = fields[1] == kFinished;
        sawRun_ = true;
        break;
      case Kind::kPage: {
        if (count < 5)
          return false;
        SitePage& page = state->pages.emplace_back();
        if (!Unescape(fields[1], &page.document) || !Unescape(fields[2], &page.target) ||
            !ReadStamp(fields[3], fields[4], &page.page) ||
            !ReadIdentity(fields, 5, &page.device, &page.inode))
          return false;
        break;
      }
      case Kind::kInput: {
        if (count < 4 || state->pages.empty())
          return false;
        SiteInput& input = state->pages.back().inputs.emplace_back();
        if (!ReadStamp(fields[1], fields[2], &input.stamp) || !Unescape(fields[3], &input.path))
          return false;
        break;
      }
      case Kind::kLinks:
        if (count < 2 || state->pages.empty() || !Unescape(fields[1], &state->pages.back().links))
          return false;
        break;
      case Kind::kAbout: {
        if (count < 4 || state->pages.empty())
          return false;
        SitePage& page = state->pages.back();
        if (!ReadBrushes(fields[1], &page) || !Unescape(fields[2], &page.navigation) ||
            !Unescape(fields[3], &page.title))
          return false;
        break;
      }
      case Kind::kCopy:
      case Kind::kMade: {
        std::vector<SiteInput>& files =
            fields[0] == NameOf(Kind::kCopy) ? state->copies : state->made;
        if (count < 4 || !ReadFileRecord(fields, &files.emplace_back()))
          return false;
        break;
      }
      case Kind::kFolder:
        if (count < 2 || !Unescape(fields[1], &state->folders.emplace_back()))
          return false;
        break;
      case Kind::kListing:
        if (count < 5 || !ReadListing(fields, &state->listings.emplace_back()))
          return false;
        break;
      case Kind::kCheck:
        // The check ends the file: one inside it is no state of ours.
        return false;
      case Kind::kOther:
        // A kind a later program added.
        break;
    }
  }
  return true;
}

}  // namespace

namespace {

// The check line that vouches for `body`.
std::string CheckLineOf(std::string_view body) {
  const BodySum sum = SumOf(body);
  static constexpr char kDigits[] = "0123456789abcdef";
  char hex[16];
  for (int i = 15; i >= 0; --i)
    hex[i] = kDigits[(sum.sum >> (4 * (15 - i))) & 15];
  std::string line;
  AppendKind(line, Kind::kCheck);
  AppendNumber(line, sum.lines);
  line.push_back('\t');
  line.append(hex, sizeof hex).push_back('\n');
  return line;
}

// Appends the state's body (all but its check line) to `out`, handing `out` to `flush` after
// each record once it holds `piece` bytes or more: flush empties it, or returns false to stop
// the formatting, which then returns false.
template <typename Flush>
bool FormatBody(const SiteState& state, std::string& out, std::size_t piece, Flush flush) {
  const auto full = [&] { return out.size() < piece || flush(out); };
  out.append(kVersionLine).push_back('\n');
  AppendKind(out, Kind::kProgram);
  AppendEscaped(out, state.program);
  out.push_back('\n');
  AppendKind(out, Kind::kOptions);
  AppendEscaped(out, state.options);
  out.push_back('\n');
  AppendKind(out, Kind::kRun);
  out.append(state.finished ? kFinished : kGoing).push_back('\n');
  for (const SitePage& page : state.pages) {
    AppendKind(out, Kind::kPage);
    AppendEscaped(out, page.document);
    out.push_back('\t');
    AppendEscaped(out, page.target);
    out.push_back('\t');
    AppendStamp(out, page.page);
    AppendIdentity(out, page.device, page.inode);
    out.push_back('\n');
    for (const SiteInput& input : page.inputs)
      AppendStampedLine(out, Kind::kInput, input, false);
    if (!page.links.empty()) {
      AppendKind(out, Kind::kLinks);
      AppendEscaped(out, page.links);
      out.push_back('\n');
    }
    if (page.brushes || !page.navigation.empty() || !page.title.empty()) {
      AppendKind(out, Kind::kAbout);
      out.push_back(page.brushes ? 'b' : '-');
      for (std::size_t k = 0; k < page.brushScripts.size(); ++k)
        out.append(k == 0 ? ":" : ",").append(page.brushScripts[k]);
      out.push_back('\t');
      AppendEscaped(out, page.navigation);
      out.push_back('\t');
      AppendEscaped(out, page.title);
      out.push_back('\n');
    }
    if (!full())
      return false;
  }
  for (const SiteInput& copy : state.copies) {
    AppendStampedLine(out, Kind::kCopy, copy, true);
    if (!full())
      return false;
  }
  for (const SiteInput& made : state.made)
    AppendStampedLine(out, Kind::kMade, made, true);
  for (const std::string& folder : state.folders) {
    AppendKind(out, Kind::kFolder);
    AppendEscaped(out, folder);
    out.push_back('\n');
    if (!full())
      return false;
  }
  for (const SiteListing& listing : state.listings) {
    AppendKind(out, Kind::kListing);
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
    if (!full())
      return false;
  }
  return out.empty() || flush(out);
}

}  // namespace

std::string FormatSiteState(const SiteState& state, std::size_t expectedBytes) {
  std::string out;
  // Room for the whole text at once: a state is often the size it was last time, and
  // growing a string of this size step by step copies it and touches new memory each time.
  out.reserve(expectedBytes + expectedBytes / 8 + 4096);
  (void)FormatBody(state, out, SIZE_MAX, [](std::string&) { return true; });
  return WithCheckLine(std::move(out));
}

bool IsTextOf(const SiteState& state, std::string_view text) {
  // The text's body, without its check line: the same body makes the same check line.
  if (text.size() < 2 || text.back() != '\n')
    return false;
  const std::size_t checkLine = text.rfind('\n', text.size() - 2);
  if (checkLine == std::string_view::npos)
    return false;
  const std::string_view body = text.substr(0, checkLine + 1);
  // Formatted a piece at a time and compared as it comes: no room for a second text.
  constexpr std::size_t kPiece = 64 * 1024;
  std::string out;
  out.reserve(kPiece + 16 * 1024);
  std::size_t at = 0;
  const bool same = FormatBody(state, out, kPiece, [&](std::string& piece) {
    if (body.substr(at, piece.size()) != piece)
      return false;
    at += piece.size();
    piece.clear();
    return true;
  });
  return same && at == body.size() && text.substr(checkLine + 1) == CheckLineOf(body);
}

std::string FormatMadeLine(const SiteInput& made) {
  std::string line;
  AppendStampedLine(line, Kind::kMade, made, true);
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
    if (fields.size() != 6 || fields[0] != NameOf(Kind::kMade) || !ReadFileRecord(fields, &file) ||
        !file.stamp.exists)
      continue;
    made.push_back(std::move(file));
  }
  return made;
}

std::string WithCheckLine(std::string body) {
  body.append(CheckLineOf(body));
  return body;
}

namespace {

// The first line of the news of a state: the same number as the state's own.
constexpr std::string_view kNewsVersionLine = "tarvix-news 3";
// The news' records: which state it is news of, a run of the state's lines kept, lines of
// its own.
constexpr std::string_view kBaseRecord = "base\t";
constexpr std::string_view kKeepRecord = "keep\t";
constexpr std::string_view kTextRecord = "text\t";
// A record's first line is found again in the state by its first bytes at most.
constexpr std::size_t kKeyBytes = 96;
// How many records on a record changed or gone is looked for, and after how many records in
// a row not found so the base's records are found by their first lines.
constexpr std::size_t kLookAhead = 8;
constexpr std::size_t kMissesBeforeIndex = 16;

// The text's body and the fields of its check line (the last line), when that line is a
// check of ours and, with `verify`, the body passes it. Without `verify` the sum is not
// taken: a text this program read and checked already, or wrote.
bool SplitChecked(std::string_view text, bool verify, std::string_view* body,
                  std::string_view* check) {
  if (text.size() < 2 || text.back() != '\n')
    return false;
  const std::size_t lastLine = text.rfind('\n', text.size() - 2);
  const std::size_t checkStart = lastLine == std::string_view::npos ? 0 : lastLine + 1;
  *body = text.substr(0, checkStart);
  *check = text.substr(checkStart, text.size() - 1 - checkStart);
  std::vector<std::string_view> fields;
  SplitFields(*check, fields);
  std::size_t lines = 0;
  std::uint64_t sum = 0;
  if (fields.size() != 3 || fields[0] != NameOf(Kind::kCheck) || !ReadNumber(fields[1], &lines) ||
      !ReadHex(fields[2], &sum))
    return false;
  if (verify) {
    const BodySum found = SumOf(*body);
    if (found.sum != sum || found.lines != lines)
      return false;
  }
  check->remove_prefix(NameOf(Kind::kCheck).size() + 1);
  return true;
}

// The text's body and the fields of its check line (the last line), the check passed.
// False when the last line is no check of ours or the body fails it.
bool VouchedBody(std::string_view text, std::string_view* body, std::string_view* check) {
  return SplitChecked(text, true, body, check);
}

// The first bytes of the line at the start of `text`, by which the line is looked for.
std::string_view KeyOf(std::string_view text) {
  const std::size_t end = std::min(text.find('\n'), std::min(text.size(), kKeyBytes));
  return text.substr(0, end);
}

// Whether the line at the start of `line` belongs to the record above it.
bool ContinuesRecord(std::string_view line) {
  for (const Kind kind : {Kind::kInput, Kind::kLinks, Kind::kAbout}) {
    const std::string_view name = NameOf(kind);
    if (line.size() > name.size() && line.compare(0, name.size(), name) == 0 &&
        line[name.size()] == '\t')
      return true;
  }
  return false;
}

// Where the record after the one at `from` starts in `body` (its end when there is none).
std::size_t NextRecord(std::string_view body, std::size_t from) {
  for (bool first = true; from < body.size(); first = false) {
    if (!first && !ContinuesRecord(body.substr(from)))
      return from;
    const std::size_t end = body.find('\n', from);
    from = end == std::string_view::npos ? body.size() : end + 1;
  }
  return body.size();
}

// Whether `from` is where a line of `body` starts (or its end).
bool IsLineStart(std::string_view body, std::size_t from) {
  return from == 0 || (from <= body.size() && body[from - 1] == '\n');
}

}  // namespace

bool FormatSiteNews(const SiteState& state, std::string_view base, std::size_t limit,
                    std::string* news, bool* same) {
  // The base is a state this program read and checked, or wrote: its sum is not taken again.
  std::string_view body;
  std::string_view check;
  if (!SplitChecked(base, false, &body, &check))
    return false;
  std::string out;
  out.append(kNewsVersionLine).push_back('\n');
  out.append(kBaseRecord).append(check).push_back('\n');
  const std::size_t header = out.size();
  // The state is formatted a record at a time and each record looked for in the base: where
  // the base goes on with it, or further on (the base's records between are gone). The
  // records of the base are found by their first line, once one is not where the last one
  // ended; a record found nowhere is written out.
  std::size_t at = 0;  // in the base's body: where the last record taken ended
  std::size_t keepFrom = 0;
  std::size_t keepBytes = 0;
  std::string text;  // records of its own, not yet written out
  std::unordered_map<std::string_view, std::size_t> starts;
  bool indexed = false;
  const auto endKeep = [&] {
    if (keepBytes == 0)
      return;
    out.append(kKeepRecord);
    AppendNumber(out, keepFrom);
    out.push_back('\t');
    AppendNumber(out, keepBytes);
    out.push_back('\n');
    keepBytes = 0;
  };
  const auto endText = [&] {
    if (text.empty())
      return;
    out.append(kTextRecord);
    AppendNumber(out, text.size());
    out.push_back('\n');
    out.append(text);
    text.clear();
  };
  const auto keep = [&](std::size_t from, std::size_t bytes) {
    endText();
    if (keepBytes == 0 || keepFrom + keepBytes != from) {
      endKeep();
      keepFrom = from;
    }
    keepBytes += bytes;
    at = from + bytes;
  };
  const auto matches = [&](std::size_t from, std::string_view record) {
    return from <= body.size() && body.size() - from >= record.size() &&
           body.compare(from, record.size(), record) == 0;
  };
  std::string piece;
  piece.reserve(4096);
  // Records changed or gone where they were are found a few records on; only news out of
  // step with the base for longer (records moved) is worth finding the base's records by
  // their first lines.
  std::size_t misses = 0;
  const auto taken = [&](std::string& record) {
    record.clear();
    return out.size() + text.size() <= limit;
  };
  const bool fits = FormatBody(state, piece, 1, [&](std::string& record) {
    if (matches(at, record)) {
      keep(at, record.size());
      misses = 0;
      return taken(record);
    }
    std::size_t next = at;
    for (std::size_t k = 0; k < kLookAhead && next < body.size(); ++k) {
      next = NextRecord(body, next);
      if (matches(next, record)) {
        keep(next, record.size());
        misses = 0;
        return taken(record);
      }
    }
    if (!indexed && ++misses >= kMissesBeforeIndex) {
      indexed = true;
      for (std::size_t line = at; line < body.size();) {
        const std::string_view rest = body.substr(line);
        if (!ContinuesRecord(rest))
          starts.emplace(KeyOf(rest), line);
        const std::size_t end = body.find('\n', line);
        line = end == std::string_view::npos ? body.size() : end + 1;
      }
    }
    const auto found = indexed ? starts.find(KeyOf(record)) : starts.end();
    if (found != starts.end() && found->second >= at && matches(found->second, record)) {
      keep(found->second, record.size());
    } else {
      endKeep();
      text.append(record);
    }
    return taken(record);
  });
  if (!fits)
    return false;
  endText();
  endKeep();
  // One run of the base, whole: the state is the base.
  std::string whole(kKeepRecord);
  AppendNumber(whole, std::size_t{0});
  whole.push_back('\t');
  AppendNumber(whole, body.size());
  whole.push_back('\n');
  *same = out.compare(header, std::string::npos, whole) == 0;
  *news = WithCheckLine(std::move(out));
  return true;
}

StateRead ParseSiteState(std::string_view text, SiteState* state, std::string_view news,
                         bool* newsTaken) {
  if (newsTaken != nullptr)
    *newsTaken = false;
  const std::size_t firstEnd = text.find('\n');
  if (firstEnd == std::string_view::npos || text.substr(0, firstEnd) != kVersionLine)
    return StateRead::kOther;
  // The check is the last line: everything before it is what it vouches for.
  std::string_view body;
  std::string_view check;
  if (!VouchedBody(text, &body, &check))
    return StateRead::kDamaged;
  SiteState read;
  RecordReader reader(&read);
  // News of another version, or of another state (one written whole after it), is no news
  // of this one.
  std::string_view newsBody;
  std::string_view newsCheck;
  std::string newsHead(kNewsVersionLine);
  newsHead.append("\n").append(kBaseRecord).append(check).append("\n");
  if (news.substr(0, newsHead.size()) != newsHead) {
    if (!reader.Read(body.substr(firstEnd + 1)) || !reader.Whole())
      return StateRead::kDamaged;
    *state = std::move(read);
    return StateRead::kRead;
  }
  if (!VouchedBody(news, &newsBody, &newsCheck))
    return StateRead::kNewsDamaged;
  // The state's body made again from runs of the base and lines of the news' own, each a
  // run of whole lines further on than the last: no longer than the two together.
  std::size_t at = newsHead.size();
  std::size_t base = 0;  // in the base's body: where the last run kept ended
  bool first = true;
  std::vector<std::string_view> fields;
  while (at < newsBody.size()) {
    const std::size_t lineEnd = newsBody.find('\n', at);
    const std::string_view line = newsBody.substr(at, lineEnd - at);
    at = lineEnd + 1;
    SplitFields(line, fields);
    std::string_view piece;
    std::size_t from = 0;
    std::size_t bytes = 0;
    if (fields.size() == 3 && fields[0] == kKeepRecord.substr(0, kKeepRecord.size() - 1) &&
        ReadNumber(fields[1], &from) && ReadNumber(fields[2], &bytes) && bytes != 0 &&
        from >= base && from <= body.size() && body.size() - from >= bytes &&
        IsLineStart(body, from) && body[from + bytes - 1] == '\n') {
      piece = body.substr(from, bytes);
      base = from + bytes;
    } else if (fields.size() == 2 && fields[0] == kTextRecord.substr(0, kTextRecord.size() - 1) &&
               ReadNumber(fields[1], &bytes) && bytes != 0 && newsBody.size() - at >= bytes &&
               newsBody[at + bytes - 1] == '\n') {
      piece = newsBody.substr(at, bytes);
      at += bytes;
    } else {
      return StateRead::kNewsDamaged;
    }
    if (first) {
      // The state's first line, which the records go after.
      first = false;
      if (piece.substr(0, firstEnd + 1) != text.substr(0, firstEnd + 1))
        return StateRead::kNewsDamaged;
      piece.remove_prefix(firstEnd + 1);
    }
    if (!reader.Read(piece))
      return StateRead::kNewsDamaged;
  }
  if (first || !reader.Whole())
    return StateRead::kNewsDamaged;
  *state = std::move(read);
  if (newsTaken != nullptr)
    *newsTaken = true;
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
