// How pages open in a browser learn that they changed: the outputs each rerun of the site
// run wrote or removed go out as one event of the event stream, which the script in every
// served page reads.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace tarvix::serve {

// The script added to served pages. It reloads the page when an event names anything it
// loaded (style sheets, scripts, images, fonts), and when it names the page itself; a page
// that runs no script of its own then takes its new body in place, without a navigation.
extern const std::string_view kReloadScript;

// Every file below the output folder by its path relative to it ('/' separated), with its
// stamp. Hidden names are left out, as the server never serves them. The folder `skip`,
// when there is one below `root` (found by identity, however it is spelled), is left out
// with all below it: an output folder inside the input, when the input is taken.
using OutputSnapshot = std::map<std::string, platform::FileStamp>;
[[nodiscard]] OutputSnapshot TakeSnapshot(const std::string& root, const std::string& skip = {});

// The URL paths ("/docs/a%20b.html") of the outputs a rerun wrote or removed, given
// relative to the output folder with '/' between names: sorted, each once.
[[nodiscard]] std::vector<std::string> UrlPathsOf(std::vector<std::string> outputs);

// A server-sent event naming `paths`, one "data:" line each.
[[nodiscard]] std::string ReloadEvent(const std::vector<std::string>& paths);

// `path` (bytes) as a URL path: every byte but letters, digits, "-._~/" percent-encoded.
[[nodiscard]] std::string EncodeUrlPath(std::string_view path);

}  // namespace tarvix::serve
