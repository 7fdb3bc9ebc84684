// What a site run remembers in its output folder between runs: the options it ran with and,
// for each page, the files the page was made from with their stamps, so that the next run
// converts only the pages whose inputs changed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace tarvix {

// The name of the state file inside the output folder.
inline constexpr std::string_view kSiteStateName = ".tarvix-site";

struct SiteInput {
  std::string path;  // as the page's run named it
  platform::FileStamp stamp;
};

struct SitePage {
  std::string document;  // relative to the input folder
  std::string target;    // the page file written
  std::vector<SiteInput> inputs;
};

struct SiteState {
  std::string options;  // everything besides the files that decides what a page holds
  std::vector<SitePage> pages;
};

// The text of the state file, one record a line:
//   tarvix-site 1
//   options <TAB> TEXT
//   page <TAB> DOCUMENT <TAB> TARGET
//   input <TAB> TIME <TAB> SIZE <TAB> PATH      (TIME and SIZE "-" for a missing file)
// each "input" line belonging to the "page" above it. In the texts a backslash, a tab, a
// line feed and a carriage return are written \\, \t, \n and \r.
[[nodiscard]] std::string FormatSiteState(const SiteState& state);

// The state from a state file's text; nothing when the text is not a state file of this
// version (the run then converts every page).
[[nodiscard]] std::optional<SiteState> ParseSiteState(std::string_view text);

}  // namespace tarvix
