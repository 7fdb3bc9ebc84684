// The driver: start-up checks, the passes, the commit of the output, and the token
// operations every renderer reads through.
#include "core/Parser_CL.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <utility>

#include "core/CommandLine_CL.h"
#include "core/ConvertFile.h"
#include "text/Text.h"

namespace tarvix {
namespace {

constexpr std::string_view kTemporaryPrefix = "Tarvix";
// The bound is the largest count a token holds.
static_assert(kMaxInputSize == std::numeric_limits<std::int32_t>::max());
// Where the page goes when no output file is named, for the line after a failed write.
constexpr std::string_view kStandardOutputName = "standard output";
// A depth token's text: the marker it stands for.
constexpr std::string_view kDepthText = ">";
// What gathering takes in one piece: every short kind whose text is its bytes, blanks
// included; each gatherer leaves out the kinds it stops at.
constexpr PlainBytes kGatherPlain =
    MakePlainBytes("().<>/|:-=!~&+#0123456789*_\\\"'[]`", false, true);
// Gathers longer than this are the rare runaway kind (a definition without its line end
// in a document of one line); the input behind them is given back this often.
constexpr std::size_t kLongGather = std::size_t{1} << 20;
// The input a gather keeps mapped behind it, for a construct that backtracks near it.
constexpr std::size_t kGatherMargin = std::size_t{1} << 20;
constexpr PlainBytes kCodeGatherPlain =
    MakePlainBytes("().<>/|:-=!~&+#0123456789*_\\\"'[]", false, true);

}  // namespace

void Parser_CL::UseSettings(ParserSettings settings) {
  settings_ = std::move(settings);
  if (!settings_.messages)
    settings_.messages = &console_;
}

int Parser_CL::Init(const std::vector<std::string>& arguments) {
  if (!ParseOptions(arguments, options))
    return 0;
  pass = 1;
  unresolvedReference = 0;
  atLineStart = 1;
  quoteDepth = 0;
  pageOnStandardOutput_ = options.outputFile.empty();
  const bool fromStandardInput = options.inputFile == kStandardInputName;
  std::string reason;
  if (!fromStandardInput) {
    if (!platform::StatusOf(options.inputFile, &input_, &reason)) {
      if (options.inputAfterValue && !reason.empty())
        reason += " (the input file comes first: tarvix INPUT -o OUTPUT)";
      Say(MessageKind::NoInputFile, "No InputFile", options.inputFile, reason);
      return 0;
    }
    // A document is a file or what a pipe brings; a device might never end (/dev/zero).
    if (input_.kind != platform::FileKind::Regular && input_.kind != platform::FileKind::Pipe) {
      Say(MessageKind::OpenInputFile, "Open Err InputFile", options.inputFile,
          platform::NotRegularReason(input_.kind));
      return 0;
    }
    // Said before anything is read: reading it would only end in exhausted memory.
    if (input_.size > kMaxInputSize) {
      Say(MessageKind::InputTooLarge, "InputFile too large", options.inputFile);
      return 0;
    }
  }
  platform::FileStatus templateStatus;
  if (!options.templateFile.empty() &&
      !platform::StatusOf(options.templateFile, &templateStatus, &reason)) {
    Say(MessageKind::NoTemplateFile, "No TemplateFile", options.templateFile, reason);
    return 0;
  }
  output.Prepare();
  if (options.outputFile.empty()) {
    output.OpenStandardOutput();
  } else {
    platform::FileStatus target;
    const bool targetExists = platform::StatusOf(options.outputFile, &target);
    // The page would overwrite its own document.
    if (IsInputFile(options.outputFile)) {
      Say(MessageKind::OutputIsInput, "OutputFile is InputFile", options.outputFile);
      return 0;
    }
    if (settings_.pageSink) {
      // The caller gives the page its file (a site run, below its output folder).
    } else if (targetExists && !options.replaceExt && target.kind != platform::FileKind::Regular &&
               target.kind != platform::FileKind::Folder) {
      // A device or a pipe takes the page as it is written: there is no file to replace.
      if (!output.OpenNode(options.outputFile, &reason)) {
        Say(MessageKind::OpenOutputFile, "Open Err OutputFile", options.outputFile, reason);
        return 0;
      }
    } else {
      const std::string& folder = settings_.temporaryFolder;
      if (!output.CreateTemporary(std::string(kTemporaryPrefix), folder, &reason)) {
        Say(MessageKind::OpenTemporaryFile, "Open Err TemporaryFile",
            folder.empty() ? platform::TemporaryFolder() : folder, reason);
        return 0;
      }
      if (!output.OpenTemporary(&reason)) {
        Say(MessageKind::OpenOutputFile, "Open Err OutputFile", output.TemporaryPath(), reason);
        return 0;
      }
    }
  }
  header.output_ext = ExtensionOf(options.outputFile, true);
  initOutputExt_ = header.output_ext;
  if (fromStandardInput) {
    // Read to its end before the first pass, so that both passes have the document; its
    // relative entries start from the current folder.
    std::string bytes;
    if (!platform::ReadStandardInput(&bytes)) {
      Say(MessageKind::OpenInputFile, "Open Err InputFile");
      return 0;
    }
    if (bytes.size() > kMaxInputSize) {
      Say(MessageKind::InputTooLarge, "InputFile too large", options.inputFile);
      return 0;
    }
    UseDocument(std::move(bytes), std::string());
    return 1;
  }
  // The input exists but cannot be read (no permission): say so rather than end without a
  // word.
  if (!lex.Open(options.inputFile)) {
    Say(MessageKind::OpenInputFile, "Open Err InputFile", options.inputFile,
        platform::ReadFailureReason(options.inputFile));
    return 0;
  }
  baseFolder_ = FolderOf(options.inputFile);
  return 1;
}

void Parser_CL::Say(const MessageRecord& record, MessageStream stream) {
  Messages().Record(record, pageOnStandardOutput_ ? MessageStream::Error : stream);
}

void Parser_CL::Say(MessageKind kind, std::string_view line, std::string_view path,
                    std::string_view reason, MessageStream stream) {
  Say(MessageRecord{kind, std::string(line), std::string(path), std::string(reason)}, stream);
}

void Parser_CL::Say(MessageKind kind, std::string_view line, MessageStream stream) {
  Say(kind, line, {}, {}, stream);
}

bool Parser_CL::IsInputFile(const std::string& path) const {
  platform::FileStatus status;
  return platform::StatusOf(path, &status) && status.device == input_.device &&
         status.inode == input_.inode;
}

void Parser_CL::ConvertPasses() {
  NextToken(false);
  Convert();
  if (unresolvedReference && !inputChanged_) {
    ++pass;
    if (firstPass_.CanComplete()) {
      // What the second pass would print before its page: the include messages again.
      for (const MessageRecord& message : firstPass_.messages)
        Say(message);
      firstPass_.filling = true;
      EmitPage(firstPass_.body);
    } else {
      Reset();
      NextToken(false);
      Convert();
    }
  }
}

int Parser_CL::Run() {
  ConvertPasses();
  if (inputChanged_) {
    // The file changed under its mapping while the passes read it. Its messages so far
    // stay said, as a first pass's do; a copy of the file as it is now is converted from
    // the start, and it cannot change again.
    std::string reason;
    if (!lex.ReadAgain(&reason)) {
      Say(MessageKind::OpenInputFile, "Open Err InputFile", options.inputFile, reason,
          MessageStream::Error);
      return kStatusNotWritten;
    }
    if (lex.InputSize() > kMaxInputSize) {
      Say(MessageKind::InputTooLarge, "InputFile too large", options.inputFile, {},
          MessageStream::Error);
      return kStatusNotWritten;
    }
    ResetAll();
    ConvertPasses();
  }
  // A page handed to the caller's sink has nothing left to close or commit.
  if (settings_.pageSink) {
    if (pageTooLarge_)
      return kStatusNotWritten;
    // A named output the caller writes: the extension the document asked for may still
    // make the name of the document itself.
    const std::string target = TargetPath();
    if (!options.outputFile.empty() && target != options.outputFile && IsInputFile(target)) {
      Say(MessageKind::OutputIsInput, "OutputFile is InputFile", target);
      return kStatusNotStarted;
    }
    return kStatusWritten;
  }
  if (pageTooLarge_) {
    // Nothing of the page was written: the temporary file goes, the target stays.
    output.Discard();
    return kStatusNotWritten;
  }
  std::string writeFailure;
  if (!output.Close(&writeFailure)) {
    // A reader that stopped early (tarvix doc.md | head) is no failure of ours: the run
    // ends as any filter in that pipe would, without a word.
    if (options.outputFile.empty() && platform::IsClosedPipeReason(writeFailure))
      platform::EndAsClosedPipe();
    // The temporary file, if any, is deleted with the output; an existing target stays.
    const std::string failed = options.outputFile.empty() ? std::string(kStandardOutputName)
                               : output.IntoNode()        ? options.outputFile
                                                          : output.TemporaryPath();
    Say(MessageKind::WriteOutputFile, "Write Err OutputFile", failed, writeFailure,
        MessageStream::Error);
    return kStatusNotWritten;
  }
  if (options.outputFile.empty() || output.IntoNode())
    return kStatusWritten;
  const std::string target = TargetPath();
  // The extension the document asked for can make the name of the document itself.
  if (target != options.outputFile && IsInputFile(target)) {
    Say(MessageKind::OutputIsInput, "OutputFile is InputFile", target);
    return kStatusNotStarted;
  }
  std::string reason;
  if (!output.Commit(target, &reason)) {
    // The system's words for a missing folder name the file; the folder is what to mend.
    const std::string folder = FolderOf(target);
    if (!folder.empty() && !platform::IsFolder(folder)) {
      Say(MessageKind::RenameOutputFile, "TemporaryFile rename error", folder, "no such folder",
          MessageStream::Error);
      return kStatusNotWritten;
    }
    Say(MessageKind::RenameOutputFile, "TemporaryFile rename error", target, reason,
        MessageStream::Error);
    return kStatusNotWritten;
  }
  return kStatusWritten;
}

std::string Parser_CL::TargetPath() const {
  if (options.replaceExt)
    return WithoutExtension(options.outputFile) + header.output_ext;
  return options.outputFile;
}

void Parser_CL::Reset() {
  unresolvedReference = 0;
  headingIds.clear();
  tocNotes_.Clear();
  ResetHeader(header);
  // The output is named the same way whichever pass writes the page.
  header.output_ext = initOutputExt_;
  atLineStart = 1;
  quoteDepth = 0;
  // The lexer keeps the bytes it read, from a file or from memory.
  lex.Rewind();
}

void Parser_CL::ResetAll() {
  pass = 1;
  linkReferences.clear();
  caretTargets.clear();
  highLight = HighLight_CL();
  firstPass_.Clear();
  inputChanged_ = false;
  pageTooLarge_ = false;
  Reset();
}

void Parser_CL::UseDocument(std::string bytes, std::optional<std::string> baseFolder) {
  lex.OpenBytes(std::move(bytes));
  baseFolder_ = std::move(baseFolder);
}

void Parser_CL::UseDocumentView(std::string_view bytes, std::optional<std::string> baseFolder) {
  lex.OpenView(bytes);
  baseFolder_ = std::move(baseFolder);
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

std::string Parser_CL::CollectUntil(std::uint32_t code, std::int32_t count) {
  std::string s;
  CollectInto(s, code, count);
  return s;
}

void Parser_CL::CollectInto(std::string& s, std::uint32_t code, std::int32_t count) {
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
  const std::size_t start = s.size();
  std::size_t nextRelease = kLongGather;
  for (;;) {
    if (s.size() - start >= nextRelease) {
      // A gather this long can run to the end of the input: `s` takes room for all of it
      // at once, and the input read more than a margin ago goes back to the file.
      const std::size_t at = lex.Mark().pos;
      if (nextRelease == kLongGather) {
        s.reserve(s.size() + (lex.Bytes().size() - std::min(at, lex.Bytes().size())));
        platform::AdviseLargeBuffer(s.data() + s.size(), s.capacity() - s.size());
      }
      if (at > kGatherMargin)
        lex.ReleaseBefore(at - kGatherMargin);
      nextRelease = s.size() - start + kLongGather;
    }
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

}  // namespace tarvix
