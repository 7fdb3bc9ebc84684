// The library's interface: a document held in memory in; the page, the message records,
// the header and the table of contents out. The same for C callers, with plain structs
// and memory they release with tarvix_free.
#include "api/Library.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "core/Messages.h"
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

// The header's values in the order of tarvix_header.
std::array<const char*, 6> HeaderFields(const tarvix_header& header) {
  return {header.title,     header.keywords,   header.description,
          header.template_, header.output_ext, header.include};
}

// Fills `made` with copies of what `page` holds besides the page itself (which the caller
// hands over without a copy) for a C caller. False when memory ran out; what was filled by
// then is in `made`, for tarvix_free.
bool FillForC(const PageResult& page, tarvix_result& made) {
  made.toc = CopyForC(page.tableOfContents);
  if (made.toc == nullptr)
    return false;
  made.toc_size = page.tableOfContents.size();
  const Header& header = page.header;
  tarvix_header& to = made.header;
  const std::string_view values[] = {header.title,     header.keywords,  header.description,
                                     header.template_, header.outputExt, header.include};
  const char** fields[] = {&to.title,     &to.keywords,   &to.description,
                           &to.template_, &to.output_ext, &to.include};
  std::size_t* sizes[] = {&to.title_size,    &to.keywords_size,   &to.description_size,
                          &to.template_size, &to.output_ext_size, &to.include_size};
  bool complete = true;
  for (std::size_t i = 0; i < std::size(fields); ++i) {
    *fields[i] = CopyForC(values[i]);
    *sizes[i] = values[i].size();
    complete = complete && *fields[i] != nullptr;
  }
  if (!complete || page.messages.empty())
    return complete;
  made.messages =
      static_cast<tarvix_message*>(std::calloc(page.messages.size(), sizeof(tarvix_message)));
  if (made.messages == nullptr)
    return false;
  for (const Message& message : page.messages) {
    tarvix_message& record = made.messages[made.message_count++];
    record.kind = static_cast<int>(message.kind);
    record.path = CopyForC(message.path);
    record.reason = CopyForC(message.reason);
    record.text = CopyForC(message.text);
    if (record.path == nullptr || record.reason == nullptr || record.text == nullptr)
      return false;
  }
  return true;
}

// The C structs keep their size while the library is libtarvix.so.0 (members added later
// take reserved places): a change here is a change of the library's interface.
static_assert(sizeof(tarvix_options) == 16 * sizeof(void*));
static_assert(sizeof(tarvix_message) == 8 * sizeof(void*));
static_assert(sizeof(tarvix_header) == 16 * sizeof(void*));
static_assert(sizeof(tarvix_result) == 30 * sizeof(void*));

}  // namespace

namespace {

// Converts `document` with `parser` into `page`; the message records, the header and the
// table of contents go to `result` (its page is left alone).
PageStatus ConvertInto(Parser_CL& parser, std::string_view document, const PageOptions& options,
                       PageSink_CL& page, PageResult& result) {
  // As for the program: a larger document is refused before anything is read.
  if (document.size() > kMaxInputSize) {
    result.messages.push_back({MessageKind::InputTooLarge, {}, {}, "InputFile too large"});
    return PageStatus::InputTooLarge;
  }
  CollectedMessages_CL messages;
  ParserSettings settings;
  settings.messages = &messages;
  settings.pageSink = &page;
  settings.tableOfContents = &result.tableOfContents;
  settings.templateText = options.templateText;
  settings.maxPageSize = std::min<std::uint64_t>(options.maxPageSize, kMaxPageSize);
  parser.UseSettings(std::move(settings));
  parser.options.imageLink = options.imageLink ? 1 : 0;
  parser.options.rootRel = options.rootRel;
  parser.options.syntaxDir = options.syntaxDir;
  parser.ReadEntries(options.allowOutsideBase ? EntryRule::Anywhere : EntryRule::Inside);
  // No output file is named: the extension is the header's alone.
  parser.header.output_ext.clear();
  std::optional<std::string> baseFolder;
  if (options.baseFolder)
    baseFolder = JoinableFolder(*options.baseFolder);
  // The caller holds the document for the whole call: it is read where it lies.
  parser.UseDocumentView(document, std::move(baseFolder));
  (void)parser.Run();
  // The sinks are this call's locals and the caller's result: the parser forgets them.
  parser.UseSettings({});
  result.messages.reserve(messages.records.size());
  for (MessageRecord& record : messages.records) {
    std::string text = std::move(record.line);
    if (!record.reason.empty())
      text.append("\n").append(DetailLine(record.path, record.reason));
    result.messages.push_back(
        {record.kind, std::move(record.path), std::move(record.reason), std::move(text)});
  }
  const DocumentHeader& header = parser.header;
  result.header = {header.title,     header.keywords,   header.description,
                   header.template_, header.output_ext, header.include};
  return parser.PageTooLarge() ? PageStatus::PageTooLarge : PageStatus::Ok;
}

}  // namespace

PageResult ConvertWith(Parser_CL& parser, std::string_view document, const PageOptions& options) {
  PageResult result;
  PageText_CL page(result.page);
  result.status = ConvertInto(parser, document, options, page, result);
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
    // Its page stays empty: the page is in `page`, handed over without a copy.
    tarvix::PageResult converted;
    const tarvix::PageStatus status =
        tarvix::ConvertInto(parser, std::string_view(document == nullptr ? "" : document, size),
                            pageOptions, page, converted);
    if (status == tarvix::PageStatus::InputTooLarge)
      return TARVIX_ERROR_INPUT_TOO_LARGE;
    if (status == tarvix::PageStatus::PageTooLarge)
      return TARVIX_ERROR_PAGE_TOO_LARGE;

    tarvix_result made{};
    made.page = page.Release(&made.page_size);
    if (made.page == nullptr || !tarvix::FillForC(converted, made)) {
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
  // The strings were made by CopyForC; they are handed out as const to the caller only.
  const auto release = [](const char* text) { std::free(const_cast<char*>(text)); };
  for (size_t i = 0; i < result->message_count; ++i) {
    release(result->messages[i].path);
    release(result->messages[i].reason);
    release(result->messages[i].text);
  }
  std::free(result->messages);
  for (const char* field : tarvix::HeaderFields(result->header))
    release(field);
  std::free(result->toc);
  std::free(result->page);
  *result = tarvix_result{};
}

const char* tarvix_version(void) {
  return TARVIX_VERSION;
}

int tarvix_version_number(void) {
  return TARVIX_VERSION_NUMBER;
}

}  // extern "C"
