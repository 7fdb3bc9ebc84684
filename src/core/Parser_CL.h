// Parser_CL: the one object of a run. It owns the options, the lexer, the output, the
// reference tables, the brush table and the document header; every renderer is one of
// its member operations, reading tokens through the operations below and writing only
// into an OutputPair.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "block/HeadingIds_CL.h"
#include "core/BaseFolder.h"
#include "core/Messages.h"
#include "core/Options.h"
#include "core/TemporaryFile_CL.h"
#include "core/Toc.h"
#include "highlight/HighLight_CL.h"
#include "html/OutputPair.h"
#include "lex/Header.h"
#include "lex/Lex_CL.h"
#include "platform/Platform.h"

namespace tarvix {

// The context of an inline run: it decides which tokens end the run.
enum class InlineMode : std::int32_t {
  UnderscoreEmphasis = 1,
  StarEmphasis = 2,
  Strong = 5,
  Strike = 6,
  CodeSpan = 7,
  Paragraph = 8,
  LinkText = 9,
  ImageText = 10,
  Heading = 11,
  TableCell = 13,
};

// Nested inline runs (the block's own run counts as the first) and nested lists stop
// here, so that no document can exhaust the stack; deeper openers are written as text.
inline constexpr int kMaxInlineDepth = 64;
inline constexpr int kMaxListDepth = 64;

// What backtracking needs: a place in the input, the current token and the line state.
struct ParserSnapshot {
  bool valid = false;
  LexMark mark;
  Token current;
  std::int32_t atLineStart = 1;
  std::int32_t quoteDepth = 0;
};

// Receives the page of a run in pieces, in order, instead of the output stream (a
// conversion in memory).
class PageSink_CL {
 public:
  virtual ~PageSink_CL() = default;
  // The page's size, told before its first byte. With `adoptsBody`, the body will be
  // offered to AdoptBody instead of written.
  virtual void Reserve(std::uint64_t size, bool adoptsBody) {
    (void)size;
    (void)adoptsBody;
  }
  // Takes the body's buffer as the page's from here on, the bytes written so far put in
  // front of it, instead of a copy of it: a page in memory then costs the body once.
  virtual void AdoptBody(std::string&& body) { Write(body); }
  virtual void Write(std::string_view bytes) = 0;
};

// The largest page a run writes, as for the document: a page whose size the document
// makes grow faster than itself (header values full of placeholders, a table of contents)
// is refused rather than exhausting memory or the disk.
inline constexpr std::uint64_t kMaxPageSize = 0x7FFFFFFF;
// The largest document: token counts (run lengths, numbers) are 32-bit, and in a larger
// document a run could outgrow its count. At this size every count of the document is
// exact.
inline constexpr std::uint64_t kMaxInputSize = 0x7FFFFFFF;

class Parser_CL {
 public:
  Parser_CL() = default;
  // The output is closed first, before the temporary file it writes into is deleted.
  virtual ~Parser_CL() { out.reset(); }
  Parser_CL(const Parser_CL&) = delete;
  Parser_CL& operator=(const Parser_CL&) = delete;

  // Reads the options from `arguments`, checks the files, opens the output and the input.
  // Nonzero when the run can go on; every failure has printed its message.
  [[nodiscard]] int Init(const std::vector<std::string>& arguments);
  // One or two passes, then the output is closed and committed. Returns the exit status:
  // 0 when the page was written, 1 when it could not be.
  [[nodiscard]] int Run();
  // Back to the state before a pass (before the second pass).
  void Reset();
  // Back to the state before the first pass: what the passes collected is forgotten too.
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
  // Makes the second pass convert the document again instead of completing the first
  // pass's page (the two give the same page; tests compare them).
  void ConvertSecondPassInFull() { completeFirstPass_ = false; }
  // How the document's template and include entries are read (a caller of the library
  // keeps documents it did not write inside the base folder).
  void ReadEntries(EntryRule rule) { entryRule_ = rule; }
  // True when the run refused its page as larger than `maxPageSize`.
  [[nodiscard]] bool PageTooLarge() const { return pageTooLarge_; }

  // Token operations. To advance always means NextToken.
  [[nodiscard]] Token ReadToken(bool skipBlanks) {
    // Inside a line no prefix can follow: the scan alone, without a snapshot.
    if (!atLineStart) {
      Token t = lex.Scan(skipBlanks);
      if (t.Is(kind::Lf))
        atLineStart = 1;
      return t;
    }
    return ReadLineStart(skipBlanks);
  }
  void NextToken(bool skipBlanks) {
    if (!atLineStart) {
      // The scan builds its token in place: a token built aside and copied over would be
      // read back in wider pieces than it was written, which waits for the writes.
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
  // Code-span text up to a line end or a backtick run of `count`.
  [[nodiscard]] std::string CollectCode(std::int32_t count);
  // After a token was written or gathered inside a line: the plain tokens that follow it
  // (Lex_CL::TakePlain), as one slice of the input; empty at a line start. The token after
  // them is not read yet: the caller's NextToken reads it. `endsInText` (if given) is set
  // when something was taken.
  [[nodiscard]] std::string_view TakePlain(const PlainBytes& plain, bool* endsInText,
                                           bool* escaped = nullptr);

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

  // Document header comments: reads a comment body from the current token on, appending
  // what it consumes to `raw`. 1 when "-->" closed it; 0 at the end of input or where a
  // quoted passage ends.
  int ReadHeaderComment(std::string& raw, DocumentHeader& header);

  Lex_CL lex;
  std::unique_ptr<platform::OutputStream> out;
  Options options;
  TemporaryFile_CL tempFile;
  std::int32_t pass = 1;
  std::int32_t unresolvedReference = 0;
  std::unordered_map<std::string, std::string> linkReferences;
  std::unordered_map<std::string, std::string> caretTargets;
  HeadingIds_CL headingIds;
  HighLight_CL highLight;
  std::int32_t tableRowFlag = 0;
  std::int32_t atLineStart = 1;
  std::int32_t quoteDepth = 0;
  DocumentHeader header;
  // Where the temporary file of the page is made; empty: the system's temporary folder. A
  // site run makes each page's beside it, so that committing it is a rename inside one
  // folder: renames from one folder into another wait on each other across the whole
  // file system, and pages committed on several threads would take turns.
  std::string temporaryFolder;
  // Where the run's messages go; the console unless the caller names another sink.
  MessageSink_CL* messages = &console_;
  // The files the run looked for besides the document: the template it chose and every
  // include file named, found or not (a site run rebuilds the page when one changes).
  std::vector<std::string> inputsRead;
  // Where the page goes when set; `out` is then not used and may stay null.
  PageSink_CL* pageSink = nullptr;
  // The template's text when the caller holds it rather than a file: used where no
  // template file is chosen.
  std::optional<std::string> templateText;
  // When set, the page's table of contents goes here as well, whether the template shows
  // it or not (a caller that builds its own page around the body).
  std::string* tableOfContents = nullptr;
  // The largest page the run writes; a larger one is "Page too large" and nothing.
  std::uint64_t maxPageSize = kMaxPageSize;

 private:
  // One message of the run, through `messages`, with the file it concerns and the
  // system's reason (the line after it says them when the reason is known). While the page
  // goes to standard output, every message goes to standard error, so that the page stays
  // alone on its stream.
  void Say(const MessageRecord& record, MessageStream stream = MessageStream::Output) {
    messages->Record(record, pageOnStandardOutput_ ? MessageStream::Error : stream);
  }
  void Say(MessageKind kind, std::string_view line, std::string_view path = {},
           std::string_view reason = {}, MessageStream stream = MessageStream::Output) {
    Say(MessageRecord{kind, std::string(line), std::string(path), std::string(reason)}, stream);
  }
  void Say(MessageKind kind, std::string_view line, MessageStream stream) {
    Say(kind, line, {}, {}, stream);
  }
  // True when `path` names the input file itself (links followed).
  [[nodiscard]] bool IsInputFile(const std::string& path) const;
  [[nodiscard]] const Token& current() const { return lex.current; }
  // The first pass, and the second when a reference came before its definition.
  void ConvertPasses();
  // An empty pair for the construct being rendered at the current inline depth, to collect
  // into before its kind is known. The pairs are kept and reused, one per depth, so a span
  // or a heading costs no allocation once the buffers have grown.
  [[nodiscard]] OutputPair& ScratchPair();
  // A construct rendered in place: its opener and everything its inside reads go straight
  // into the caller's pair, so nested constructs share one pair rather than each copying
  // its inside into the pair around it. The HTML starts as the escaped opener, which is
  // what a construct that does not match writes.
  struct InPlace {
    std::size_t text = 0;       // where the construct's source text starts in the pair
    std::size_t html = 0;       // where its HTML starts
    std::size_t opener = 0;     // bytes of the escaped opener at `html`
    std::size_t markupEnd = 0;  // the pair's markup end and literal tail before it
    bool tailValid = false;
    std::size_t tailHtml = 0;
    std::size_t tailText = 0;
    std::size_t openerText = 0;  // bytes of the opener's text at `text`
    bool ownsText = false;       // the pair kept no text: it does while the construct runs
  };
  [[nodiscard]] InPlace BeginInPlace(OutputPair& out, std::string_view opener);
  // No match: `more` (source read after the inside) joins the text, and the HTML becomes
  // the escaped source of the whole construct.
  void WriteBackInPlace(OutputPair& out, const InPlace& at, std::string_view more);
  // A match: the escaped opener becomes `openTag`, and `closeTag` follows the inside. The
  // closer's text, `closerText` bytes, joined the pair's text already.
  void CloseInPlace(OutputPair& out, const InPlace& at, std::string_view openTag,
                    std::string_view closeTag, std::size_t closerText);
  // The construct is over: a pair that kept no text drops it again.
  void EndInPlace(OutputPair& out, const InPlace& at);
  // The HTML of a construct replaced from `at` on: what it wrote since is cut off
  // (an image or a definition writes its own HTML instead).
  void CutInPlace(OutputPair& out, const InPlace& at);

  // Literal stretches: while constructs are open in place, the stretches of the pair's
  // HTML that are the escaped source of their text and that markup after them ended.
  // A construct that fails rewrites only what lies between them, so text that an inner
  // construct already wrote back is not escaped again at each level around it.
  struct LiteralStretch {
    std::size_t html = 0, htmlEnd = 0;  // the HTML, and the text it escapes
    std::size_t text = 0, textEnd = 0;
  };
  // The pair's tail at the start of a dispatch of the inline run, to see whether the
  // dispatch ended it.
  struct TailWatch {
    bool valid = false;
    std::size_t tailHtml = 0, tailText = 0;
    std::size_t html = 0, text = 0;
  };
  // Keeps the stretch the watched dispatch ended, then watches the next one.
  void WatchTail(const OutputPair& out, TailWatch& watch);
  // The dispatcher's loop (RenderInline), watching the tail at each dispatch.
  void RunInline(InlineMode mode, OutputPair& out, std::int32_t closeCount, TailWatch& watch);
  // The first stretch that ends after `html`: the stretches from there on lie inside a
  // construct that starts at `html` (the first may begin before it).
  [[nodiscard]] std::size_t FirstStretchAfter(std::size_t html) const;
  // Replaces the HTML from `html` to `htmlEnd` with the escaped text from `text` to
  // `textEnd`, keeping the stretches inside as they are.
  void RewriteAsLiteral(OutputPair& out, std::size_t html, std::size_t text, std::size_t htmlEnd,
                        std::size_t textEnd);
  // Writes the plain tokens after the token just written (the mode says which count as
  // plain). True when the last token written is a text token, to which a delimiter can
  // be glued; `afterText` when nothing more was written.
  bool WritePlain(OutputPair& out, InlineMode mode, bool afterText);
  // The delimiters glued to the text token just written, as text.
  void WriteGlued(OutputPair& out, InlineMode mode);
  // The first token of a line, with the quote-prefix rule.
  [[nodiscard]] Token ReadLineStart(bool skipBlanks);
  // The code of a fenced block (CodeBlocks.cpp): what CollectUntil(backtick run, `count`)
  // gathers, appended to `code`. Outside quotes the bytes themselves are the code but for
  // the line ends, so they are taken in runs rather than token by token.
  void CollectFencedCode(std::int32_t count, std::string& code);
  void RenderEmphasis(OutputPair& out, std::uint32_t delimiter, InlineMode mode);
  void RenderSpan(OutputPair& out, std::uint32_t opener, InlineMode mode, std::string_view openTag,
                  std::string_view closeTag);
  int RenderList(OutputPair& out, std::int32_t base, bool ordered);
  // Appends the address of an inline link to `url`.
  void CollectUrl(std::string& url);
  std::string ReadTagName(bool closing);
  // The inline and the reference forms after "[text]" or "![text]": fills `url` and
  // `title`; false when what follows is neither.
  bool ReadLinkTarget(std::string& s, std::string_view labelHtml, std::string& url,
                      std::string& title, int& hole);
  // After the id of a caret link: the closing `]` and the link, or the write-back.
  void FinishCaretLink(OutputPair& out, std::string& s, const std::string& id);
  // Writes a link or image address: the URL, or the place of a reference not yet defined.
  void AppendAddress(OutputPair& out, const std::string& url, int hole);
  // Writes the page of `body`, which it may take the buffer of.
  void EmitPage(OutputPair& body);
  void WritePage(std::string_view page);
  // Writes the body, filling its holes when the first pass is being completed.
  void WriteBody(const std::string& html);
  // The body as the whole page, unless it is larger than the bound.
  void WriteBodyAlone(std::string& html, std::uint64_t size);
  // The size of the body as WriteBody writes it.
  [[nodiscard]] std::uint64_t BodySize(const std::string& html) const;
  // Says the page is too large; nothing of it is written.
  void RefusePage();
  // The table of contents (Toc.cpp): each heading with an id is noted as it is rendered,
  // as the places of its id and its HTML in the body, which keeps what it wrote before.
  void NoteHeading(std::size_t idAt, std::size_t idSize, std::size_t htmlSize);
  // None when it would be larger than `limit` bytes.
  [[nodiscard]] std::optional<std::string> TableOfContents(std::string_view bodyHtml,
                                                           std::uint64_t limit) const;
  // `html` with each hole replaced by what it stands for.
  [[nodiscard]] std::string FillHoles(std::string_view html) const;

  // Completing the first pass. A document whose references are all defined somewhere
  // converts the same in both passes but for what the references resolve to, so the
  // first pass leaves a hole where an undefined reference stands and fills it when the
  // pass is over, instead of converting the whole document again. A hole is a NUL byte,
  // its number and a NUL byte: no other NUL reaches the HTML.
  struct Hole {
    std::string key;  // the reference key or caret id
    bool caret = false;
    // The key is a label's HTML, which may hold holes of its own; any other key is the
    // bytes of an id, the same in either pass.
    bool labelKey = false;
  };
  [[nodiscard]] bool MakingHoles() const { return pass == 1 && completeFirstPass_; }
  // A new hole for `key`; returns its number.
  int NewHole(std::string key, bool caret, bool labelKey = false);
  static void AppendHoleMarker(OutputPair& out, int hole);
  // Walks `html` in order: `text` gets each stretch between hole markers and `hole` each
  // marker's number, and may stop the walk by returning false. Returns whether the walk
  // reached the end (a marker cut short stops it too).
  template <class Text, class HoleAt>
  static bool WalkHoles(std::string_view html, Text text, HoleAt hole);
  // The key a definition made from its label's HTML is kept under: the HTML as a pass
  // that makes no holes writes it. A hole stands where a link was not defined yet, and
  // such a link writes nothing there (a caret link) or an empty address. A key that held
  // a hole keeps the first pass from being completed.
  std::string DefinitionKey(std::string key);
  // HTML of a heading or cell as trimmed: a hole at either end of it stands where an
  // undefined caret link, which writes nothing, would have let the trimming see further.
  void NoteTrimmed(std::string_view trimmed);
  // `key` with each hole as the second pass writes it, when every hole in it is a caret
  // link left undefined (which writes nothing); false for any other hole.
  [[nodiscard]] bool LabelAsSecondPassWrites(std::string_view key, std::string* written) const;
  [[nodiscard]] bool CanCompleteFirstPass() const;
  // What hole `index` stands for, appended to `out`.
  void AppendHoleValue(std::size_t index, std::string& out) const;

  ConsoleMessages_CL console_;
  std::string initOutputExt_;  // the output extension Init found, for the second pass
  bool completeFirstPass_ = true;
  bool holeInKey_ = false;
  bool holeAtTrimmedEdge_ = false;
  std::vector<Hole> holes_;
  bool fillHoles_ = false;
  OutputPair firstPassBody_;
  std::vector<MessageRecord> passMessages_;  // said during the first pass
  int inlineDepth_ = 0;
  std::string headingText_;  // a heading's clean text and id, kept for the next heading
  std::string headingId_;
  // The id a heading line would get if it rendered from its bytes as they stand, made
  // before the line is rendered so that its slot in `headingIds` is fetched meanwhile.
  struct HeadingGuess {
    std::size_t at = std::string::npos;  // where the line starts in the input
    std::size_t end = 0;                 // where it ends (its LF, or the input's end)
    std::string id;
    bool clean = false;  // the line is ASCII without NUL: cleaning changes nothing
    // Every token of the line writes its own bytes as text: the line is its heading's
    // text, and its HTML is the line escaped.
    bool plain = false;
    std::uint64_t hash = 0;
  };
  // The current heading's guess and the next heading line's, if one follows closely; they
  // change places rather than contents.
  HeadingGuess headingGuesses_[2];
  int nextGuess_ = 1;
  std::string codeText_;  // a fenced block's code, kept for the next block
  std::string codeInfo_;
  std::deque<OutputPair> scratchPairs_;      // a deque: growing keeps references valid
  int inPlaceDepth_ = 0;                     // constructs open in place
  const OutputPair* stretchPair_ = nullptr;  // the pair the outermost of them writes into
  std::vector<LiteralStretch> stretches_;    // in order, none overlapping
  std::string rewrite_;                      // a failed construct's new HTML, reused
  std::string piece_;                        // the escaped end of a stretch cut short
  int listDepth_ = 0;
  // The headings with ids, for the table of contents: slices of the body, so that a
  // heading copies nothing. The HTML follows the id and the `">` after it.
  // A heading opens with "<h", its level's digit, kIdStart, the id and kIdEnd; its HTML
  // follows. So a noted heading's level is the digit just before kIdStart.
  static constexpr std::string_view kIdStart = " id=\"";
  static constexpr std::string_view kIdEnd = "\">";
  struct NotedHeading {
    std::size_t idAt;
    std::size_t idSize;
    std::size_t htmlSize;
  };
  std::vector<NotedHeading> tocHeadings_;
  bool writeFailed_ = false;
  bool pageTooLarge_ = false;
  EntryRule entryRule_ = EntryRule::Joined;
  // The mapped document changed during a pass: the passes are made again from a copy.
  bool inputChanged_ = false;
  bool pageOnStandardOutput_ = false;
  bool writingIntoTarget_ = false;  // the target is a device or a pipe: no temporary file
  platform::FileStatus input_;      // what the input file is, found by Init
  // Where relative template and include entries start; none: they are ignored.
  std::optional<std::string> baseFolder_;
};

// The exit statuses of a run.
inline constexpr int kStatusWritten = 0;
inline constexpr int kStatusNotWritten = 1;  // the page could not be written, or memory ran out
inline constexpr int kStatusNotStarted = 255;

// One conversion of a file: `parser`'s Init with `arguments`, then Run. Returns the exit
// status. Memory that runs out anywhere in the conversion (the input, the body, the
// template, an include) ends it with "Out of memory" on standard error and status 1;
// the parser's destruction then deletes its temporary file and the target stays as it was.
[[nodiscard]] int ConvertFile(Parser_CL& parser, const std::vector<std::string>& arguments);

// The program: sets the locale, converts, returns the exit status (255 when the run could
// not start).
int Main(int argc, char** argv);

// Option parsing (CommandLine_CL.cpp): fills `options`; 0 when the usage text was printed.
[[nodiscard]] int ParseOptions(const std::vector<std::string>& arguments, Options& options);

// The HTML of a caret link to `target` labelled "^id" (Links.cpp).
void AppendCaretLink(OutputPair& out, const std::string& target, const std::string& id);

// Address helpers (Angle.cpp).
[[nodiscard]] std::string EncodeEmail(std::string_view text);
[[nodiscard]] bool IsWebAddress(std::string_view text);
[[nodiscard]] bool IsMailAddress(std::string_view text);

template <class Text, class HoleAt>
bool Parser_CL::WalkHoles(std::string_view html, Text text, HoleAt hole) {
  std::size_t from = 0;
  for (;;) {
    const std::size_t open = html.find('\0', from);
    if (open == std::string_view::npos)
      break;
    text(html.substr(from, open - from));
    const std::size_t close = html.find('\0', open + 1);
    if (close == std::string_view::npos)
      return false;
    std::size_t index = 0;
    for (std::size_t i = open + 1; i < close; ++i)
      index = index * 10 + static_cast<std::size_t>(html[i] - '0');
    if (!hole(index))
      return false;
    from = close + 1;
  }
  text(html.substr(from));
  return true;
}

}  // namespace tarvix
