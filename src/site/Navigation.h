// The site's navigation, the value of ####NAV#### in a site run: every page of the run as
// nested lists by folder, each a link from the page that holds it, that page marked.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace tarvix {

// One page as the navigation lists it: its file below the output folder, with '/' between
// names, and the title it shows (HTML, as the page's heading or title shows it).
struct NavPage {
  std::string target;
  std::string title;
};

// The title a page shows in the navigation: `own` (its header's title, else its first
// heading's text) when it has one, else its file name without the extension.
[[nodiscard]] std::string NavigationTitle(std::string_view own, std::string_view target);

// The lists for the page `current` of `pages`: a folder's pages and subfolders in one list
// by name, its index page first; a subfolder is an item named after it that holds its own
// list. Each link leads from the current page's folder through the output folder's top;
// the current page's link says aria-current="page".
[[nodiscard]] std::string NavigationHtml(const std::vector<NavPage>& pages, std::size_t current);

// A sum over the pages' targets and titles in order: a page holds the navigation of this
// sum, and is made again when the site's sum is another.
[[nodiscard]] std::string NavigationSum(const std::vector<NavPage>& pages);

// The title the document at `path` will have (its header's title, else its first heading),
// found by converting the document up to its first heading alone: a guess, which the run
// checks against the page once it is made. Empty when it has neither.
[[nodiscard]] std::string GuessTitle(const std::string& path);

// Navigation_CL keeps a site run's pages and titles for the pages that hold the navigation.
// The titles are found the first time a page asks (a site without the placeholder never
// reads a document for them): from the previous run's record where the document has not
// changed since, else guessed. Sum and Html may be called from several threads at once;
// Settle only while no page is being made.
class Navigation_CL {
 public:
  // What the previous run knew of a document: its stamp then and its title.
  struct Known {
    platform::FileStamp stamp;
    std::string title;
  };

  Navigation_CL() = default;
  virtual ~Navigation_CL() = default;
  Navigation_CL(const Navigation_CL&) = delete;
  Navigation_CL& operator=(const Navigation_CL&) = delete;

  // The run's documents (paths to read), their targets (as the state names them) and what
  // the previous run knew of each.
  void Begin(std::vector<std::string> documents, std::vector<std::string> targets,
             std::vector<std::optional<Known>> known);
  [[nodiscard]] const std::string& Sum() const;
  [[nodiscard]] std::string Html(std::size_t page) const;
  // The pages' own titles as their conversions found them (none: not made, the guess
  // stays). True when the sum changed.
  bool Settle(const std::vector<std::optional<std::string>>& titles);

 private:
  void FindTitles() const;

  std::vector<std::string> documents_;
  std::vector<std::optional<Known>> known_;
  // Found once, by the first page that asks.
  mutable std::vector<NavPage> pages_;
  mutable std::once_flag found_;
  mutable std::string sum_;
};

}  // namespace tarvix
