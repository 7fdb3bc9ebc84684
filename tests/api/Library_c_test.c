/* The library's C interface compiled as C: the structs as a C compiler lays them out, the
   message records, the header and the table of contents, the version, and freeing. A
   program of its own that prints each failed check and exits nonzero. */
#include <stdio.h>
#include <string.h>

#include "tarvix/tarvix.h"

/* The layout C sees is the one the library was built with (Library.cpp checks its side). */
_Static_assert(sizeof(tarvix_options) == 16 * sizeof(void*), "tarvix_options changed size");
_Static_assert(sizeof(tarvix_message) == 8 * sizeof(void*), "tarvix_message changed size");
_Static_assert(sizeof(tarvix_header) == 16 * sizeof(void*), "tarvix_header changed size");
_Static_assert(sizeof(tarvix_result) == 30 * sizeof(void*), "tarvix_result changed size");

static int failures = 0;

static void Check(int ok, const char* what, int line) {
  if (!ok) {
    fprintf(stderr, "Library_c_test.c:%d: failed: %s\n", line, what);
    ++failures;
  }
}
#define CHECK(condition) Check((condition) != 0, #condition, __LINE__)
#define CHECK_STR(actual, expected) Check(strcmp((actual), (expected)) == 0, #actual, __LINE__)

static int StartsWith(const char* text, const char* start) {
  return strncmp(text, start, strlen(start)) == 0;
}

static int EndsWith(const char* text, const char* end) {
  const size_t size = strlen(text), endSize = strlen(end);
  return size >= endSize && strcmp(text + size - endSize, end) == 0;
}

/* A template and an include named from a folder that does not exist: two records, each
   with its kind, the file, the system's reason and the two lines the program prints. */
static void MessagesHeaderAndToc(void) {
  static const char document[] =
      "<!--\ntitle: T\nkeywords: K\ndescription: D\ntemplate: t.html\noutput_ext: .php\n"
      "include: i.md\n-->\n# One\n## Two\n";
  tarvix_options options;
  memset(&options, 0, sizeof options);
  options.base_folder = "tarvix-c-test-no-such-folder";
  options.template_text = "####TITLE####";
  options.template_size = strlen(options.template_text);
  tarvix_result result;
  CHECK(tarvix_convert(document, sizeof document - 1, &options, &result) == TARVIX_OK);

  CHECK(result.message_count == 2);
  if (result.message_count == 2) {
    const tarvix_message* include = &result.messages[0];
    const tarvix_message* template_ = &result.messages[1];
    CHECK(include->kind == TARVIX_MESSAGE_INCLUDE_MISSING);
    CHECK(template_->kind == TARVIX_MESSAGE_TEMPLATE_MISSING);
    CHECK(StartsWith(include->path, "tarvix-c-test-no-such-folder"));
    CHECK(EndsWith(include->path, "i.md"));
    CHECK(EndsWith(template_->path, "t.html"));
    CHECK_STR(include->reason, "No such file or directory");
    CHECK(StartsWith(include->text, "Include File Not Find \"tarvix-c-test-no-such-folder"));
    CHECK(strstr(include->text, "i.md\"\ntarvix: tarvix-c-test-no-such-folder") != NULL);
    CHECK(EndsWith(template_->text, "t.html: No such file or directory"));
  }
  /* The template named by the document is missing: the page is the body alone. */
  CHECK(result.page_size == strlen(result.page));
  CHECK(EndsWith(result.page, "--><h1 id=\"One\">One</h1>\n<h2 id=\"Two\">Two</h2>\n"));

  CHECK_STR(result.header.title, "T");
  CHECK(result.header.title_size == 1 && result.header.template_size == 6);
  CHECK_STR(result.header.keywords, "K");
  CHECK_STR(result.header.description, "D");
  CHECK_STR(result.header.template_, "t.html");
  CHECK_STR(result.header.output_ext, ".php");
  CHECK_STR(result.header.include, "i.md");
  CHECK_STR(result.toc,
            "<ul class=\"toc\">\n<li><a href=\"#One\">One</a>\n<ul>\n"
            "<li><a href=\"#Two\">Two</a></li>\n</ul>\n</li>\n</ul>");
  CHECK(result.toc_size == strlen(result.toc));
  tarvix_free(&result);
  CHECK(result.page == NULL && result.messages == NULL && result.message_count == 0);
  CHECK(result.header.title == NULL && result.toc == NULL);
}

/* No messages, empty header values that are still strings, an empty table of contents;
   NUL and ill-formed bytes are a document like any other. The page has none of them, but
   a header value keeps the bytes as written, NUL included, and its size counts them. */
static void EmptyFieldsAndAnyBytes(void) {
  static const char document[] = "a\0b\xff\xfe <!-- title: x\0y\xc3 -->";
  tarvix_result result;
  CHECK(tarvix_convert(document, sizeof document - 1, NULL, &result) == TARVIX_OK);
  CHECK(result.message_count == 0 && result.messages == NULL);
  CHECK_STR(result.header.keywords, "");
  CHECK_STR(result.header.include, "");
  CHECK_STR(result.toc, "");
  CHECK(result.toc_size == 0);
  CHECK(result.page_size > 0 && memchr(result.page, '\0', result.page_size) == NULL);
  CHECK(result.header.title_size == 4 && memcmp(result.header.title, "x\0y\xc3", 5) == 0);
  CHECK(result.header.keywords_size == 0);
  tarvix_free(&result);
  tarvix_free(&result);
  tarvix_free(NULL);

  CHECK(tarvix_convert(NULL, 1, NULL, &result) == TARVIX_ERROR_ARGUMENT);
  CHECK(result.page == NULL && result.header.title == NULL);
}

static void Version(void) {
  CHECK_STR(tarvix_version(), TARVIX_VERSION);
  CHECK(tarvix_version_number() == TARVIX_VERSION_NUMBER);
  char made[32];
  snprintf(made, sizeof made, "%d.%d.%d", TARVIX_VERSION_MAJOR, TARVIX_VERSION_MINOR,
           TARVIX_VERSION_PATCH);
  CHECK_STR(made, TARVIX_VERSION);
}

int main(void) {
  MessagesHeaderAndToc();
  EmptyFieldsAndAnyBytes();
  Version();
  if (failures == 0)
    printf("Library_c_test: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
