// The table of contents: the list "####TOC####" becomes, from the headings the pass noted.
#include "core/Toc.h"

#include "platform/Platform.h"
#include "text/Text.h"

namespace tarvix {
namespace {

constexpr std::string_view kOpenOuterList = "<ul class=\"toc\">\n";
constexpr std::string_view kOpenList = "<ul>\n";
constexpr std::string_view kCloseItemAndList = "</li>\n</ul>";

bool IsUnreserved(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

// Where the list goes: a string, or a count of its bytes that builds nothing.
struct CountedText {
  std::uint64_t size = 0;
  CountedText& append(std::string_view bytes) {
    size += bytes.size();
    return *this;
  }
  void push_back(char) { ++size; }
};

template <class Out>
void AppendItem(Out& out, const TocEntry& entry) {
  out.append("<li><a href=\"#").append(PercentEncode(entry.id)).append("\">");
  out.append(entry.text).append("</a>");
}

template <class Out>
void AppendTableOfContents(const std::vector<TocEntry>& entries, Out& out) {
  // The levels of the items still open, the outermost list's first; each item after the
  // first sits in a list nested inside the item before it.
  std::vector<std::int32_t> open;
  for (const TocEntry& entry : entries) {
    if (open.empty()) {
      out.append(kOpenOuterList);
    } else if (entry.level > open.back()) {
      out.push_back('\n');
      out.append(kOpenList);
    } else {
      while (open.size() > 1 && open[open.size() - 2] >= entry.level) {
        out.append(kCloseItemAndList).push_back('\n');
        open.pop_back();
      }
      out.append("</li>\n");
      open.pop_back();
    }
    AppendItem(out, entry);
    open.push_back(entry.level);
  }
  for (std::size_t i = 0; i < open.size(); ++i) {
    if (i > 0)
      out.push_back('\n');
    out.append(kCloseItemAndList);
  }
}

}  // namespace

std::string PercentEncode(std::string_view id) {
  constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(id.size());
  for (char c : id) {
    if (IsUnreserved(c)) {
      encoded.push_back(c);
      continue;
    }
    const auto byte = static_cast<unsigned char>(c);
    encoded.push_back('%');
    encoded.push_back(kHex[byte >> 4]);
    encoded.push_back(kHex[byte & 0x0F]);
  }
  return encoded;
}

std::string WithoutTags(std::string_view html) {
  std::string text;
  text.reserve(html.size());
  bool inTag = false;
  char quote = 0;
  for (char c : html) {
    if (!inTag) {
      if (c == '<') {
        inTag = true;
      } else {
        text.push_back(c);
      }
    } else if (quote != 0) {
      if (c == quote)
        quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      inTag = false;
    }
  }
  return std::string(Trim(text));
}

std::string BuildTableOfContents(const std::vector<TocEntry>& entries) {
  std::string out;
  AppendTableOfContents(entries, out);
  return out;
}

std::uint64_t TableOfContentsSize(const std::vector<TocEntry>& entries) {
  CountedText counted;
  AppendTableOfContents(entries, counted);
  return counted.size;
}

void TocNotes_CL::Reserve(std::size_t headings) {
  notes_.reserve(headings);
  platform::AdviseLargeBuffer(notes_.data(), notes_.capacity() * sizeof(NotedHeading));
}

std::optional<std::string> TocNotes_CL::Build(std::string_view bodyHtml, std::uint64_t limit,
                                              const FirstPass_CL& firstPass) const {
  std::vector<TocEntry> entries;
  entries.reserve(notes_.size());
  std::string filled;
  for (const NotedHeading& heading : notes_) {
    // A completed first pass still has holes where a reference stood; the text a second
    // pass would show is the one with them filled.
    std::string_view html =
        bodyHtml.substr(heading.idAt + heading.idSize + kIdEnd.size(), heading.htmlSize);
    if (firstPass.filling && html.find('\0') != std::string_view::npos) {
      filled = firstPass.FillHoles(html);
      html = filled;
    }
    const std::int32_t level = bodyHtml[heading.idAt - kIdStart.size() - 1] - '0';
    entries.push_back(
        {level, std::string(bodyHtml.substr(heading.idAt, heading.idSize)), WithoutTags(html)});
  }
  // Its headings are the body's, but each costs tags and an encoded id besides: the list
  // is counted before it is built.
  if (TableOfContentsSize(entries) > limit)
    return std::nullopt;
  return BuildTableOfContents(entries);
}

}  // namespace tarvix
