// Fuzzes the link check's readers of untrusted bytes: the scan of a page and the reading
// of a record from the site state. What the scan keeps must be written and read back
// unchanged, and the check over pages made of it must finish. An input with a zero byte is
// also a state file and its news (before and after the byte): a state read from them is
// written again, read back, and is news of nothing to its own text.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "site/LinkCheck.h"
#include "site/SiteState.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const tarvix::PageLinks page = tarvix::ScanPage(input);
  for (const std::string& link : page.links) {
    if (link.size() > tarvix::kMaxLinkValueBytes || !tarvix::IsRelativeLink(link))
      __builtin_trap();
  }
  const std::optional<tarvix::PageLinks> back =
      tarvix::ParsePageLinks(tarvix::FormatPageLinks(page));
  if (!back || back->ids != page.ids || back->links != page.links)
    __builtin_trap();
  // A record that is read at all is read back the same after writing it again.
  if (const std::optional<tarvix::PageLinks> read = tarvix::ParsePageLinks(input)) {
    const std::optional<tarvix::PageLinks> again =
        tarvix::ParsePageLinks(tarvix::FormatPageLinks(*read));
    if (!again || again->ids != read->ids || again->links != read->links)
      __builtin_trap();
  }
  const std::vector<tarvix::LinkPage> pages = {{"s/a.md", "d/a.html", &page},
                                               {"s/b.md", "d/e/index.html", &page}};
  const std::vector<tarvix::BrokenLink> broken =
      tarvix::CheckSiteLinks(pages, [](std::string_view path) {
        return path.size() % 3 == 0   ? tarvix::PathKind::File
               : path.size() % 3 == 1 ? tarvix::PathKind::Folder
                                      : tarvix::PathKind::Missing;
      });
  for (const tarvix::BrokenLink& b : broken) {
    if (tarvix::BrokenLinkMessage(pages[b.page], b).find('\n') != std::string::npos)
      __builtin_trap();
  }
  if (const std::size_t zero = input.find('\0'); zero != std::string_view::npos) {
    tarvix::SiteState state;
    if (tarvix::ParseSiteState(input.substr(0, zero), &state, input.substr(zero + 1)) ==
        tarvix::StateRead::kRead) {
      const std::string text = tarvix::FormatSiteState(state);
      tarvix::SiteState again;
      std::string news;
      bool same = false;
      if (tarvix::ParseSiteState(text, &again) != tarvix::StateRead::kRead ||
          tarvix::FormatSiteState(again) != text ||
          !tarvix::FormatSiteNews(state, text, SIZE_MAX, &news, &same) || !same)
        __builtin_trap();
    }
  }
  return 0;
}
