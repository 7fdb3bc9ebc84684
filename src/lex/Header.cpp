// Document header entries: "key: value" lines inside HTML comments, in the document and
// in its include files.
#include "lex/Header.h"

#include <string>

#include "lex/HeaderComment.h"
#include "lex/Lex_CL.h"
#include "platform/Platform.h"
#include "text/BaseFolder.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// The keys, in the order they are compared.
enum class HeaderKey { Title, Keywords, Description, Template, OutputExt, Include, None };
constexpr std::string_view kKeyNames[] = {"title",    "keywords",   "description",
                                          "template", "output_ext", "include"};

// An output extension names a file beside the output file and nothing else: a dot and
// 1 to kMaxExtension bytes, none a separator of either system, a colon (a drive, a stream),
// NUL or a control byte, and not ".." (the folder above).
constexpr std::size_t kMaxExtension = 32;

bool IsExtension(std::string_view value) {
  if (value.size() < 2 || value.size() > kMaxExtension + 1 || value[0] != '.' || value == "..")
    return false;
  for (char c : value.substr(1)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || c == ':' || byte < 0x20 || byte == 0x7F)
      return false;
  }
  return true;
}

// `value` as a message may show it: a control byte would act on the terminal, so it
// shows as "?".
std::string Printable(std::string_view value) {
  std::string shown = CleanUtf8(value);
  for (char& c : shown) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F)
      c = '?';
  }
  return shown;
}

HeaderKey KeyOf(std::string_view key) {
  for (int i = 0; i < static_cast<int>(std::size(kKeyNames)); ++i) {
    if (EqualsIgnoreCase(key, kKeyNames[i]))
      return static_cast<HeaderKey>(i);
  }
  return HeaderKey::None;
}

struct LexerSource {
  Lex_CL& lex;
  const Token& Current() const { return lex.current; }
  void Advance() { lex.Next(); }
  void SkipSpaces() { lex.SkipSpaces(); }
  std::string_view TakePlain(const PlainBytes& plain) {
    const PlainRun run = lex.TakePlain(plain);
    return lex.Bytes().substr(run.begin, run.end - run.begin);
  }
};

// Steps over a tag in an include file: an optional `/`, a name, attributes with quoted
// values, up to `>` or "/>". Anything unexpected simply ends the stepping.
void SkipIncludeTag(LexerSource& source) {
  if (source.Current().Is(kind::Slash))
    source.Advance();
  while (!source.Current().EndsGathering() && !source.Current().Is(kind::Greater) &&
         !source.Current().Is(kind::Sp) && !source.Current().Is(kind::Slash)) {
    source.Advance();
  }
  for (;;) {
    source.SkipSpaces();
    const Token& t = source.Current();
    if (t.Is(kind::Text)) {
      source.Advance();
      source.SkipSpaces();
      if (!source.Current().Is(kind::Equals))
        continue;
      source.Advance();
      source.SkipSpaces();
      const std::uint32_t quote = source.Current().code;
      if (quote != kind::Quote && quote != kind::Apostrophe)
        return;
      source.Advance();
      while (!source.Current().EndsGathering() && !source.Current().Is(quote))
        source.Advance();
      if (!source.Current().Is(quote))
        return;
      source.Advance();
      continue;
    }
    if (t.Is(kind::Greater)) {
      source.Advance();
      return;
    }
    if (t.Is(kind::Slash)) {
      source.Advance();
      if (source.Current().Is(kind::Greater))
        source.Advance();
    }
    return;
  }
}

}  // namespace

void ResetHeader(DocumentHeader& header) {
  header = DocumentHeader{};
}

void ApplyHeaderEntry(DocumentHeader& header, std::string_view key, std::string_view value,
                      std::string_view baseFolder, bool noInclude,
                      std::vector<MissingInclude>* missing, std::vector<std::string>* looked,
                      EntryRule rule, std::vector<platform::FileStamp>* lookedStamps) {
  if (key.empty() || value.empty())
    return;
  const std::string trimmed(Trim(value));
  switch (KeyOf(key)) {
    case HeaderKey::Title:
      header.title = trimmed;
      break;
    case HeaderKey::Keywords:
      header.keywords = trimmed;
      break;
    case HeaderKey::Description:
      header.description = trimmed;
      break;
    case HeaderKey::Template:
      header.template_ = trimmed;
      break;
    case HeaderKey::OutputExt:
      if (IsExtension(trimmed)) {
        header.output_ext = trimmed;
      } else {
        header.badOutputExt = Printable(trimmed);
      }
      break;
    case HeaderKey::Include: {
      if (noInclude)
        return;
      header.include = trimmed;
      std::string outside;
      const std::string path = EntryPath(std::string(baseFolder),
                                         ToNativeSeparators(CleanUtf8(trimmed)), rule, &outside);
      // A folder or a device holds no comments, and reading a device might never end: it is
      // reported as missing, with the line that says what it is.
      if (looked)
        looked->push_back(path);
      // Stamped before it is read: a change made while the page is made is then seen.
      if (lookedStamps)
        lookedStamps->push_back(outside.empty() ? platform::StampOf(path) : platform::FileStamp{});
      std::string reason = outside;
      bool read = false;
      if (outside.empty() && rule == EntryRule::Inside) {
        // Read from the file opened below the folder, not by its path again, which a link
        // swapped in since the look may lead out of it.
        std::string bytes;
        read = ReadInsideEntry(std::string(baseFolder), ToNativeSeparators(CleanUtf8(trimmed)),
                               false, &bytes, &reason);
        if (read)
          ReadIncludeBytes(header, std::move(bytes));
      } else if (outside.empty()) {
        read = ReadIncludeFile(header, path, &reason);
      }
      if (!read && missing)
        missing->push_back({path, std::move(reason)});
      break;
    }
    case HeaderKey::None:
      break;
  }
}

namespace {

void ReadIncludeComments(DocumentHeader& header, Lex_CL& lex) {
  lex.Next();
  LexerSource source{lex};
  std::string raw;
  auto apply = [&header](const std::string& key, const std::string& value) {
    ApplyHeaderEntry(header, key, value, "", true);
  };
  while (!lex.current.Is(kind::Eof)) {
    if (!lex.current.Is(kind::Less)) {
      lex.Next();
      continue;
    }
    lex.Next();
    if (lex.current.TextEquals("!")) {
      lex.Next();
      if (lex.current.TextEquals("--")) {
        lex.Next();
        raw.clear();
        (void)ReadCommentBody(source, raw, apply);
        continue;
      }
    }
    SkipIncludeTag(source);
  }
}

}  // namespace

bool ReadIncludeFile(DocumentHeader& header, const std::string& path, std::string* reason) {
  // A folder, a device or a pipe holds no comments; reading one might never end.
  platform::FileStatus status;
  if (!platform::StatusOf(path, &status, reason))
    return false;
  if (status.kind != platform::FileKind::Regular) {
    if (reason)
      *reason = platform::NotRegularReason(status.kind);
    return false;
  }
  Lex_CL lex;
  if (!lex.Open(path)) {
    if (reason)
      *reason = platform::ReadFailureReason(path);
    return false;
  }
  ReadIncludeComments(header, lex);
  return true;
}

void ReadIncludeBytes(DocumentHeader& header, std::string bytes) {
  Lex_CL lex;
  lex.OpenBytes(std::move(bytes));
  ReadIncludeComments(header, lex);
}

}  // namespace tarvix
