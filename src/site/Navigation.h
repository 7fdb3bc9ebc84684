// The site's navigation, the value of ####NAV#### in a site run: every page of the run as
// nested lists by folder, each a link from the page that holds it, that page marked.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
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

// The navigation of `pages` laid out once: For(current) gives the lists NavigationHtml
// gives, in time linear in their size.
class NavigationLayout {
 public:
  static constexpr std::size_t kNoPage = static_cast<std::size_t>(-1);
  // Text that comes before a page's address (kNoPage: the end of the lists).
  struct Piece {
    std::string text;
    std::size_t page;
  };
  explicit NavigationLayout(const std::vector<NavPage>& pages);
  virtual ~NavigationLayout() = default;
  [[nodiscard]] std::string For(std::size_t current) const;
  // Whether the navigation of page `current` holds `link` as one of its hrefs.
  [[nodiscard]] bool HoldsLink(std::size_t current, std::string_view link) const;

 private:
  std::vector<Piece> pieces_;
  std::vector<std::string> addresses_;  // by page
  std::vector<std::string> tails_;      // by page: from the end of its address on
  std::vector<std::string> targets_;
  std::unordered_set<std::string_view> addressSet_;  // views of addresses_
  std::size_t size_ = 0;
};

// The link the navigation of the page at `from` holds to the page at `target` (both below
// the output folder, with '/' between names), as its href says it.
[[nodiscard]] std::string NavigationHref(std::string_view from, std::string_view target);

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
// The titles are found when the first pages ask (a site without the placeholder never
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
  // The pages the navigation lists, with the titles it shows.
  [[nodiscard]] const std::vector<NavPage>& Pages() const;
  // Whether the navigation of `page` holds `link` as one of its hrefs.
  [[nodiscard]] bool HoldsLink(std::size_t page, std::string_view link) const;
  // The pages' own titles as their conversions found them (none: not made, the guess
  // stays). True when the sum changed.
  bool Settle(const std::vector<std::optional<std::string>>& titles);

 private:
  void FindTitles() const;
  // With every title found: the sum and the layout.
  void Ready() const;

  std::vector<std::string> documents_;
  std::vector<std::optional<Known>> known_;
  // Found once, shared by the pages that ask first.
  mutable std::vector<NavPage> pages_;
  mutable std::atomic<std::size_t> next_{0};
  mutable std::atomic<std::size_t> done_{0};
  mutable std::atomic<bool> ready_{false};
  mutable std::mutex readyMutex_;
  mutable std::condition_variable readyChanged_;
  mutable std::string sum_;
  mutable std::unique_ptr<NavigationLayout> layout_;
};

}  // namespace tarvix
