// The preview's answers: a request path resolved to a file below the output folder, or a
// folder's index page, a redirect, a 404 page or a refusal.
#include "serve/Responder.h"

#include <array>
#include <charconv>

#include "platform/Platform.h"
#include "platform/Watch.h"
#include "serve/Reload.h"
#include "text/Text.h"

namespace tarvix::serve {
namespace {

struct ContentTypeRow {
  std::string_view extension;
  std::string_view type;
};
constexpr ContentTypeRow kContentTypes[] = {
    {".html", "text/html; charset=utf-8"},
    {".htm", "text/html; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"},
    {".mjs", "text/javascript; charset=utf-8"},
    {".svg", "image/svg+xml"},
    {".png", "image/png"},
    {".jpg", "image/jpeg"},
    {".jpeg", "image/jpeg"},
    {".gif", "image/gif"},
    {".webp", "image/webp"},
    {".ico", "image/x-icon"},
    {".json", "application/json"},
    {".txt", "text/plain; charset=utf-8"},
    {".woff2", "font/woff2"},
    {".pdf", "application/pdf"},
};
constexpr std::string_view kDefaultContentType = "application/octet-stream";
constexpr std::string_view kIndexName = "index.html";
// A page larger than this is sent as it is, without the reload script, rather than read
// whole into memory to add it.
constexpr std::uint64_t kMaxScriptedPage = 64 * 1024 * 1024;

constexpr std::string_view kNotFoundPage =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Not found</title></head>"
    "<body><h1>Not found</h1><p>No file below the preview's folder has this name.</p>"
    "</body></html>\n";

constexpr std::array<std::string_view, 7> kDayNames = {"Thu", "Fri", "Sat", "Sun",
                                                       "Mon", "Tue", "Wed"};
constexpr std::array<std::string_view, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Days since 1970-01-01 of a civil date, and back (Howard Hinnant's algorithms).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

std::string TwoDigits(unsigned n) {
  return std::string{static_cast<char>('0' + n / 10 % 10), static_cast<char>('0' + n % 10)};
}

std::optional<unsigned> Number(std::string_view text) {
  unsigned n = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (error != std::errc() || end != text.data() + text.size() || text.empty())
    return std::nullopt;
  return n;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

std::string Hex(std::uint64_t n) {
  char buffer[17];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, n, 16);
  (void)error;
  return std::string(buffer, end);
}

// The validator of a file's bytes: the modification time to the system's full precision
// and the size, so that two writes within one second still differ (a date would not).
std::string EntityTag(const platform::FileStamp& stamp) {
  // Appended piece by piece: an optimizing g++ 12 warns falsely on a literal + string.
  std::string tag(1, '"');
  tag.append(Hex(static_cast<std::uint64_t>(stamp.time))).append(1, '-').append(Hex(stamp.size));
  tag.push_back('"');
  return tag;
}

bool TagListed(std::string_view list, std::string_view tag) {
  if (list.find('*') != std::string_view::npos)
    return true;
  // Each listed tag may come weak ("W/") or strong; ours compare by their quoted text.
  return list.find(tag) != std::string_view::npos;
}

Reply TextReply(unsigned status, std::string_view text, std::string_view type) {
  Reply reply;
  reply.status = status;
  reply.text = std::string(text);
  reply.headers.emplace_back("Content-Type", std::string(type));
  return reply;
}

Reply NotFound(bool reloadScript) {
  Reply reply = TextReply(404, reloadScript ? WithReloadScript(kNotFoundPage) : kNotFoundPage,
                          "text/html; charset=utf-8");
  reply.headers.emplace_back("Cache-Control", "no-store");
  return reply;
}

// True when the resolved `real` path lies below `rootReal`, so that no link takes a
// request out of the output folder.
bool Below(const std::string& rootReal, const std::string& real) {
  if (rootReal.empty() || real.size() <= rootReal.size())
    return false;
  const bool separated = rootReal.back() == platform::kPathSeparator ||
                         real[rootReal.size()] == platform::kPathSeparator;
  return separated && real.compare(0, rootReal.size(), rootReal) == 0;
}

// True when a name of `real` below `rootReal` starts with ".": a link inside the output
// folder may lead to the state file or another hidden name the path itself does not show.
bool HiddenBelow(const std::string& rootReal, const std::string& real) {
  for (std::size_t i = rootReal.size(); i < real.size(); ++i) {
    if ((i == rootReal.size() || real[i - 1] == platform::kPathSeparator) && real[i] == '.')
      return true;
  }
  return false;
}

// True when `text` at `at` starts with `word` (ASCII case ignored) and the name ends there.
bool TagAt(std::string_view text, std::size_t at, std::string_view word) {
  if (!EqualsIgnoreCase(text.substr(at, word.size()), word))
    return false;
  if (at + word.size() >= text.size())
    return true;
  const char next = text[at + word.size()];
  return next == '>' || next == '/' || next == ' ' || next == '\t' || next == '\n' ||
         next == '\r' || next == '\f';
}

// Where `needle` (ASCII case ignored) first comes in `text` from `from`; npos when nowhere.
std::size_t FindIgnoreCase(std::string_view text, std::string_view needle, std::size_t from) {
  for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
    if (EqualsIgnoreCase(text.substr(i, needle.size()), needle))
      return i;
  }
  return std::string_view::npos;
}

// The offset of the last "</body>" outside a comment, a script or a style sheet, where the
// browser reads it as the body's end; npos when there is none. One that is unterminated
// runs to the end of the page.
std::size_t BodyEndOutsideScripts(std::string_view page) {
  constexpr std::string_view kBodyEnd = "</body>";
  constexpr std::string_view kRawElements[] = {"script", "style"};
  std::size_t found = std::string_view::npos;
  std::size_t at = 0;
  while ((at = page.find('<', at)) != std::string_view::npos) {
    if (page.compare(at, 4, "<!--") == 0) {
      const std::size_t end = page.find("-->", at + 4);
      if (end == std::string_view::npos)
        break;
      at = end + 3;
      continue;
    }
    bool raw = false;
    for (const std::string_view element : kRawElements) {
      if (!TagAt(page, at + 1, element))
        continue;
      const std::size_t end = FindIgnoreCase(page, "</" + std::string(element), at + 1);
      at = end == std::string_view::npos ? page.size() : end + 2 + element.size();
      raw = true;
      break;
    }
    if (raw)
      continue;
    if (EqualsIgnoreCase(page.substr(at, kBodyEnd.size()), kBodyEnd))
      found = at;
    ++at;
  }
  return found;
}

}  // namespace

std::string_view ContentTypeOf(std::string_view name) {
  const std::size_t slash = name.rfind('/');
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
    return kDefaultContentType;
  const std::string_view extension = name.substr(dot);
  for (const ContentTypeRow& row : kContentTypes) {
    if (EqualsIgnoreCase(extension, row.extension))
      return row.type;
  }
  return kDefaultContentType;
}

std::optional<std::string> DecodeTargetPath(std::string_view target) {
  const std::size_t query = target.find_first_of("?#");
  if (query != std::string_view::npos)
    target = target.substr(0, query);
  std::string path;
  path.reserve(target.size());
  for (std::size_t i = 0; i < target.size(); ++i) {
    char c = target[i];
    if (c == '%') {
      if (i + 2 >= target.size())
        return std::nullopt;
      const int high = HexValue(target[i + 1]);
      const int low = HexValue(target[i + 2]);
      if (high < 0 || low < 0)
        return std::nullopt;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    if (c == '\0')
      return std::nullopt;
    path.push_back(c);
  }
  return path;
}

std::string WithReloadScript(std::string_view page) {
  const std::string script = "<script>" + std::string(kReloadScript) + "</script>\n";
  const std::size_t at = BodyEndOutsideScripts(page);
  std::string out;
  out.reserve(page.size() + script.size());
  if (at == std::string_view::npos) {
    out.append(page).append(script);
  } else {
    out.append(page.substr(0, at)).append(script).append(page.substr(at));
  }
  return out;
}

std::string FormatHttpDate(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days, &year, &month, &day);
  const std::int64_t weekday = ((days % 7) + 7) % 7;
  const auto hour = static_cast<unsigned>(rest / 3600);
  const auto minute = static_cast<unsigned>(rest / 60 % 60);
  const auto second = static_cast<unsigned>(rest % 60);
  return std::string(kDayNames[static_cast<std::size_t>(weekday)]) + ", " + TwoDigits(day) + " " +
         std::string(kMonthNames[month - 1]) + " " + std::to_string(year) + " " + TwoDigits(hour) +
         ":" + TwoDigits(minute) + ":" + TwoDigits(second) + " GMT";
}

std::optional<std::int64_t> ParseHttpDate(std::string_view text) {
  // "Sun, 06 Nov 1994 08:49:37 GMT": every field at a fixed place.
  if (text.size() != 29 || text.substr(3, 2) != ", " || text[7] != ' ' || text[11] != ' ' ||
      text[16] != ' ' || text[19] != ':' || text[22] != ':' || text.substr(25) != " GMT")
    return std::nullopt;
  unsigned month = 0;
  while (month < kMonthNames.size() && kMonthNames[month] != text.substr(8, 3))
    ++month;
  const auto day = Number(text.substr(5, 2));
  const auto year = Number(text.substr(12, 4));
  const auto hour = Number(text.substr(17, 2));
  const auto minute = Number(text.substr(20, 2));
  const auto second = Number(text.substr(23, 2));
  if (month == kMonthNames.size() || !day || !year || !hour || !minute || !second || *day < 1 ||
      *day > 31 || *hour > 23 || *minute > 59 || *second > 60)
    return std::nullopt;
  return DaysFromCivil(*year, month + 1, *day) * 86400 + *hour * 3600 + *minute * 60 + *second;
}

Reply Respond(const Request& request, const std::string& root, bool reloadScript) {
  if (request.method != "GET" && request.method != "HEAD") {
    Reply reply = TextReply(405, "Method not allowed\n", "text/plain; charset=utf-8");
    reply.headers.emplace_back("Allow", "GET, HEAD");
    return reply;
  }
  const bool head = request.method == "HEAD";
  const auto finish = [&](Reply reply) {
    reply.withBody = reply.withBody && !head;
    return reply;
  };
  const std::optional<std::string> path = DecodeTargetPath(request.target);
  if (!path || path->empty() || (*path)[0] != '/')
    return finish(TextReply(400, "Bad request\n", "text/plain; charset=utf-8"));

  // Each name of the path must be a plain name: no "..", nothing hidden, no separator of
  // the system's own inside a name.
  std::string file = root;
  std::size_t start = 1;
  bool folderAsked = false;
  while (start <= path->size()) {
    std::size_t end = path->find('/', start);
    if (end == std::string::npos)
      end = path->size();
    const std::string_view name = std::string_view(*path).substr(start, end - start);
    if (name.empty()) {
      folderAsked = end == path->size();
    } else {
      if (name[0] == '.' || name.find('\\') != std::string_view::npos ||
          name.find(platform::kPathSeparator) != std::string_view::npos ||
          name.find(':') != std::string_view::npos)
        return finish(NotFound(reloadScript));
      file.append(1, platform::kPathSeparator).append(name);
      folderAsked = false;
    }
    start = end + 1;
  }

  const std::string rootReal = platform::RealPath(root);
  std::string real = platform::RealPath(file);
  if (real.empty() || (real != rootReal && !Below(rootReal, real)) || HiddenBelow(rootReal, real))
    return finish(NotFound(reloadScript));
  std::string name = file;
  if (platform::IsFolder(real)) {
    if (!folderAsked && path->size() > 1) {
      // Links in the index page are relative to the folder: the browser must ask for it
      // with its trailing '/'.
      Reply reply = TextReply(301, "", "text/plain; charset=utf-8");
      std::string location = EncodeUrlPath(*path) + "/";
      reply.headers.emplace_back("Location", location);
      return finish(reply);
    }
    name = file + platform::kPathSeparator + std::string(kIndexName);
    real = platform::RealPath(name);
    if (real.empty() || !Below(rootReal, real) || HiddenBelow(rootReal, real))
      return finish(NotFound(reloadScript));
  } else if (folderAsked) {
    return finish(NotFound(reloadScript));
  }

  platform::FileStatus status;
  if (!platform::StatusOf(real, &status) || status.kind != platform::FileKind::Regular)
    return finish(NotFound(reloadScript));
  const platform::FileStamp stamp = platform::StampOf(real);
  const std::string tag = EntityTag(stamp);
  const std::int64_t modified = platform::UnixSeconds(stamp.time);

  Reply reply;
  const std::string_view type = ContentTypeOf(name);
  reply.headers.emplace_back("Content-Type", std::string(type));
  reply.headers.emplace_back("Last-Modified", FormatHttpDate(modified));
  reply.headers.emplace_back("ETag", tag);
  // The browser asks again each time, so an edit shows at the next load.
  reply.headers.emplace_back("Cache-Control", "no-cache");

  // A tag, where the browser sent one, decides alone: a date has whole seconds only.
  bool unchanged = false;
  if (!request.ifNoneMatch.empty()) {
    unchanged = TagListed(request.ifNoneMatch, tag);
  } else if (const auto since = ParseHttpDate(request.ifModifiedSince)) {
    unchanged = modified <= *since;
  }
  if (unchanged) {
    reply.status = 304;
    reply.withBody = false;
    return finish(reply);
  }

  const bool page = type.substr(0, 9) == "text/html";
  if (page && reloadScript && status.size <= kMaxScriptedPage) {
    std::string bytes;
    if (!platform::ReadWholeFile(real, false, &bytes))
      return finish(NotFound(reloadScript));
    reply.text = WithReloadScript(bytes);
    return finish(reply);
  }
  reply.file = real;
  reply.fileSize = status.size;
  return finish(reply);
}

}  // namespace tarvix::serve
