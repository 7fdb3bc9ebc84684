// Fuzzes the whole conversion of a document held in memory. The first byte chooses the
// options (-imagelink, a template or none); when a template is used, the input up to the
// first NUL byte after that is the template and the rest the document.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/Parser_CL.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  const std::uint8_t flags = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);

  tarvix::MemoryConversion conversion;
  conversion.imageLink = (flags & 1) ? 1 : 0;
  if (flags & 2) {
    conversion.hasTemplate = true;
    const std::size_t split = rest.find('\0');
    if (split == std::string_view::npos) {
      // A template that uses every placeholder, so their filling is exercised too.
      conversion.templateText =
          "<title>####TITLE####</title>####KEYWORDS####|####DESCRIPTION####\n####SYNTAX####\n"
          "<a href=\"####ROOT####/\">####TOC####\n####BODY####</a>####BODY####";
    } else {
      conversion.templateText = std::string(rest.substr(0, split));
      rest.remove_prefix(split + 1);
    }
  }
  conversion.document = std::string(rest);
  tarvix::Parser_CL parser;
  const std::string page = parser.ConvertInMemory(conversion);
  // A first pass completed where references were missing must give the page that a
  // second conversion of the whole document gives.
  conversion.realSecondPass = true;
  tarvix::Parser_CL again;
  if (again.ConvertInMemory(conversion) != page)
    __builtin_trap();
  return 0;
}
