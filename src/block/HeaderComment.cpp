// The document's own header comments, read through the parser: the entries they hold
// change the header, and what they could not read is said as the pass's messages.
#include "lex/HeaderComment.h"

#include <string>
#include <string_view>
#include <vector>

#include "core/Parser_CL.h"
#include "lex/Header.h"

namespace tarvix {
namespace {

struct ParserSource {
  Parser_CL& parser;
  const Token& Current() const { return parser.lex.current; }
  void Advance() { parser.NextToken(false); }
  std::string_view TakePlain(const PlainBytes& plain) { return parser.TakePlain(plain, nullptr); }
};

}  // namespace

int Parser_CL::ReadHeaderComment(std::string& raw, DocumentHeader& target) {
  ParserSource source{*this};
  const bool noInclude = !baseFolder_;
  const std::string_view baseFolder = baseFolder_ ? std::string_view(*baseFolder_) : "";
  return ReadCommentBody(source, raw, [&](const std::string& key, const std::string& value) {
    std::vector<MissingInclude> missing;
    ApplyHeaderEntry(target, key, value, baseFolder, noInclude, &missing, &inputsRead, entryRule_,
                     &inputStamps);
    std::vector<MessageRecord> said;
    for (MissingInclude& include : missing) {
      said.push_back({MessageKind::IncludeMissing, "Include File Not Find \"" + include.path + "\"",
                      include.path, std::move(include.reason)});
    }
    // A bad extension is worth a word only where the extension would be used.
    if (!target.badOutputExt.empty()) {
      if (options.replaceExt)
        said.push_back({MessageKind::BadOutputExt,
                        "Bad output_ext \"" + target.badOutputExt + "\" (ignored)",
                        {},
                        {}});
      target.badOutputExt.clear();
    }
    for (const MessageRecord& message : said) {
      Say(message);
      // The first pass keeps its messages: completing it repeats them as a second pass would.
      if (pass == 1)
        firstPass_.messages.push_back(message);
    }
  });
}

}  // namespace tarvix
