// Parser_CL: the one object of a run. It owns the options, the lexer, the output, the
// reference tables, the brush table and the document header; every renderer is one of
// its member operations, reading tokens through the operations below and writing only
// into an OutputPair. Its mechanisms are members of their own types: the in-place writer,
// the first pass's completion, the heading guesses, the TOC notes and the page output.
#pragma once

#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/FirstPass_CL.h"
#include "core/HeadingGuesses_CL.h"
#include "core/HeadingIds_CL.h"
#include "core/InPlaceWriter_CL.h"
#include "core/InlineMode.h"
#include "core/Limits.h"
#include "core/Messages.h"
#include "core/Options.h"
#include "core/PageOutput_CL.h"
#include "core/PageSink_CL.h"
#include "core/ParserSettings.h"
#include "core/PrefaultAhead_CL.h"
#include "core/Toc.h"
#include "highlight/HighLight_CL.h"
#include "html/OutputPair.h"
#include "lex/Header.h"
#include "lex/Lex_CL.h"
#include "platform/Platform.h"
#include "text/BaseFolder.h"

namespace tarvix {

// What backtracking needs: a place in the input, the current token and the line state.
struct ParserSnapshot {
  bool valid = false;
  LexMark mark;
  Token current;
  std::int32_t atLineStart = 1;
  std::int32_t quoteDepth = 0;
};

class Parser_CL {
 public:
  Parser_CL() { settings_.messages = &console_; }
  virtual ~Parser_CL() = default;
  Parser_CL(const Parser_CL&) = delete;
  Parser_CL& operator=(const Parser_CL&) = delete;

  // The caller's settings for the run, taken whole: given before Init, or before Run when
  // the run has no Init (a document from memory). Without, the run has the defaults.
  void UseSettings(ParserSettings settings);
  // The settings as the run has them; their sink is the console when none was given.
  [[nodiscard]] const ParserSettings& Settings() const { return settings_; }
  [[nodiscard]] MessageSink_CL& Messages() const { return *settings_.messages; }

  // Reads the options from `arguments`, checks the files, opens the output and the input.
  // Nonzero when the run can go on; every failure has printed its message.
  [[nodiscard]] int Init(const std::vector<std::string>& arguments);
  // One or two passes, then the output is closed and committed. Returns the exit status:
  // 0 when the page was written, 1 when it could not be.
  [[nodiscard]] int Run();
  // Back to the state before a pass (the second), or before the first pass (All: what
  // the passes collected is forgotten too).
  void Reset();
  void ResetAll();
  // The file the page is committed to: the output file, renamed by -ext.
  [[nodiscard]] std::string TargetPath() const;
  // One conversion pass: the block loop and the page output.
  void Convert();

  // The document comes from `bytes` rather than from the input file (standard input, a
  // caller of the library). Relative template and include entries start from
  // `baseFolder` ("" is the current folder); without one they are ignored.
  void UseDocument(std::string bytes, std::optional<std::string> baseFolder);
  // The same for bytes the caller keeps alive until the run is over: nothing is copied.
  void UseDocumentView(std::string_view bytes, std::optional<std::string> baseFolder);
  // A second pass converts the document again rather than complete the first (same page).
  void ConvertSecondPassInFull() { firstPass_.enabled = false; }
  // How the document's template and include entries are read (a caller of the library
  // keeps documents it did not write inside the base folder).
  void ReadEntries(EntryRule rule) { entryRule_ = rule; }
  // True when the run refused its page as larger than the settings' `maxPageSize`.
  [[nodiscard]] bool PageTooLarge() const { return pageTooLarge_; }

  // Token operations. To advance always means NextToken.
  void NextToken(bool skipBlanks) {
    if (!atLineStart) {
      // Built in place: a copy would be read back in wider pieces than written, and stall.
      static_assert(std::is_trivially_copyable_v<Token> && std::is_trivially_destructible_v<Token>);
      ::new (static_cast<void*>(&lex.current)) Token(lex.Scan(skipBlanks));
      if (lex.current.Is(kind::Lf))
        atLineStart = 1;
      return;
    }
    ::new (static_cast<void*>(&lex.current)) Token(ReadLineStart(skipBlanks));
  }
  void SkipSpaces() {
    while (lex.current.Is(kind::Sp))
      NextToken(false);
  }
  [[nodiscard]] ParserSnapshot Snapshot() const {
    return {true, lex.Mark(), lex.current, atLineStart, quoteDepth};
  }
  // Back to `snapshot`. With `out`, the saved current token goes there and the current
  // token stays; without, the saved token becomes current as TEXT, so a construct that
  // failed to parse reads as its literal text.
  void Restore(const ParserSnapshot& snapshot, Token* out);
  // The texts of the tokens from the current one up to a token of kind `code` (and of
  // count `count` unless -1), `]` as well when `code` is `]:`, or the end of input. The
  // terminator stays current. A line end adds "\n" for code, else a space.
  [[nodiscard]] std::string CollectUntil(std::uint32_t code, std::int32_t count);
  // The same appended to `s`, sized once for a long gather (the bytes are held once).
  void CollectInto(std::string& s, std::uint32_t code, std::int32_t count);
  // Code-span text up to a line end or a backtick run of `count`.
  [[nodiscard]] std::string CollectCode(std::int32_t count);
  // After a token written or gathered inside a line: the plain tokens after it as one slice
  // of the input (Lex_CL::TakePlain); empty at a line start. The caller's NextToken reads
  // the token after them. `endsInText` (if given) is set when something was taken.
  // In line: the inline run asks for one after nearly every token it writes.
  [[nodiscard]] std::string_view TakePlain(const PlainBytes& plain, bool* endsInText,
                                           bool* escaped = nullptr) {
    if (atLineStart)
      return {};
    const PlainRun run = lex.TakePlain(plain);
    if (endsInText && run.end != run.begin)
      *endsInText = run.endsInText;
    if (escaped)
      *escaped = run.escaped;
    return {lex.Bytes().data() + run.begin, run.end - run.begin};
  }

  // Block renderers: each starts with its opening token current, appends to `out` and
  // leaves the first token it did not use current.
  void RenderHeading(OutputPair& out);
  int RenderParagraph(OutputPair& out);
  std::int32_t RenderBulletList(OutputPair& out, std::int32_t base);
  std::int32_t RenderOrderedList(OutputPair& out, std::int32_t base);
  void RenderBlockQuote(OutputPair& out);
  void RenderIndentedCode(OutputPair& out);
  void RenderFencedCode(OutputPair& out);
  // A table replaces `out.html` from `tableStart` on. Lines that are no table write
  // nothing, or, at a block start, a paragraph of what they looked like.
  int RenderTable(OutputPair& out, std::string firstCell, int atBlockStart, std::size_t tableStart);
  // True when a line end follows the current token somewhere in the input (Tables.cpp):
  // without one a paragraph's line cannot start a table, and is not read as a header row.
  [[nodiscard]] bool LineEndAhead() const;
  void RenderCaretBlock(OutputPair& out);
  void RenderAngle(OutputPair& out);

  // Inline: the dispatcher and the constructs it hands tokens to.
  void RenderInline(InlineMode mode, OutputPair& out, std::int32_t closeCount);
  void RenderStarEmphasis(OutputPair& out);
  void RenderUnderscoreEmphasis(OutputPair& out);
  void RenderStrong(OutputPair& out);
  void RenderStrike(OutputPair& out);
  void RenderCodeSpan(OutputPair& out);
  void RenderLink(OutputPair& out, InlineMode mode);
  void RenderCaretLink(OutputPair& out);
  void RenderImage(OutputPair& out, InlineMode mode);

  // Reads a header comment's body from the current token on into `raw`: 1 when "-->"
  // closed it; 0 at the end of input or where a quoted passage ends.
  int ReadHeaderComment(std::string& raw, DocumentHeader& header);

  Lex_CL lex;
  PageOutput_CL output;  // where the page goes without a sink (Init opens it, Run commits)
  Options options;       // as Init read them; a run without Init has its caller's
  std::int32_t pass = 1;
  std::int32_t unresolvedReference = 0;
  ReferenceTable linkReferences;
  ReferenceTable caretTargets;
  HeadingIds_CL headingIds;
  HighLight_CL highLight;
  std::int32_t tableRowFlag = 0;
  std::int32_t atLineStart = 1;
  std::int32_t quoteDepth = 0;
  DocumentHeader header;
  // The files the run looked for besides the document (the template it chose, every include
  // named, found or not) and their stamps before it read them: a site run's inputs.
  std::vector<std::string> inputsRead;
  std::vector<platform::FileStamp> inputStamps;

 private:
  // One message of the run through the settings' sink, with the file it concerns and the
  // system's reason. While the page goes to standard output, every message goes to
  // standard error, so that the page stays alone on its stream.
  void Say(const MessageRecord& record, MessageStream stream = MessageStream::Output);
  void Say(MessageKind kind, std::string_view line, std::string_view path = {},
           std::string_view reason = {}, MessageStream stream = MessageStream::Output);
  void Say(MessageKind kind, std::string_view line, MessageStream stream);
  // True when `path` names the input file itself (links followed).
  [[nodiscard]] bool IsInputFile(const std::string& path) const;
  [[nodiscard]] const Token& current() const { return lex.current; }
  // How much of the document is still to be read.
  [[nodiscard]] std::size_t Unread() const {
    return lex.InputSize() - std::min(lex.Mark().pos, lex.InputSize());
  }
  // Gives back the mapped document's pages well behind what has been read, now and then:
  // called at each block and at each dispatch of the inline run, as a long line is read
  // within one paragraph.
  void ReleaseReadInput() {
    if (lex.Mark().pos >= nextRelease_) [[unlikely]]
      ReleaseReadInputNow();
  }
  void ReleaseReadInputNow();
  // The first pass, and the second when a reference came before its definition.
  void ConvertPasses();
  // The dispatcher's loop (RenderInline), watching the tail at each dispatch.
  void RunInline(InlineMode mode, OutputPair& out, std::int32_t closeCount, TailWatch& watch);
  // Writes the plain tokens after the token just written (the mode says which are plain).
  // True when the last token written is text a delimiter can glue to (else `afterText`).
  // A run goes on over line ends into lines that start with a word, as the dispatcher
  // would write them, for a bounded stretch of the document.
  bool WritePlain(OutputPair& out, InlineMode mode, bool afterText);
  // True when the current character is a line end that the dispatcher, in `mode`, would
  // write as one space before the word the next line starts with.
  [[nodiscard]] bool LineGoesOnInText(InlineMode mode) const;
  // The delimiters glued to the text token just written, as text.
  void WriteGlued(OutputPair& out, InlineMode mode);
  // The first token of a line, with the quote-prefix rule.
  [[nodiscard]] Token ReadLineStart(bool skipBlanks);
  // What CollectUntil(backtick run, `count`) gathers, appended to `code`; outside quotes
  // the bytes are the code but for line ends, so they are taken in runs (CodeBlocks.cpp).
  void CollectFencedCode(std::int32_t count, std::string& code);
  void RenderEmphasis(OutputPair& out, std::uint32_t delimiter, InlineMode mode);
  void RenderSpan(OutputPair& out, std::uint32_t opener, InlineMode mode, std::string_view openTag,
                  std::string_view closeTag);
  int RenderList(OutputPair& out, std::int32_t base, bool ordered);
  // Appends the address of an inline link to `url`.
  void CollectUrl(std::string& url);
  std::string ReadTagName(bool closing);
  // The inline or reference form after "[text]" or "![text]" into `url` and `title`.
  bool ReadLinkTarget(std::string& s, std::string_view labelHtml, std::string& url,
                      std::string& title, int& hole);
  // After the id of a caret link: the closing `]` and the link, or the write-back.
  void FinishCaretLink(OutputPair& out, std::string& s, const std::string& id);
  // Writes a link or image address: the URL, or the place of a reference not yet defined.
  void AppendAddress(OutputPair& out, const std::string& url, int hole);
  // The page assembly (Convert.cpp): the page of `body`, whose buffer it may take, into
  // the template or alone; the body with its holes filled when the first pass is being
  // completed (BodySize counts it so); or, above the bound, nothing but RefusePage's word.
  void EmitPage(OutputPair& body);
  void WritePage(std::string_view page);
  void WriteBody(const std::string& html);
  void WriteBodyAlone(std::string& html, std::uint64_t size);
  [[nodiscard]] std::uint64_t BodySize(const std::string& html) const;
  void RefusePage();

  ConsoleMessages_CL console_;
  ParserSettings settings_;
  FirstPass_CL firstPass_{linkReferences, caretTargets};
  std::string initOutputExt_;  // the output extension Init found, for the second pass
  int inlineDepth_ = 0;
  // Where the pass next gives back the mapped document's pages behind what it has read.
  std::size_t nextRelease_ = SIZE_MAX;
  InPlaceWriter_CL inPlace_;
  // Makes the body's memory ready ahead of the pass (with the settings' prefaultBody); long
  // blocks such as tables tell it how far they wrote.
  PrefaultAhead_CL prefault_;
  HeadingGuesses_CL headingGuesses_;
  std::string codeText_;  // a fenced block's code, kept for the next block
  std::string codeInfo_;
  int listDepth_ = 0;
  TocNotes_CL tocNotes_;
  bool pageTooLarge_ = false;
  EntryRule entryRule_ = EntryRule::Joined;
  // The mapped document changed during a pass: the passes are made again from a copy.
  bool inputChanged_ = false;
  bool pageOnStandardOutput_ = false;
  platform::FileStatus input_;  // what the input file is, found by Init
  // Where relative template and include entries start; none: they are ignored.
  std::optional<std::string> baseFolder_;
};

}  // namespace tarvix
