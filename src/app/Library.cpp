// The library's interface: a document held in memory in, the page and the messages out;
// the same for C callers, with plain structures and memory they release with tarvix_free.
#include "app/Library.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "app/Messages.h"
#include "platform/Platform.h"

namespace tarvix {
namespace {

// Collects the page in a string, sized once to the page.
class PageText_CL final : public PageSink_CL {
 public:
  explicit PageText_CL(std::string& page) : page_(page) {}
  void Reserve(std::uint64_t size, bool adoptsBody) override {
    size_ = static_cast<std::size_t>(size);
    if (!adoptsBody)
      page_.reserve(size_);
  }
  void Write(std::string_view bytes) override { page_.append(bytes); }
  void AdoptBody(std::string&& body) override {
    std::string page = std::move(body);
    page.reserve(size_);
    page.insert(0, page_);
    page_ = std::move(page);
  }

 private:
  std::string& page_;
  std::size_t size_ = 0;
};

// Collects the page in memory from malloc for a C caller, with a NUL after it, so that
// the page is not copied once more when it is handed over.
class MallocPage_CL final : public PageSink_CL {
 public:
  MallocPage_CL() = default;
  ~MallocPage_CL() override { std::free(data_); }
  MallocPage_CL(const MallocPage_CL&) = delete;
  MallocPage_CL& operator=(const MallocPage_CL&) = delete;
  void Reserve(std::uint64_t size, bool) override { (void)Grow(static_cast<std::size_t>(size)); }
  void Write(std::string_view bytes) override {
    if (!Grow(size_ + bytes.size()))
      return;
    if (!bytes.empty())
      std::memcpy(data_ + size_, bytes.data(), bytes.size());
    size_ += bytes.size();
  }
  // The page, ending in NUL, now the caller's; null when memory ran out.
  [[nodiscard]] char* Release(std::size_t* size) {
    if (failed_ || !Grow(size_))
      return nullptr;
    data_[size_] = '\0';
    *size = size_;
    char* page = data_;
    data_ = nullptr;
    return page;
  }

 private:
  [[nodiscard]] bool Grow(std::size_t size) {
    if (failed_)
      return false;
    if (size < capacity_)
      return true;
    const std::size_t capacity = std::max(size + 1, capacity_ + capacity_ / 2);
    auto* grown = static_cast<char*>(std::realloc(data_, capacity));
    if (grown == nullptr) {
      failed_ = true;
      return false;
    }
    data_ = grown;
    capacity_ = capacity;
    return true;
  }
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  bool failed_ = false;
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

namespace {

// Converts `document` with `parser` into `page` and `messages`.
PageStatus ConvertInto(Parser_CL& parser, std::string_view document, const PageOptions& options,
                       PageSink_CL& page, std::vector<std::string>& said) {
  // As for the program: a larger document is refused before anything is read.
  if (document.size() > kMaxInputSize) {
    said.emplace_back("InputFile too large");
    return PageStatus::InputTooLarge;
  }
  CollectedMessages_CL messages;
  parser.messages = &messages;
  parser.pageSink = &page;
  parser.templateText = options.templateText;
  parser.options.imageLink = options.imageLink ? 1 : 0;
  parser.options.rootRel = options.rootRel;
  parser.options.syntaxDir = options.syntaxDir;
  parser.maxPageSize = std::min<std::uint64_t>(options.maxPageSize, kMaxPageSize);
  parser.ReadEntries(options.allowOutsideBase ? EntryRule::Anywhere : EntryRule::Inside);
  // No output file is named: the extension is the header's alone.
  parser.header.output_ext.clear();
  std::optional<std::string> baseFolder;
  if (options.baseFolder)
    baseFolder = JoinableFolder(*options.baseFolder);
  // The caller holds the document for the whole call: it is read where it lies.
  parser.UseDocumentView(document, std::move(baseFolder));
  (void)parser.Run();
  parser.messages = nullptr;
  parser.pageSink = nullptr;
  said.reserve(messages.lines.size());
  for (CollectedMessages_CL::Line& line : messages.lines)
    said.push_back(std::move(line.text));
  return parser.PageTooLarge() ? PageStatus::PageTooLarge : PageStatus::Ok;
}

}  // namespace

PageResult ConvertWith(Parser_CL& parser, std::string_view document, const PageOptions& options) {
  PageResult result;
  PageText_CL page(result.page);
  result.status = ConvertInto(parser, document, options, page, result.messages);
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
      pageOptions.allowOutsideBase = options->allow_outside_base != 0;
      if (options->max_page_size != 0)
        pageOptions.maxPageSize = options->max_page_size;
    }
    tarvix::Parser_CL parser;
    tarvix::MallocPage_CL page;
    std::vector<std::string> messages;
    const tarvix::PageStatus status =
        tarvix::ConvertInto(parser, std::string_view(document == nullptr ? "" : document, size),
                            pageOptions, page, messages);
    if (status == tarvix::PageStatus::InputTooLarge)
      return TARVIX_ERROR_INPUT_TOO_LARGE;
    if (status == tarvix::PageStatus::PageTooLarge)
      return TARVIX_ERROR_PAGE_TOO_LARGE;

    tarvix_result made{};
    made.page = page.Release(&made.page_size);
    if (!messages.empty()) {
      made.messages = static_cast<char**>(std::calloc(messages.size(), sizeof(char*)));
    }
    bool complete = made.page != nullptr && (messages.empty() || made.messages != nullptr);
    for (std::size_t i = 0; complete && i < messages.size(); ++i) {
      made.messages[i] = tarvix::CopyForC(messages[i]);
      made.message_count = i + 1;
      complete = made.messages[i] != nullptr;
    }
    if (!complete) {
      tarvix_free(&made);
      return TARVIX_ERROR_MEMORY;
    }
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
