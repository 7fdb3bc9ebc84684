// The library's interface: a document held in memory in, the page and the messages out;
// the same for C callers, with plain structures and memory they release with tarvix_free.
#include "app/Library.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "app/Messages.h"
#include "platform/Platform.h"

namespace tarvix {
namespace {

// Collects the page in a string.
class PageText_CL final : public PageSink_CL {
 public:
  explicit PageText_CL(std::string& page) : page_(page) {}
  void Write(std::string_view bytes) override { page_.append(bytes); }

 private:
  std::string& page_;
};

// The folder as the lookups join it: without trailing separators, which would double the
// one put between the folder and the entry, unless nothing else is left (the root).
std::string JoinableFolder(std::string folder) {
  std::size_t end = folder.size();
  while (end > 1 && folder[end - 1] == platform::kPathSeparator)
    --end;
  folder.resize(end);
  return folder;
}

// A copy of `bytes` in memory from malloc, with a NUL after it; null when there is none.
char* CopyForC(std::string_view bytes) {
  auto* copy = static_cast<char*>(std::malloc(bytes.size() + 1));
  if (copy == nullptr)
    return nullptr;
  if (!bytes.empty())
    std::memcpy(copy, bytes.data(), bytes.size());
  copy[bytes.size()] = '\0';
  return copy;
}

}  // namespace

PageResult ConvertWith(Parser_CL& parser, std::string_view document, const PageOptions& options) {
  PageResult result;
  CollectedMessages_CL messages;
  PageText_CL page(result.page);
  parser.messages = &messages;
  parser.pageSink = &page;
  parser.templateText = options.templateText;
  parser.options.imageLink = options.imageLink ? 1 : 0;
  parser.options.rootRel = options.rootRel;
  parser.options.syntaxDir = options.syntaxDir;
  // No output file is named: the extension is the header's alone.
  parser.header.output_ext.clear();
  std::optional<std::string> baseFolder;
  if (options.baseFolder)
    baseFolder = JoinableFolder(*options.baseFolder);
  parser.UseDocument(std::string(document), std::move(baseFolder));
  (void)parser.Run();
  parser.messages = nullptr;
  parser.pageSink = nullptr;
  result.messages.reserve(messages.lines.size());
  for (CollectedMessages_CL::Line& line : messages.lines)
    result.messages.push_back(std::move(line.text));
  return result;
}

PageResult ConvertDocument(std::string_view document, const PageOptions& options) {
  Parser_CL parser;
  return ConvertWith(parser, document, options);
}

const char* Version() {
  return TARVIX_VERSION;
}

}  // namespace tarvix

extern "C" {

int tarvix_convert(const char* document, size_t size, const tarvix_options* options,
                   tarvix_result* result) {
  if (result == nullptr)
    return TARVIX_ERROR_ARGUMENT;
  *result = tarvix_result{};
  if (document == nullptr && size != 0)
    return TARVIX_ERROR_ARGUMENT;
  // Nothing may leave a C function as an exception: running out of memory is a result.
  try {
    tarvix::PageOptions pageOptions;
    if (options != nullptr) {
      if (options->template_text != nullptr)
        pageOptions.templateText.emplace(options->template_text, options->template_size);
      pageOptions.imageLink = options->image_link != 0;
      if (options->root_rel != nullptr)
        pageOptions.rootRel = options->root_rel;
      if (options->syntax_dir != nullptr)
        pageOptions.syntaxDir = options->syntax_dir;
      if (options->base_folder != nullptr)
        pageOptions.baseFolder = options->base_folder;
    }
    const tarvix::PageResult page = tarvix::ConvertDocument(
        std::string_view(document == nullptr ? "" : document, size), pageOptions);

    tarvix_result made{};
    made.page = tarvix::CopyForC(page.page);
    if (!page.messages.empty()) {
      made.messages = static_cast<char**>(std::calloc(page.messages.size(), sizeof(char*)));
    }
    bool complete = made.page != nullptr && (page.messages.empty() || made.messages != nullptr);
    for (std::size_t i = 0; complete && i < page.messages.size(); ++i) {
      made.messages[i] = tarvix::CopyForC(page.messages[i]);
      made.message_count = i + 1;
      complete = made.messages[i] != nullptr;
    }
    if (!complete) {
      tarvix_free(&made);
      return TARVIX_ERROR_MEMORY;
    }
    made.page_size = page.page.size();
    *result = made;
    return TARVIX_OK;
  } catch (const std::bad_alloc&) {
    return TARVIX_ERROR_MEMORY;
  }
}

void tarvix_free(tarvix_result* result) {
  if (result == nullptr)
    return;
  for (size_t i = 0; i < result->message_count; ++i)
    std::free(result->messages[i]);
  std::free(result->messages);
  std::free(result->page);
  *result = tarvix_result{};
}

const char* tarvix_version(void) {
  return TARVIX_VERSION;
}

}  // extern "C"
