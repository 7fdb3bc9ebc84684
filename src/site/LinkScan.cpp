// The scan of a page's HTML for the link check: a browser's tokenizer cut down to the
// attributes that hold ids and addresses, and the character references in their values.
#include <array>
#include <cstdint>
#include <cstring>
#include <unordered_set>

#include "site/LinkCheck.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// ---- Bytes as the HTML tokenizer and the address parser class them.

bool IsHtmlBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}
bool IsAsciiAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsAsciiAlnum(char c) {
  return IsAsciiAlpha(c) || IsAsciiDigit(c);
}
int HexValue(char c) {
  if (IsAsciiDigit(c))
    return c - '0';
  const char lower = AsciiLower(c);
  return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}
// The address parser drops the control bytes and spaces at either end of an address.
bool IsAddressEdge(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// ---- Character references.

// The names of U+00A0 to U+00FF in order. Browsers also take each of them without its
// ';', as old pages wrote them.
constexpr std::array<std::string_view, 96> kLatin1Names = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn",
    "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",
    "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
    "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave",
    "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde",
    "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",
    "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

struct NamedReference {
  std::string_view name;
  char32_t value;
  bool legacy;  // also taken without its ';'
};

// The other names: the markup ones the program writes, and the common typographic ones.
constexpr NamedReference kNamedReferences[] = {
    {"amp", U'&', true},       {"lt", U'<', true},        {"gt", U'>', true},
    {"quot", U'"', true},      {"AMP", U'&', true},       {"LT", U'<', true},
    {"GT", U'>', true},        {"QUOT", U'"', true},      {"COPY", 0xA9, true},
    {"REG", 0xAE, true},       {"apos", U'\'', false},    {"Tab", U'\t', false},
    {"NewLine", U'\n', false}, {"hellip", 0x2026, false}, {"mdash", 0x2014, false},
    {"ndash", 0x2013, false},  {"lsquo", 0x2018, false},  {"rsquo", 0x2019, false},
    {"sbquo", 0x201A, false},  {"ldquo", 0x201C, false},  {"rdquo", 0x201D, false},
    {"bdquo", 0x201E, false},  {"dagger", 0x2020, false}, {"Dagger", 0x2021, false},
    {"bull", 0x2022, false},   {"permil", 0x2030, false}, {"lsaquo", 0x2039, false},
    {"rsaquo", 0x203A, false}, {"prime", 0x2032, false},  {"Prime", 0x2033, false},
    {"euro", 0x20AC, false},   {"trade", 0x2122, false},  {"larr", 0x2190, false},
    {"uarr", 0x2191, false},   {"rarr", 0x2192, false},   {"darr", 0x2193, false},
    {"harr", 0x2194, false},   {"minus", 0x2212, false},  {"ensp", 0x2002, false},
    {"emsp", 0x2003, false},   {"thinsp", 0x2009, false}, {"zwnj", 0x200C, false},
    {"zwj", 0x200D, false},    {"lrm", 0x200E, false},    {"rlm", 0x200F, false},
    {"OElig", 0x152, false},   {"oelig", 0x153, false},   {"Scaron", 0x160, false},
    {"scaron", 0x161, false},  {"Yuml", 0x178, false},    {"fnof", 0x192, false},
    {"circ", 0x2C6, false},    {"tilde", 0x2DC, false},   {"le", 0x2264, false},
    {"ge", 0x2265, false},     {"ne", 0x2260, false},     {"infin", 0x221E, false},
};

// The longest name of the tables: a longer run of letters is no reference.
constexpr std::size_t kMaxReferenceName = 8;

std::optional<NamedReference> FindReference(std::string_view name) {
  for (std::size_t i = 0; i < kLatin1Names.size(); ++i) {
    if (kLatin1Names[i] == name)
      return NamedReference{name, static_cast<char32_t>(0xA0 + i), true};
  }
  for (const NamedReference& r : kNamedReferences) {
    if (r.name == name)
      return r;
  }
  return std::nullopt;
}

// What browsers make of the numbers 0x80 to 0x9F: the characters of windows-1252.
constexpr std::array<char16_t, 32> kC1Replacements = {
    0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021, 0x2C6,  0x2030, 0x160,
    0x2039, 0x152,  0x8D,   0x17D,  0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};

// Decodes the numeric reference whose '#' is at value[at]; returns the index after it, or
// `at` when no digit follows (the '&' then stays as it is).
std::size_t DecodeNumeric(std::string_view value, std::size_t at, std::string& out) {
  std::size_t i = at + 1;
  const bool hex = i < value.size() && (value[i] == 'x' || value[i] == 'X');
  if (hex)
    ++i;
  const std::size_t digitsAt = i;
  // The number stops growing past the largest character: the digits are still read, so
  // the time stays linear, and the result is the replacement character.
  std::uint32_t number = 0;
  for (; i < value.size(); ++i) {
    const int digit = hex ? HexValue(value[i]) : (IsAsciiDigit(value[i]) ? value[i] - '0' : -1);
    if (digit < 0)
      break;
    if (number <= 0x10FFFF)
      number = number * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
  }
  if (i == digitsAt)
    return at;
  if (i < value.size() && value[i] == ';')
    ++i;
  char32_t cp = number;
  if (number == 0 || number > 0x10FFFF || (number >= 0xD800 && number <= 0xDFFF)) {
    cp = 0xFFFD;
  } else if (number >= 0x80 && number <= 0x9F) {
    cp = kC1Replacements[number - 0x80];
  }
  AppendUtf8(out, cp);
  return i;
}

// An attribute's value with its character references decoded, as a browser reads it: a
// name without its ';' counts only for the old names and not before '=' (an address's
// "?a=1&copy=2" keeps its "&copy").
std::string DecodeReferences(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  std::size_t i = 0;
  while (i < value.size()) {
    const std::size_t amp = value.find('&', i);
    if (amp == std::string_view::npos) {
      out.append(value.substr(i));
      break;
    }
    out.append(value.substr(i, amp - i));
    i = amp + 1;
    if (i < value.size() && value[i] == '#') {
      const std::size_t after = DecodeNumeric(value, i, out);
      if (after != i) {
        i = after;
        continue;
      }
      out.push_back('&');
      continue;
    }
    std::size_t end = i;
    while (end < value.size() && end - i <= kMaxReferenceName && IsAsciiAlnum(value[end]))
      ++end;
    const std::string_view name = value.substr(i, end - i);
    const std::optional<NamedReference> found =
        name.size() <= kMaxReferenceName ? FindReference(name) : std::nullopt;
    const bool semicolon = end < value.size() && value[end] == ';';
    if (found && (semicolon || (found->legacy && (end == value.size() || value[end] != '=')))) {
      AppendUtf8(out, found->value);
      i = semicolon ? end + 1 : end;
      continue;
    }
    out.push_back('&');
  }
  return out;
}

// ---- The scan.

// Elements whose contents are text up to their end tag: no tag inside them is one.
constexpr std::string_view kTextElements[] = {"script", "style",  "textarea", "title",
                                              "xmp",    "iframe", "noembed",  "noframes"};
// The first letters of the names above and below.
constexpr std::string_view kTextElementStart = "stxinp";
// After it, the rest of the page is text.
constexpr std::string_view kPlainTextElement = "plaintext";
// No element name we look for is longer; a longer name is kept cut, which matches none.
constexpr std::size_t kMaxTagName = 10;

// The attributes the scan keeps, as bits of Tag::seen and indexes of Tag::values.
enum Attribute : std::uint8_t { kId, kName, kHref, kSrc, kNoAttribute };

// Which kept attribute a name is, by its length first: most names are none.
Attribute KeptAttribute(std::string_view name) {
  switch (name.size()) {
    case 2:
      return EqualsIgnoreCase(name, "id") ? kId : kNoAttribute;
    case 3:
      return EqualsIgnoreCase(name, "src") ? kSrc : kNoAttribute;
    case 4:
      if (EqualsIgnoreCase(name, "href"))
        return kHref;
      return EqualsIgnoreCase(name, "name") ? kName : kNoAttribute;
    default:
      return kNoAttribute;
  }
}

struct Tag {
  char name[kMaxTagName];  // the first nameSize bytes, lower case
  std::size_t nameSize = 0;
  bool complete = false;  // its '>' was found
  // The first value of each kept attribute (a browser drops the repeats), where its bit
  // is set.
  std::uint8_t seen = 0;
  std::string_view values[kNoAttribute];

  [[nodiscard]] bool Is(std::string_view n) const {
    return nameSize == n.size() && std::string_view(name, nameSize) == n;
  }
  [[nodiscard]] const std::string_view* Value(Attribute a) const {
    return (seen & (1u << a)) != 0 ? &values[a] : nullptr;
  }
};

// What ends a name inside a tag: the blanks, '/' and '>' end a tag's or an attribute's
// name, '=' an attribute's alone; the blanks and '>' end an unquoted value.
enum TagStop : std::uint8_t { kEndsTagName = 1, kEndsAttributeName = 2, kEndsValue = 4 };
constexpr std::array<std::uint8_t, 256> MakeTagStops() {
  std::array<std::uint8_t, 256> t{};
  for (const char c : {' ', '\t', '\n', '\f', '\r', '>'})
    t[static_cast<unsigned char>(c)] = kEndsTagName | kEndsAttributeName | kEndsValue;
  t['/'] = kEndsTagName | kEndsAttributeName;
  t['='] = kEndsAttributeName;
  return t;
}
constexpr std::array<std::uint8_t, 256> kTagStops = MakeTagStops();

bool Stops(char c, TagStop stop) {
  return (kTagStops[static_cast<unsigned char>(c)] & stop) != 0;
}

std::size_t SkipBlanks(std::string_view html, std::size_t i) {
  while (i < html.size() && IsHtmlBlank(html[i]))
    ++i;
  return i;
}

// After the first `c` at or beyond `i`, or the end.
std::size_t SkipPast(std::string_view html, std::size_t i, char c) {
  const std::size_t at = html.find(c, i);
  return at == std::string_view::npos ? html.size() : at + 1;
}

// Reads a tag from its name at `i` up to and with its '>'; returns the index after it.
// A tag that the page ends inside is no tag.
std::size_t ReadTag(std::string_view html, std::size_t i, Tag& tag) {
  const std::size_t n = html.size();
  for (; i < n && !Stops(html[i], kEndsTagName); ++i) {
    if (tag.nameSize < kMaxTagName)
      tag.name[tag.nameSize++] = AsciiLower(html[i]);
  }
  for (;;) {
    while (i < n && (IsHtmlBlank(html[i]) || html[i] == '/'))
      ++i;
    if (i >= n)
      return n;
    if (html[i] == '>') {
      tag.complete = true;
      return i + 1;
    }
    // The name takes at least one byte: a leading '=' belongs to it.
    const std::size_t nameAt = i++;
    while (i < n && !Stops(html[i], kEndsAttributeName))
      ++i;
    const Attribute kept = KeptAttribute(html.substr(nameAt, i - nameAt));
    i = SkipBlanks(html, i);
    std::string_view value;
    if (i < n && html[i] == '=') {
      i = SkipBlanks(html, i + 1);
      if (i < n && (html[i] == '"' || html[i] == '\'')) {
        const std::size_t close = html.find(html[i], i + 1);
        if (close == std::string_view::npos)
          return n;
        value = html.substr(i + 1, close - i - 1);
        i = close + 1;
      } else {
        const std::size_t valueAt = i;
        while (i < n && !Stops(html[i], kEndsValue))
          ++i;
        value = html.substr(valueAt, i - valueAt);
      }
    }
    if (kept != kNoAttribute && (tag.seen & (1u << kept)) == 0) {
      tag.seen |= static_cast<std::uint8_t>(1u << kept);
      tag.values[kept] = value;
    }
  }
}

// After the comment or declaration whose "<!" ends at `i`.
std::size_t SkipDeclaration(std::string_view html, std::size_t i) {
  if (html.substr(i, 2) != "--")
    return SkipPast(html, i, '>');
  i += 2;
  // "<!-->" and "<!--->" are whole, empty comments.
  if (html.substr(i, 1) == ">")
    return i + 1;
  if (html.substr(i, 2) == "->")
    return i + 2;
  for (;;) {
    const std::size_t dashes = html.find("--", i);
    if (dashes == std::string_view::npos)
      return html.size();
    if (html.substr(dashes + 2, 1) == ">")
      return dashes + 3;
    if (html.substr(dashes + 2, 2) == "!>")
      return dashes + 4;
    i = dashes + 1;
  }
}

// The start of the end tag of the text element `name` at or after `i`, or the end.
std::size_t FindEndTag(std::string_view html, std::size_t i, std::string_view name) {
  for (;;) {
    const std::size_t at = html.find("</", i);
    if (at == std::string_view::npos)
      return html.size();
    const std::size_t after = at + 2 + name.size();
    if (after <= html.size() && EqualsIgnoreCase(html.substr(at + 2, name.size()), name) &&
        (after == html.size() || IsHtmlBlank(html[after]) || html[after] == '/' ||
         html[after] == '>'))
      return at;
    i = at + 2;
  }
}

// Keeps the page's ids and links, each once, within the record's limits. Most addresses
// on a page are absolute and most values hold no reference: those are looked at in place,
// and only what is kept is copied.
class Collector_CL {
 public:
  explicit Collector_CL(PageLinks& page) : page_(page) {}
  void Id(std::string_view raw) { Keep(Decoded(raw), seenIds_, page_.ids); }
  void Link(std::string_view raw) {
    // An address with a scheme or from the root as written keeps it when references are
    // decoded and the bytes a browser drops are dropped: most are turned away here.
    std::size_t begin = 0;
    while (begin < raw.size() && IsAddressEdge(raw[begin]))
      ++begin;
    if (!IsRelativeLink(raw.substr(begin)))
      return;
    const std::string_view address = CleanAddress(Decoded(raw), cleaned_);
    // An empty address is the page itself, always there.
    if (!address.empty() && IsRelativeLink(address))
      Keep(address, seenLinks_, page_.links);
  }

 private:
  std::string_view Decoded(std::string_view raw) {
    if (raw.find('&') == std::string_view::npos)
      return raw;
    decoded_ = DecodeReferences(raw);
    return decoded_;
  }
  static void Keep(std::string_view value, std::unordered_set<std::string>& seen,
                   std::vector<std::string>& items) {
    if (value.size() > kMaxLinkValueBytes || items.size() >= kMaxPageLinkItems)
      return;
    const auto [at, fresh] = seen.emplace(value);
    if (fresh)
      items.push_back(*at);
  }
  PageLinks& page_;
  std::unordered_set<std::string> seenIds_;
  std::unordered_set<std::string> seenLinks_;
  std::string decoded_;
  std::string cleaned_;
};

void CollectTag(const Tag& tag, Collector_CL& collector) {
  if (const std::string_view* id = tag.Value(kId))
    collector.Id(*id);
  // A name marks a place to link to on an anchor only.
  if (const std::string_view* name = tag.Value(kName); name != nullptr && tag.Is("a"))
    collector.Id(*name);
  for (const Attribute a : {kHref, kSrc}) {
    if (const std::string_view* value = tag.Value(a))
      collector.Link(*value);
  }
}

}  // namespace

std::string_view CleanAddress(std::string_view value, std::string& scratch) {
  std::size_t begin = 0;
  std::size_t end = value.size();
  while (begin < end && IsAddressEdge(value[begin]))
    ++begin;
  while (end > begin && IsAddressEdge(value[end - 1]))
    --end;
  const std::string_view trimmed = value.substr(begin, end - begin);
  bool inner = false;
  for (const char c : trimmed)
    inner |= c == '\t' || c == '\n' || c == '\r';
  if (!inner)
    return trimmed;
  scratch.clear();
  for (const char c : trimmed) {
    if (c != '\t' && c != '\n' && c != '\r')
      scratch.push_back(c);
  }
  return scratch;
}

PageLinks ScanPage(std::string_view html) {
  PageLinks page;
  Collector_CL collector(page);
  const std::size_t n = html.size();
  std::size_t i = 0;
  while (i < n) {
    const void* lt = std::memchr(html.data() + i, '<', n - i);
    if (lt == nullptr)
      break;
    i = static_cast<std::size_t>(static_cast<const char*>(lt) - html.data()) + 1;
    if (i >= n)
      break;
    const char c = html[i];
    if (c == '!') {
      i = SkipDeclaration(html, i + 1);
    } else if (c == '?') {
      i = SkipPast(html, i, '>');
    } else if (c == '/') {
      if (i + 1 < n && IsAsciiAlpha(html[i + 1])) {
        // An end tag's attributes are read past and mean nothing.
        Tag ignored;
        i = ReadTag(html, i + 1, ignored);
      } else {
        i = SkipPast(html, i, '>');
      }
    } else if (IsAsciiAlpha(c)) {
      Tag tag;
      i = ReadTag(html, i, tag);
      if (!tag.complete)
        break;
      CollectTag(tag, collector);
      // Most tags are no text element, and their first letter says so.
      if (kTextElementStart.find(tag.name[0]) == std::string_view::npos)
        continue;
      if (tag.Is(kPlainTextElement))
        break;
      for (const std::string_view element : kTextElements) {
        if (tag.Is(element)) {
          i = FindEndTag(html, i, element);
          break;
        }
      }
    }
  }
  return page;
}

bool IsRelativeLink(std::string_view value) {
  if (value.empty())
    return true;
  if (value[0] == '/' || value[0] == '\\')
    return false;
  if (!IsAsciiAlpha(value[0]))
    return true;
  for (std::size_t i = 1; i < value.size(); ++i) {
    const char c = value[i];
    if (c == ':')
      return false;
    if (!IsAsciiAlnum(c) && c != '+' && c != '-' && c != '.')
      return true;
  }
  return true;
}

}  // namespace tarvix
