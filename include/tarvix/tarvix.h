/* The Tarvix library: converts one Markdown document held in memory into one HTML page.
   The only header a user includes; C++ callers get namespace tarvix, C callers and other
   languages the tarvix_ functions at the end. */
#pragma once

#include <stddef.h>

/* The build reads the package's version from this line. */
#define TARVIX_VERSION "0.1.0"

/* Only the functions below leave a shared build of the library: that build defines
   TARVIX_API as its export attribute. Callers need none, so it is empty for them. */
#ifndef TARVIX_API
#define TARVIX_API
#endif

#ifdef __cplusplus

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

// What a page is made with, as the program would make it from its options.
struct PageOptions {
  // The page template (its placeholders are filled); none: the page is the body alone. A
  // `template:` entry of the document wins over it when `baseFolder` is set.
  std::optional<std::string> templateText;
  // Wraps every image in a link to the image itself (-imagelink).
  bool imageLink = false;
  // What ####ROOT#### becomes: the site root relative to the page's folder.
  std::string rootRel = ".";
  // The highlighter folder relative to the site root, for ####SYNTAX####.
  std::string syntaxDir = "./SyntaxHighlighter";
  // The folder that relative `template:` and `include:` entries start from ("" is the
  // current folder); none: such entries are ignored and no file is read.
  std::optional<std::string> baseFolder;
  // By default a `template:` or `include:` entry is read only when it names a file inside
  // `baseFolder`: not an absolute path, no ".." step above it, no link leading out of it
  // (such an entry is reported missing, "tarvix: PATH: outside the base folder"), since a
  // document from anyone could otherwise put any file the process can read into its page.
  // Callers who trust their documents set this to read what the entries name.
  bool allowOutsideBase = false;
  // The largest page made, in bytes (at most the default, 2 GiB - 1, as for the document).
  // A larger page is not built: the result says PageStatus::PageTooLarge.
  std::uint64_t maxPageSize = 0x7FFFFFFF;
};

// How a conversion ended.
enum class PageStatus {
  Ok,
  InputTooLarge,  // the document is larger than 2 GiB - 1 bytes: nothing was converted
  PageTooLarge,   // the page would be larger than maxPageSize: it is empty
};

// What one conversion made: the page and the messages of the run, one line each, in the
// order the program would print them ("Include File Not Find ...").
struct PageResult {
  std::string page;
  std::vector<std::string> messages;
  PageStatus status = PageStatus::Ok;
};

// Converts `document` (UTF-8 Markdown) into a page. Nothing is shared between calls, so
// any number of threads may convert at once. Only running out of memory throws
// (std::bad_alloc).
[[nodiscard]] TARVIX_API PageResult ConvertDocument(std::string_view document,
                                                    const PageOptions& options = {});

// The library's version, TARVIX_VERSION.
[[nodiscard]] TARVIX_API const char* Version();

}  // namespace tarvix

extern "C" {
#endif /* __cplusplus */

/* The options of tarvix_convert. All zero (or a null pointer for the whole struct) gives
   the defaults: no template, no image links, root ".", highlighter folder
   "./SyntaxHighlighter", template: and include: entries ignored. Strings are UTF-8 and
   end in NUL, except the template, which has its own size. */
typedef struct tarvix_options {
  const char* template_text; /* NULL: the page is the body alone */
  size_t template_size;
  int image_link;          /* nonzero: -imagelink */
  const char* root_rel;    /* NULL: "." */
  const char* syntax_dir;  /* NULL: "./SyntaxHighlighter" */
  const char* base_folder; /* NULL: relative template: and include: entries are ignored */

  /* nonzero: template: and include: entries may name files outside base_folder */
  int allow_outside_base;
  /* the largest page made; 0 (or more than 2 GiB - 1): 2 GiB - 1 */
  unsigned long long max_page_size;
} tarvix_options;

/* What tarvix_convert made. The page ends in an extra NUL byte not counted in page_size;
   each message is a NUL-terminated line. tarvix_free releases it all. */
typedef struct tarvix_result {
  char* page;
  size_t page_size;
  char** messages;
  size_t message_count;
} tarvix_result;

/* Results of tarvix_convert. */
#define TARVIX_OK 0
#define TARVIX_ERROR_ARGUMENT 1 /* a null result, or a null document with a size */
#define TARVIX_ERROR_MEMORY 2   /* out of memory; the result is empty */

/* the document is larger than 2 GiB - 1 bytes; nothing was converted */
#define TARVIX_ERROR_INPUT_TOO_LARGE 3
/* the page would be larger than max_page_size; the result is empty */
#define TARVIX_ERROR_PAGE_TOO_LARGE 4

/* Converts the `size` bytes at `document` into a page. On TARVIX_OK `result` holds the
   page and the messages; on any other value it is empty (and still safe to free). */
TARVIX_API int tarvix_convert(const char* document, size_t size, const tarvix_options* options,
                              tarvix_result* result);

/* Releases what tarvix_convert put into `result` and empties it. */
TARVIX_API void tarvix_free(tarvix_result* result);

/* TARVIX_VERSION. */
TARVIX_API const char* tarvix_version(void);

#ifdef __cplusplus
}
#endif
