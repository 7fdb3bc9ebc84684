/* Converts a document held in memory through the C interface of the tarvix library,
   prints the page and then what the result says beside it: the header, the table of
   contents and each message with its kind. Build it against an installed tarvix with the
   CMakeLists.txt beside it, or with pkg-config:
     cc embed.c $(pkg-config --cflags --libs tarvix) -o embed-c */
#include <stdio.h>
#include <string.h>
#include <tarvix/tarvix.h>

int main(void) {
  const char* document =
      "<!--\ntitle: Hello\ntemplate: page.html\n-->\n# Hello\n\n## Part one\n\nSome *emphasis*.\n";
  /* A base folder that holds no page.html: the template is reported missing and the page
     is the body alone. */
  tarvix_options options;
  memset(&options, 0, sizeof options);
  options.base_folder = "no-such-folder";

  tarvix_result result;
  if (tarvix_convert(document, strlen(document), &options, &result) != TARVIX_OK)
    return 1;
  fwrite(result.page, 1, result.page_size, stdout);
  printf("title: %s\n", result.header.title);
  printf("template: %s\n", result.header.template_);
  printf("toc:\n%s\n", result.toc);
  for (size_t i = 0; i < result.message_count; ++i) {
    const tarvix_message* message = &result.messages[i];
    if (message->kind == TARVIX_MESSAGE_TEMPLATE_MISSING)
      printf("no template at %s (%s)\n", message->path, message->reason);
    else
      fprintf(stderr, "%s\n", message->text);
  }
  tarvix_free(&result);

  /* The library that runs may be newer than the header this program was built with. */
  printf("tarvix %s (built with %s)\n", tarvix_version(), TARVIX_VERSION);
  return tarvix_version_number() / 10000 == TARVIX_VERSION_MAJOR ? 0 : 1;
}
