// The site's navigation: the pages as a tree of folders, written as nested lists for each
// page that holds it, and the titles it shows.
#include "site/Navigation.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>

#include "core/Limits.h"
#include "core/Messages.h"
#include "core/PageSink_CL.h"
#include "core/Parser_CL.h"
#include "html/OutputPair.h"
#include "text/Text.h"

namespace tarvix {
namespace {

constexpr std::string_view kIndexName = "index";
constexpr std::string_view kCurrentMark = " aria-current=\"page\"";
// The walk goes no deeper than this many folders; the lists are nested no deeper either.
constexpr int kMaxNavigationDepth = 64;

// The name of a path's last part, and without its extension.
std::string_view LastName(std::string_view path) {
  const std::size_t at = path.rfind('/');
  return at == std::string_view::npos ? path : path.substr(at + 1);
}
std::string_view Stem(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

// A folder of the tree: its subfolders by name and its pages (indexes into the list).
struct Folder {
  std::map<std::string, std::unique_ptr<Folder>, std::less<>> folders;
  std::vector<std::size_t> pages;
};

// The address of `target` as an attribute holds it: the bytes a URL may hold as they are,
// the others as %XX.
void AppendAddress(std::string& out, std::string_view target) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : target) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
        std::string_view("-._~/!$'()*+,;=:@").find(c) != std::string_view::npos) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[u >> 4]);
      out.push_back(kHex[u & 15]);
    }
  }
}

// Lays the lists out once for every page: the text between the links, and for each link
// the page it leads to. What differs from page to page (the way up to the top, the mark of
// the page itself) is added when a page asks, so a site of N pages costs N copies of its
// navigation, not N walks of its tree.
class Writer {
 public:
  explicit Writer(const std::vector<NavPage>& pages) : pages_(pages) {}

  void List(const Folder& folder, int depth) {
    // One list of the folder's pages and subfolders by name, its index first; a page
    // comes before a folder of its own name.
    struct Entry {
      std::string_view name;
      const Folder* folder;
      std::size_t page;
    };
    std::vector<Entry> entries;
    for (const std::size_t page : folder.pages)
      entries.push_back({Stem(LastName(pages_[page].target)), nullptr, page});
    for (const auto& [name, sub] : folder.folders)
      entries.push_back({name, sub.get(), 0});
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      const bool aIndex = !a.folder && a.name == kIndexName;
      const bool bIndex = !b.folder && b.name == kIndexName;
      if (aIndex != bIndex)
        return aIndex;
      if (a.name != b.name)
        return a.name < b.name;
      return !a.folder && b.folder;
    });
    text_ += "<ul>\n";
    for (const Entry& entry : entries) {
      if (!entry.folder) {
        text_ += "<li><a href=\"";
        pieces_.push_back({std::move(text_), entry.page});
        text_.clear();
        continue;
      }
      text_ += "<li><span>";
      text_ += EscapeHtml(entry.name);
      text_ += "</span>\n";
      if (depth < kMaxNavigationDepth)
        List(*entry.folder, depth + 1);
      text_ += "</li>\n";
    }
    text_ += "</ul>";
    if (depth > 0)
      text_ += '\n';
  }

  // The pieces, the last one's text ending the lists.
  std::vector<NavigationLayout::Piece> Finish() {
    pieces_.push_back({std::move(text_), NavigationLayout::kNoPage});
    return std::move(pieces_);
  }

 private:
  const std::vector<NavPage>& pages_;
  std::string text_;
  std::vector<NavigationLayout::Piece> pieces_;
};

// Takes a page and keeps nothing of it: the title is all a guess wants.
class NoPage_CL final : public PageSink_CL {
 public:
  void Write(std::string_view) override {}
};

// The end of the document's first heading line (its underline for one made by a line of
// `=` or `-`), outside fenced code and comments; npos when there is none.
std::size_t FirstHeadingEnd(std::string_view text) {
  bool inFence = false;
  bool inComment = false;
  bool previousText = false;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    end = end == std::string_view::npos ? text.size() : end + 1;
    const std::string_view line = text.substr(at, end - at);
    const std::string_view trimmed = Trim(line);
    const std::size_t indent = line.find_first_not_of(' ');
    const bool shallow = indent != std::string_view::npos && indent < 4;
    if (inComment) {
      inComment = line.find("-->") == std::string_view::npos;
      previousText = false;
    } else if (shallow && (trimmed.starts_with("```") || trimmed.starts_with("~~~"))) {
      inFence = !inFence;
      previousText = false;
    } else if (!inFence) {
      const std::size_t open = line.find("<!--");
      if (open != std::string_view::npos && line.find("-->", open) == std::string_view::npos) {
        inComment = true;
        previousText = false;
      } else if (shallow && trimmed.starts_with('#')) {
        const std::size_t hashes = trimmed.find_first_not_of('#');
        if (hashes == std::string_view::npos || (hashes <= 6 && trimmed[hashes] == ' '))
          return end;
        previousText = true;
      } else if (shallow && previousText && !trimmed.empty() &&
                 (trimmed.find_first_not_of('=') == std::string_view::npos ||
                  trimmed.find_first_not_of('-') == std::string_view::npos)) {
        return end;
      } else {
        previousText = !trimmed.empty() && shallow;
      }
    }
    at = end;
  }
  return std::string_view::npos;
}

}  // namespace

std::string NavigationTitle(std::string_view own, std::string_view target) {
  if (!own.empty())
    return std::string(own);
  return EscapeHtml(Stem(LastName(target)));
}

std::string UpToTop(std::string_view target) {
  std::string up;
  for (const char c : target) {
    if (c == '/')
      up += "../";
  }
  return up;
}

std::string NavigationHref(std::string_view from, std::string_view target) {
  std::string href = UpToTop(from);
  AppendAddress(href, target);
  return href;
}

NavigationLayout::NavigationLayout(const std::vector<NavPage>& pages) {
  Folder top;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    Folder* folder = &top;
    std::string_view rest = pages[i].target;
    for (std::size_t slash = rest.find('/'); slash != std::string_view::npos;
         slash = rest.find('/')) {
      std::unique_ptr<Folder>& sub = folder->folders[std::string(rest.substr(0, slash))];
      if (!sub)
        sub = std::make_unique<Folder>();
      folder = sub.get();
      rest.remove_prefix(slash + 1);
    }
    folder->pages.push_back(i);
  }
  Writer writer(pages);
  writer.List(top, 0);
  pieces_ = writer.Finish();
  for (const NavPage& page : pages) {
    std::string address;
    AppendAddress(address, page.target);
    addresses_.push_back(std::move(address));
    tails_.push_back(">" + page.title + "</a></li>\n");
    targets_.push_back(page.target);
  }
  for (const std::string& address : addresses_)
    addressSet_.insert(address);
  for (const Piece& piece : pieces_) {
    size_ += piece.text.size();
    if (piece.page != kNoPage)
      size_ += addresses_[piece.page].size() + 1 + tails_[piece.page].size();
  }
}

std::string NavigationLayout::For(std::size_t current) const {
  const std::string up = current < targets_.size() ? UpToTop(targets_[current]) : std::string();
  std::string out;
  out.reserve(size_ + (pieces_.size() * up.size()) + kCurrentMark.size());
  for (const Piece& piece : pieces_) {
    out += piece.text;
    if (piece.page == kNoPage)
      continue;
    out += up;
    out += addresses_[piece.page];
    out += '"';
    if (piece.page == current)
      out += kCurrentMark;
    out += tails_[piece.page];
  }
  return out;
}

bool NavigationLayout::HoldsLink(std::size_t current, std::string_view link) const {
  if (current >= targets_.size())
    return false;
  // Every href is the way up from the page's folder, then an address.
  const std::string up = UpToTop(targets_[current]);
  return link.starts_with(up) && addressSet_.count(link.substr(up.size())) != 0;
}

std::string NavigationHtml(const std::vector<NavPage>& pages, std::size_t current) {
  return NavigationLayout(pages).For(current);
}

std::string NavigationSum(const std::vector<NavPage>& pages) {
  // FNV-1a over each target and title, each ended by a byte no path or title holds.
  std::uint64_t sum = 14695981039346656037ull;
  const auto add = [&](std::string_view bytes) {
    for (const char c : bytes)
      sum = (sum ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    sum = (sum ^ 0xFFu) * 1099511628211ull;
  };
  for (const NavPage& page : pages) {
    add(page.target);
    add(page.title);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i, sum >>= 4)
    text[static_cast<std::size_t>(i)] = kHex[sum & 15];
  return text;
}

// The title the conversion of `text` finds: its header's title, else its first heading.
std::string TitleOf(std::string_view text, const std::string& folder) {
  auto parser = std::make_unique<Parser_CL>();
  CollectedMessages_CL messages;
  NoPage_CL page;
  std::string title;
  ParserSettings settings;
  settings.messages = &messages;
  settings.pageSink = &page;
  settings.pageTitle = &title;
  settings.templateText.emplace();
  parser->UseSettings(std::move(settings));
  parser->UseDocumentView(text, folder);
  (void)parser->Run();
  return title;
}

std::string GuessTitle(const std::string& path) {
  std::string text;
  if (platform::ReadRegularFile(path, kMaxInputSize, &text) != platform::ReadResult::kRead)
    return {};
  const std::string folder = FolderOf(path);
  const std::size_t end = FirstHeadingEnd(text);
  if (end == std::string_view::npos)
    return TitleOf(text, folder);
  // A wrong guess costs every page that holds the navigation a second conversion, so the
  // document is converted whole where its beginning may read otherwise than in the page:
  // when the line we took for its first heading is none there (it lies inside an HTML
  // block), or the heading holds a link whose reference may be defined further down.
  const std::string_view head(text.data(), end);
  // The heading's last two lines: its text and, for an underlined one, the underline.
  std::size_t lineStart = end;
  for (int lines = 0; lines < 3 && lineStart != std::string_view::npos && lineStart > 0; ++lines)
    lineStart = head.rfind('\n', lineStart - 1);
  const std::string_view line = head.substr(lineStart == std::string_view::npos ? 0 : lineStart);
  std::string title = line.find('[') == std::string_view::npos ? TitleOf(head, folder) : "";
  return title.empty() ? TitleOf(text, folder) : title;
}

void Navigation_CL::Begin(std::vector<std::string> documents, std::vector<std::string> targets,
                          std::vector<std::optional<Known>> known) {
  documents_ = std::move(documents);
  known_ = std::move(known);
  pages_.clear();
  pages_.reserve(targets.size());
  for (std::string& target : targets) {
    std::replace(target.begin(), target.end(), platform::kPathSeparator, '/');
    pages_.push_back({std::move(target), {}});
  }
  next_ = 0;
  done_ = 0;
  ready_ = false;
  if (pages_.empty())
    Ready();
}

void Navigation_CL::Ready() const {
  sum_ = NavigationSum(pages_);
  layout_ = std::make_unique<NavigationLayout>(pages_);
  ready_ = true;
}

void Navigation_CL::FindTitles() const {
  if (ready_.load(std::memory_order_acquire))
    return;
  // Every page that asks while the titles are being found takes guesses of its own, so the
  // reading and converting of the documents runs on as many threads as pages are made.
  const std::size_t count = pages_.size();
  for (std::size_t i = next_.fetch_add(1); i < count; i = next_.fetch_add(1)) {
    const std::optional<Known>& known = i < known_.size() ? known_[i] : std::nullopt;
    const std::string own = known && platform::StampOf(documents_[i]) == known->stamp
                                ? known->title
                                : GuessTitle(documents_[i]);
    pages_[i].title = NavigationTitle(own, pages_[i].target);
    if (done_.fetch_add(1) + 1 == count) {
      const std::lock_guard<std::mutex> lock(readyMutex_);
      Ready();
      readyChanged_.notify_all();
    }
  }
  std::unique_lock<std::mutex> lock(readyMutex_);
  readyChanged_.wait(lock, [this] { return ready_.load(); });
}

const std::string& Navigation_CL::Sum() const {
  FindTitles();
  return sum_;
}

std::string Navigation_CL::Html(std::size_t page) const {
  FindTitles();
  return layout_->For(page);
}

bool Navigation_CL::HoldsLink(std::size_t page, std::string_view link) const {
  FindTitles();
  return layout_->HoldsLink(page, link);
}

const std::vector<NavPage>& Navigation_CL::Pages() const {
  FindTitles();
  return pages_;
}

bool Navigation_CL::Settle(const std::vector<std::optional<std::string>>& titles) {
  FindTitles();
  for (std::size_t i = 0; i < pages_.size() && i < titles.size(); ++i) {
    if (titles[i])
      pages_[i].title = NavigationTitle(*titles[i], pages_[i].target);
  }
  const std::string before = sum_;
  Ready();
  return sum_ != before;
}

}  // namespace tarvix
