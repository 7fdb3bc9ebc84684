// The driver: start-up checks, the passes, the commit of the output, and the token
// operations every renderer reads through.
#include "app/Parser_CL.h"

#include <cstdint>
#include <utility>

#include "text/Text.h"

namespace tarvix {
namespace {

constexpr std::string_view kTemporaryPrefix = "Tarvix";
// A depth token's text: the marker it stands for.
constexpr std::string_view kDepthText = ">";
// What gathering takes in one piece: every short kind whose text is its bytes, blanks
// included; each gatherer leaves out the kinds it stops at.
constexpr PlainBytes kGatherPlain =
    MakePlainBytes("().<>/|:-=!~&+#0123456789*_\\\"'[]`", false, true);
constexpr PlainBytes kCodeGatherPlain =
    MakePlainBytes("().<>/|:-=!~&+#0123456789*_\\\"'[]", false, true);

}  // namespace

int Parser_CL::Init(const std::vector<std::string>& arguments) {
  if (!ParseOptions(arguments, options))
    return 0;
  pass = 1;
  unresolvedReference = 0;
  atLineStart = 1;
  quoteDepth = 0;
  if (!platform::PathExists(options.inputFile)) {
    platform::PrintMessage("No InputFile");
    return 0;
  }
  if (!options.templateFile.empty() && !platform::PathExists(options.templateFile)) {
    platform::PrintMessage("No TemplateFile");
    return 0;
  }
  out = std::make_unique<platform::OutputStream>();
  if (options.outputFile.empty()) {
    out->OpenStandardOutput();
  } else {
    if (!tempFile.Create(std::string(kTemporaryPrefix))) {
      platform::PrintMessage("Open Err TemporaryFile");
      return 0;
    }
    if (!out->OpenFile(tempFile.path)) {
      platform::PrintMessage("Open Err OutputFile");
      return 0;
    }
  }
  header.output_ext = ExtensionOf(options.outputFile, true);
  initOutputExt_ = header.output_ext;
  // The input exists but cannot be read (a folder, no permission): say so rather than end
  // without a word.
  if (!lex.Open(options.inputFile)) {
    platform::PrintMessage("Open Err InputFile");
    return 0;
  }
  return 1;
}

int Parser_CL::Run() {
  NextToken(false);
  Convert();
  if (unresolvedReference) {
    ++pass;
    if (CanCompleteFirstPass()) {
      // What the second pass would print before its page: the include messages again.
      for (const std::string& message : passMessages_)
        platform::PrintMessage(message);
      fillHoles_ = true;
      EmitPage(firstPassBody_);
    } else {
      Reset();
      NextToken(false);
      Convert();
    }
  }
  if (memoryPage_)
    return 0;
  bool written = out->Close() && !writeFailed_;
  out.reset();
  if (!written) {
    // The temporary file, if any, is deleted with tempFile; an existing target stays.
    platform::PrintError("Write Err OutputFile");
    return 1;
  }
  if (options.outputFile.empty())
    return 0;
  std::string target = options.outputFile;
  if (options.replaceExt)
    target = WithoutExtension(options.outputFile) + header.output_ext;
  if (!tempFile.Commit(target)) {
    platform::PrintError("TemporaryFile rename error");
    return 1;
  }
  return 0;
}

void Parser_CL::Reset() {
  unresolvedReference = 0;
  headingIds.clear();
  ResetHeader(header);
  // The output is named the same way whichever pass writes the page.
  header.output_ext = initOutputExt_;
  atLineStart = 1;
  quoteDepth = 0;
  // The lexer keeps the bytes it read: the same path starts again from the top.
  (void)lex.Open(options.inputFile);
}

std::string Parser_CL::ConvertInMemory(const MemoryConversion& conversion) {
  std::string page;
  memoryPage_ = &page;
  memoryTemplate_ = conversion.hasTemplate ? &conversion.templateText : nullptr;
  followIncludes_ = false;
  options.imageLink = conversion.imageLink;
  options.rootRel = conversion.rootRel;
  options.syntaxDir = conversion.syntaxDir;
  completeFirstPass_ = !conversion.realSecondPass;
  header.output_ext.clear();
  lex.OpenBytes(conversion.document);
  (void)Run();
  memoryPage_ = nullptr;
  memoryTemplate_ = nullptr;
  return page;
}

int Parser_CL::NewHole(std::string key, bool caret) {
  holes_.push_back({std::move(key), caret});
  return static_cast<int>(holes_.size() - 1);
}

void Parser_CL::AppendHoleMarker(OutputPair& out, int hole) {
  out.html.push_back('\0');
  out.html += IntToText(hole);
  out.html.push_back('\0');
  out.MarkMarkup();
}

void Parser_CL::NoteKey(const std::string& key) {
  if (MakingHoles() && key.find('\0') != std::string::npos)
    holeInKey_ = true;
}

bool Parser_CL::CanCompleteFirstPass() const {
  if (!completeFirstPass_ || holeInKey_)
    return false;
  // A caret link that stays undefined writes nothing; where it stood at the edge of a
  // trimmed heading or cell, the trimming would have seen other blanks.
  for (const Hole& hole : holes_) {
    if (hole.caret && caretTargets.find(hole.key) == caretTargets.end())
      return false;
  }
  return true;
}

void Parser_CL::AppendHoleValue(std::size_t index, std::string& out) const {
  const Hole& hole = holes_[index];
  if (hole.caret) {
    OutputPair link;
    AppendCaretLink(link, caretTargets.find(hole.key)->second, hole.key);
    out += link.html;
  } else if (const auto found = linkReferences.find(hole.key); found != linkReferences.end()) {
    AppendCleanUtf8(out, found->second);
  }
}

Token Parser_CL::ReadLineStart(bool skipBlanks) {
  ParserSnapshot s = Snapshot();
  Token t = lex.Scan(skipBlanks);
  if (t.Is(kind::Lf)) {
    atLineStart = 1;
    return t;
  }
  if (atLineStart) {
    atLineStart = 0;
    std::int32_t n = 0;
    while (t.Is(kind::Greater)) {
      if (n < INT32_MAX)
        ++n;
      s = Snapshot();
      t = lex.Scan(true);
    }
    if (n != quoteDepth) {
      Restore(s, &t);
      t = Token{};
      t.code = kind::Greater;
      t.count = n;
      t.data = kDepthText.data();
      t.size = kDepthText.size();
      t.flags = Token::kDepthMark;
    } else if (t.Is(kind::Lf)) {
      atLineStart = 1;
    }
  }
  return t;
}

OutputPair& Parser_CL::ScratchPair() {
  const auto depth = static_cast<std::size_t>(inlineDepth_);
  while (scratchPairs_.size() <= depth)
    scratchPairs_.emplace_back();
  OutputPair& pair = scratchPairs_[depth];
  pair.Clear();
  return pair;
}

void Parser_CL::Restore(const ParserSnapshot& snapshot, Token* outToken) {
  if (!snapshot.valid)
    return;
  lex.Reset(snapshot.mark);
  if (outToken) {
    *outToken = snapshot.current;
  } else {
    lex.current = snapshot.current;
    lex.current.code = kind::Text;
  }
  atLineStart = snapshot.atLineStart;
  quoteDepth = snapshot.quoteDepth;
}

std::string_view Parser_CL::TakePlain(const PlainBytes& plain, bool* endsInText, bool* escaped) {
  if (atLineStart)
    return {};
  const PlainRun run = lex.TakePlain(plain);
  if (endsInText && run.end != run.begin)
    *endsInText = run.endsInText;
  if (escaped)
    *escaped = run.escaped;
  return lex.Bytes().substr(run.begin, run.end - run.begin);
}

std::string Parser_CL::CollectUntil(std::uint32_t code, std::int32_t count) {
  // A terminator that a plain run could hold is left to the token-by-token check.
  PlainBytes plain = kGatherPlain;
  bool takePlain = true;
  if (code < plain.take.size()) {
    plain.take[code] = false;
  } else if (code == kind::DefinitionClose) {
    plain.take[']'] = false;
  } else if (code == kind::Text || code == kind::Sp || code == kind::Head ||
             code == kind::Ordered || code == kind::Bullet) {
    takePlain = false;
  }
  std::string s;
  for (;;) {
    const Token& t = current();
    if (t.EndsGathering())
      break;
    if (t.code == code && (count == -1 || t.count == count))
      break;
    if (code == kind::DefinitionClose && t.Is(kind::RightBracket))
      break;
    if (t.Is(kind::Lf)) {
      s.push_back(code == kind::Backtick ? '\n' : ' ');
    } else {
      t.AppendTextTo(s);
      if (takePlain)
        s.append(TakePlain(plain, nullptr));
    }
    NextToken(false);
  }
  return s;
}

std::string Parser_CL::CollectCode(std::int32_t count) {
  std::string s;
  for (;;) {
    const Token& t = current();
    if (t.EndsGathering() || t.Is(kind::Lf))
      break;
    if (t.Is(kind::Backtick) && t.count == count)
      break;
    t.AppendTextTo(s);
    s.append(TakePlain(kCodeGatherPlain, nullptr));
    NextToken(false);
  }
  return s;
}

int Main(int argc, char** argv) {
  platform::PrepareProcess();
  auto parser = std::make_unique<Parser_CL>();
  if (!parser->Init(platform::CommandLineArguments(argc, argv)))
    return 255;
  return parser->Run();
}

}  // namespace tarvix
