/* The Tarvix library: converts one Markdown document held in memory into one HTML page.
   The only header a user includes; C++ callers get namespace tarvix, C callers and other
   languages the tarvix_ functions and plain structs at the end.

   Languages: a C caller needs C99 or later (a C89 compiler still reads the C++ part's //
   comments, though it skips that part); a C++ caller needs C++20 or later (the results
   compare with defaulted operator==), which the CMake package asks for by itself and
   pkg-config leaves to the caller's -std=c++20. The library is C++
   inside: a C program links the shared library (which brings its C++ runtime), or the
   static one with the C++ runtime named, as "pkg-config --libs tarvix" and the CMake
   package do for it.

   Documents: any byte sequence is a valid document. NUL bytes and ill-formed UTF-8 are
   accepted (the body shows them as U+FFFD; header values keep them as written), and no
   input makes a conversion fail or loop; only memory can run out. A document holds at most 2147483647 bytes (2 GiB less
   one: the largest that the converter's 32-bit token counts cover); callers must not pass
   a longer one.

   Threads: conversions share nothing and the library keeps no global state, so any number
   of threads may convert at once, each with its own options and result. Options and
   results are not shared between threads while a conversion uses them.

   Lifetime: everything the caller passes in (the document, the options and every string
   they point to) is read during the call only and may be released as soon as it returns;
   the library keeps no pointer to it. Everything it hands back belongs to the caller: C++
   results are plain values, C results live until tarvix_free. */
#pragma once

#include <stddef.h>

/* The build reads the package's version from this line; the numbers below must agree. */
#define TARVIX_VERSION "0.1.0"
#define TARVIX_VERSION_MAJOR 0
#define TARVIX_VERSION_MINOR 1
#define TARVIX_VERSION_PATCH 0
/* One number that grows with each release, for comparisons in #if: 10000 * major +
   100 * minor + patch. */
#define TARVIX_VERSION_NUMBER \
  (TARVIX_VERSION_MAJOR * 10000 + TARVIX_VERSION_MINOR * 100 + TARVIX_VERSION_PATCH)

/* Only the functions below leave a shared build of the library: that build defines
   TARVIX_API as its export attribute. Callers need none, so it is empty for them. */
#ifndef TARVIX_API
#define TARVIX_API
#endif

/* What a message is about. The numbers stay fixed across versions; new kinds get new
   numbers. A conversion in memory gives the first group only; the second names the
   messages of the tarvix program about the files it opens and writes, so that its
   messages and the library's are one list. */
typedef enum tarvix_message_kind {
  /* "Template File Not Find "PATH"": the template the document names (template:) is
     missing, unreadable, a folder or a device. The page is then the body alone. */
  TARVIX_MESSAGE_TEMPLATE_MISSING = 1,
  /* "Include File Not Find "PATH"": an include: file could not be read; the conversion
     goes on without its entries. */
  TARVIX_MESSAGE_INCLUDE_MISSING = 2,
  /* "Bad output_ext "VALUE" (ignored)": the document's output_ext is no usable extension. */
  TARVIX_MESSAGE_BAD_OUTPUT_EXT = 3,
  /* "InputFile too large": the document exceeds the bound above. */
  TARVIX_MESSAGE_INPUT_TOO_LARGE = 4,
  /* "Page too large": the page would exceed the size the caller allowed. */
  TARVIX_MESSAGE_PAGE_TOO_LARGE = 5,

  /* The program's own. */
  TARVIX_MESSAGE_NO_INPUT_FILE = 100,       /* "No InputFile" */
  TARVIX_MESSAGE_OPEN_INPUT_FILE = 101,     /* "Open Err InputFile" */
  TARVIX_MESSAGE_NO_TEMPLATE_FILE = 102,    /* "No TemplateFile" (-t) */
  TARVIX_MESSAGE_OUTPUT_IS_INPUT = 103,     /* "OutputFile is InputFile" */
  TARVIX_MESSAGE_OPEN_TEMPORARY_FILE = 104, /* "Open Err TemporaryFile" */
  TARVIX_MESSAGE_OPEN_OUTPUT_FILE = 105,    /* "Open Err OutputFile" */
  TARVIX_MESSAGE_WRITE_OUTPUT_FILE = 106,   /* "Write Err OutputFile" */
  TARVIX_MESSAGE_RENAME_OUTPUT_FILE = 107,  /* "TemporaryFile rename error" */
  TARVIX_MESSAGE_OUT_OF_MEMORY = 108        /* "Out of memory" */
} tarvix_message_kind;

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

// The kinds of tarvix_message_kind, by name.
enum class MessageKind : int {
  TemplateMissing = TARVIX_MESSAGE_TEMPLATE_MISSING,
  IncludeMissing = TARVIX_MESSAGE_INCLUDE_MISSING,
  BadOutputExt = TARVIX_MESSAGE_BAD_OUTPUT_EXT,
  InputTooLarge = TARVIX_MESSAGE_INPUT_TOO_LARGE,
  PageTooLarge = TARVIX_MESSAGE_PAGE_TOO_LARGE,
  NoInputFile = TARVIX_MESSAGE_NO_INPUT_FILE,
  OpenInputFile = TARVIX_MESSAGE_OPEN_INPUT_FILE,
  NoTemplateFile = TARVIX_MESSAGE_NO_TEMPLATE_FILE,
  OutputIsInput = TARVIX_MESSAGE_OUTPUT_IS_INPUT,
  OpenTemporaryFile = TARVIX_MESSAGE_OPEN_TEMPORARY_FILE,
  OpenOutputFile = TARVIX_MESSAGE_OPEN_OUTPUT_FILE,
  WriteOutputFile = TARVIX_MESSAGE_WRITE_OUTPUT_FILE,
  RenameOutputFile = TARVIX_MESSAGE_RENAME_OUTPUT_FILE,
  OutOfMemory = TARVIX_MESSAGE_OUT_OF_MEMORY,
};

// One message of a conversion.
struct Message {
  MessageKind kind = MessageKind::TemplateMissing;
  // The file it concerns, as the run named it; empty when none.
  std::string path;
  // The system's words for what went wrong with it ("No such file or directory", "Is a
  // directory"); empty when the system gave none.
  std::string reason;
  // What the program prints for it: the message line and, when there is a reason, a line
  // end and the line "tarvix: PATH: REASON". No line end at the end.
  std::string text;
  bool operator==(const Message&) const = default;
};

// The document header as the conversion read it (the document's comments, then its
// include files'; a later entry wins): the bytes the document wrote, any bytes. Empty
// where the document set nothing; without a base folder include: entries are not read.
struct Header {
  std::string title;
  std::string keywords;
  std::string description;
  std::string template_;  // as written, relative to the base folder
  std::string outputExt;
  std::string include;  // the last include: entry read, as written
  bool operator==(const Header&) const = default;
};

// What one conversion made.
struct PageResult {
  // The page: the template filled, or the body alone (no template, or a missing one).
  std::string page;
  // The messages, in the order the program would print them.
  std::vector<Message> messages;
  Header header;
  // The table of contents as ####TOC#### would show it, whether the template has that
  // placeholder or not: empty when no heading has an id.
  std::string tableOfContents;
  PageStatus status = PageStatus::Ok;
};

// Converts `document` into a page. Only running out of memory throws (std::bad_alloc);
// every other trouble is a message in the result.
[[nodiscard]] TARVIX_API PageResult ConvertDocument(std::string_view document,
                                                    const PageOptions& options = {});

// The version of the library that runs, TARVIX_VERSION as it was built.
[[nodiscard]] TARVIX_API const char* Version();

}  // namespace tarvix

extern "C" {
#endif /* __cplusplus */

/* The structs below keep their size and layout for as long as the library's file is
   libtarvix.so.0: members added later take the place of reserved ones. Callers zero the
   structs they fill (tarvix_options) and leave reserved members zero. */

/* The options of tarvix_convert. All zero (or a null pointer for the whole struct) gives
   the defaults: no template, no image links, root ".", highlighter folder
   "./SyntaxHighlighter", template: and include: entries ignored. Strings are UTF-8 and
   end in NUL, except the template, which has its own size and may hold any bytes. */
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
  void* reserved[8];
} tarvix_options;

/* One message; its strings end in NUL and are never NULL. */
typedef struct tarvix_message {
  int kind;           /* a tarvix_message_kind */
  const char* path;   /* the file it concerns; "" when none */
  const char* reason; /* the system's words ("No such file or directory"); "" when none */
  const char* text;   /* what the program prints: the message line, and with a reason a
                         line end and "tarvix: PATH: REASON"; no line end at the end */
  void* reserved[4];
} tarvix_message;

/* The document header as the conversion read it. Each value is the bytes the document
   wrote (any bytes, a NUL included), with its size and an extra NUL after it; never NULL,
   "" where the document set nothing. */
typedef struct tarvix_header {
  const char* title;
  size_t title_size;
  const char* keywords;
  size_t keywords_size;
  const char* description;
  size_t description_size;
  const char* template_; /* as written, relative to the base folder */
  size_t template_size;
  const char* output_ext;
  size_t output_ext_size;
  const char* include; /* the last include: entry read, as written */
  size_t include_size;
  void* reserved[4];
} tarvix_header;

/* What tarvix_convert made. The page and the table of contents end in an extra NUL not
   counted in their sizes (the page itself may hold NUL bytes from the template or the
   header's values). Every
   pointer, the messages' and the header's strings included, stays valid until
   tarvix_free, which releases it all. */
typedef struct tarvix_result {
  char* page;
  size_t page_size;
  tarvix_message* messages; /* message_count records, in the order the program prints them */
  size_t message_count;
  tarvix_header header;
  char* toc; /* the table of contents as ####TOC#### would show it; "" when none */
  size_t toc_size;
  void* reserved[8];
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
   page, the messages, the header and the table of contents; on any other value it is
   empty (and still safe to free). Whatever `result` held before is overwritten, not
   released. */
TARVIX_API int tarvix_convert(const char* document, size_t size, const tarvix_options* options,
                              tarvix_result* result);

/* Releases what tarvix_convert put into `result` and empties it; a null pointer or an
   empty result is left alone. */
TARVIX_API void tarvix_free(tarvix_result* result);

/* The version of the library that runs: TARVIX_VERSION and TARVIX_VERSION_NUMBER as it
   was built, to compare with those a program was compiled with. */
TARVIX_API const char* tarvix_version(void);
TARVIX_API int tarvix_version_number(void);

#ifdef __cplusplus
}
#endif
