// Fuzzes the whole conversion of a document held in memory. The first byte chooses the
// options (-imagelink, a template or none); when a template is used, the input up to the
// first NUL byte after that is the template and the rest the document.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "api/Library.h"
#include "core/Parser_CL.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  const std::uint8_t flags = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);

  tarvix::PageOptions options;
  options.imageLink = (flags & 1) != 0;
  if (flags & 2) {
    const std::size_t split = rest.find('\0');
    if (split == std::string_view::npos) {
      // A template that uses every placeholder, so their filling is exercised too.
      options.templateText =
          "<title>####TITLE####</title>####KEYWORDS####|####DESCRIPTION####\n####SYNTAX####\n"
          "<a href=\"####ROOT####/\">####TOC####\n####BODY####</a>####BODY####";
    } else {
      options.templateText = std::string(rest.substr(0, split));
      rest.remove_prefix(split + 1);
    }
  }
  const std::string page = tarvix::ConvertDocument(rest, options).page;
  // A first pass completed where references were missing must give the page that a
  // second conversion of the whole document gives.
  tarvix::Parser_CL again;
  again.ConvertSecondPassInFull();
  if (tarvix::ConvertWith(again, rest, options).page != page)
    __builtin_trap();
  return 0;
}
