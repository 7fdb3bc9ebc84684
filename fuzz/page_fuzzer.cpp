// Fuzzes the page assembly through the library: the input is a template and a document,
// split at the first NUL byte. The page must be within its bound, and the filled template
// must be what filling the placeholders one after the other over the whole page gives.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "api/Library.h"
#include "core/Parser_CL.h"
#include "core/TemplateFill_CL.h"

namespace {

// Pages up to this size are made; a larger one is refused, which is a result too.
constexpr std::uint64_t kPageBound = std::uint64_t{4} << 20;
// The filling one placeholder after the other is compared while every page it builds on
// the way stays this small.
constexpr std::size_t kCompareBound = std::size_t{1} << 20;

// The value of the last line "key: value" of `document`, as a stand-in for its header.
std::string LineValue(std::string_view document, std::string_view key) {
  std::string value;
  std::size_t from = 0;
  while (from < document.size()) {
    std::size_t end = document.find('\n', from);
    if (end == std::string_view::npos)
      end = document.size();
    const std::string_view line = document.substr(from, end - from);
    if (line.size() > key.size() + 1 && line.substr(0, key.size()) == key &&
        line.substr(key.size(), 2) == ": ")
      value = std::string(line.substr(key.size() + 2));
    from = end + 1;
  }
  return value;
}

// Fills the placeholders of `page` one after the other, each at every occurrence, values
// searched by the later ones; none when a page on the way would outgrow kCompareBound.
std::optional<std::string> FillInOrder(std::string page,
                                       const std::string (&values)[tarvix::kPlaceholderCount]) {
  for (int i = 0; i < tarvix::kPlaceholderCount; ++i) {
    const std::string_view from = tarvix::kPlaceholders[i];
    std::size_t count = 0;
    for (std::size_t at = page.find(from); at != std::string::npos;
         at = page.find(from, at + from.size()))
      ++count;
    if (page.size() + count * values[i].size() > kCompareBound)
      return std::nullopt;
    std::string next;
    std::size_t start = 0;
    for (std::size_t at = page.find(from); at != std::string::npos; at = page.find(from, start)) {
      next.append(page, start, at - start).append(values[i]);
      start = at + from.size();
    }
    next.append(page, start, std::string::npos);
    page = std::move(next);
  }
  return page;
}

class Collect_CL final : public tarvix::TemplateFill_CL::Writer_CL {
 public:
  explicit Collect_CL(std::string_view body) : body_(body) {}
  void Text(std::string_view bytes) override { page.append(bytes); }
  void Body() override { page.append(body_); }
  std::string page;

 private:
  std::string_view body_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  if (split == std::string_view::npos)
    return 0;
  const std::string_view templateText = input.substr(0, split);
  const std::string_view document = input.substr(split + 1);

  // The whole conversion, with a bound that a template or header values full of
  // placeholders soon pass.
  tarvix::PageOptions options;
  options.templateText = std::string(templateText);
  options.maxPageSize = kPageBound;
  const tarvix::PageResult result = tarvix::ConvertDocument(document, options);
  if (result.page.size() > kPageBound)
    __builtin_trap();
  if (result.status == tarvix::PageStatus::PageTooLarge && !result.page.empty())
    __builtin_trap();

  // The filling alone, with values taken from the document's lines.
  // In the placeholders' order, the body last.
  const std::string values[tarvix::kPlaceholderCount] = {
      LineValue(document, "title"),       LineValue(document, "keywords"),
      LineValue(document, "description"), LineValue(document, "syntax"),
      LineValue(document, "root"),        LineValue(document, "toc"),
      LineValue(document, "nav"),         LineValue(document, "body")};
  static_assert(tarvix::kBodyPlaceholder == tarvix::kPlaceholderCount - 1);
  tarvix::TemplateFill_CL fill;
  const tarvix::TemplateFill_CL::Values valueOf =
      [&values](int index) -> std::optional<std::string_view> { return values[index]; };
  if (!fill.Plan(templateText, valueOf, values[tarvix::kBodyPlaceholder].size(), kPageBound))
    return 0;
  Collect_CL collected(values[tarvix::kBodyPlaceholder]);
  fill.Write(collected);
  if (collected.page.size() != fill.Size())
    __builtin_trap();
  const std::optional<std::string> expected = FillInOrder(std::string(templateText), values);
  if (expected && *expected != collected.page)
    __builtin_trap();
  return 0;
}
