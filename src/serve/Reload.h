// How pages open in a browser learn that they changed: the output folder is compared before
// and after each rerun of the site run, and the paths that changed go out as one event of
// the event stream, which the script in every served page reads.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace tarvix::serve {

// The script added to served pages. It reloads the page when an event names the page
// itself or anything it loaded (style sheets, scripts, images, fonts).
extern const std::string_view kReloadScript;

// Every file below the output folder by its path relative to it ('/' separated), with its
// stamp. Hidden names are left out, as the server never serves them.
using OutputSnapshot = std::map<std::string, platform::FileStamp>;
[[nodiscard]] OutputSnapshot TakeSnapshot(const std::string& root);

// The URL paths ("/docs/a%20b.html") of the files added, changed or removed between two
// snapshots, in order.
[[nodiscard]] std::vector<std::string> ChangedPaths(const OutputSnapshot& before,
                                                    const OutputSnapshot& after);

// A server-sent event naming `paths`, one "data:" line each.
[[nodiscard]] std::string ReloadEvent(const std::vector<std::string>& paths);

// `path` (bytes) as a URL path: every byte but letters, digits, "-._~/" percent-encoded.
[[nodiscard]] std::string EncodeUrlPath(std::string_view path);

}  // namespace tarvix::serve
