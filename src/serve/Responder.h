// What the preview answers to one request, decided without the network: the file below
// the output folder a path names, its content type, the reload script added to pages, and
// the conditional answers. The server (HttpServer_CL) only carries requests and replies.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvix::serve {

// The path of the preview's own event stream. A name starting with "." is never a file we
// serve, so no page of the site can take this path.
inline constexpr std::string_view kEventsPath = "/.tarvix/events";

struct Request {
  std::string method;           // "GET", "HEAD", ...
  std::string target;           // as sent: path, then perhaps "?query"
  std::string ifModifiedSince;  // header values, empty when absent
  std::string ifNoneMatch;
};

struct Reply {
  unsigned status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string text;  // the body, when it is not a file
  std::string file;  // the body is this file's bytes, sent as they are
  std::uint64_t fileSize = 0;
  bool withBody = true;  // false for HEAD and 304: the headers alone
};

// The answer to `request` from the files below `root` (a folder path without a trailing
// separator). Pages (text/html) get the reload script when `reloadScript` is set.
[[nodiscard]] Reply Respond(const Request& request, const std::string& root, bool reloadScript);

// The content type for a file name, from its extension (compared without regard to ASCII
// case); application/octet-stream for any other.
[[nodiscard]] std::string_view ContentTypeOf(std::string_view name);

// The path of a request target percent-decoded, without its query; nothing when an escape
// is malformed or decodes to a NUL byte.
[[nodiscard]] std::optional<std::string> DecodeTargetPath(std::string_view target);

// `page` with the reload script before its last "</body>" (any ASCII case) outside a
// comment, a script or a style sheet, or at its end.
[[nodiscard]] std::string WithReloadScript(std::string_view page);

// HTTP dates (RFC 7231's IMF-fixdate, "Sun, 06 Nov 1994 08:49:37 GMT") from and to seconds
// since 1970; parsing takes that form alone, as every browser sends it.
[[nodiscard]] std::string FormatHttpDate(std::int64_t seconds);
[[nodiscard]] std::optional<std::int64_t> ParseHttpDate(std::string_view text);

}  // namespace tarvix::serve
