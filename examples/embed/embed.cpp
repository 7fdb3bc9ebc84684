// Converts a document held in a string through the tarvix library and prints the page,
// then does the same through the C interface. Build it against an installed tarvix with
// the CMakeLists.txt beside it, or with pkg-config:
//   c++ -std=c++20 embed.cpp $(pkg-config --cflags --libs tarvix) -o embed
#include <tarvix/tarvix.h>

#include <cstdio>
#include <string>

int main() {
  const std::string document = "<!-- title: Hello -->\n# Hello\n\nSome *emphasis* here.\n";

  tarvix::PageOptions options;
  options.templateText = "<title>####TITLE####</title>\n####BODY####";
  const tarvix::PageResult result = tarvix::ConvertDocument(document, options);
  for (const tarvix::Message& message : result.messages)
    std::fprintf(stderr, "%s\n", message.text.c_str());
  std::fwrite(result.page.data(), 1, result.page.size(), stdout);
  std::printf("title: %s\n", result.header.title.c_str());

  // The same document through the C interface, without a template.
  tarvix_result page;
  if (tarvix_convert(document.data(), document.size(), nullptr, &page) != TARVIX_OK)
    return 1;
  std::fwrite(page.page, 1, page.page_size, stdout);
  tarvix_free(&page);
  std::printf("tarvix %s\n", tarvix_version());
  return 0;
}
