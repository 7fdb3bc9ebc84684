// The in-place writing of inline constructs: a construct's opener and everything its
// inside reads go straight into the caller's pair, so nested constructs share one pair
// rather than each copying its inside into the pair around it. Parser_CL owns one; the
// inline renderers begin, close, write back and cut their constructs through it.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "html/OutputPair.h"

namespace tarvix {

// Bytes that escaping hands to the UTF-8 cleaner, which may join them into one character.
[[nodiscard]] inline bool IsCleanerByte(char c) {
  return kEscapeClass[static_cast<unsigned char>(c)] == 2;
}

// A construct begun in place. The HTML starts as the escaped opener, which is what a
// construct that does not match writes.
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

// The pair's tail at the start of a dispatch of the inline run, to see whether the
// dispatch ended it.
struct TailWatch {
  bool valid = false;
  std::size_t tailHtml = 0, tailText = 0;
  std::size_t html = 0, text = 0;
};

// A construct is Begin, then WriteBack or Close (each ends it) or Cut and End; constructs
// nest. While any is open, the writer keeps the literal stretches of the
// outermost one's pair: stretches of its HTML that are the escaped source of their text
// and that markup after them ended. A construct that fails rewrites only what lies
// between them, so text that an inner construct already wrote back is not escaped again
// at each level around it.
class InPlaceWriter_CL {
 public:
  // Shorter stretches of escaped source are escaped again rather than noted: a line of
  // small spans would otherwise cost a note per span, more memory than its text.
  static constexpr std::size_t kMinStretch = 256;
  // A construct held open across a long stretch of the document keeps its source text
  // beside the page; from this size on, that text grows ahead of need, in steps backed by
  // large pages, rather than a few kilobytes of fresh memory at a time.
  static constexpr std::size_t kLargeText = std::size_t{4} << 20;
  static constexpr std::size_t kTextRoom = std::size_t{1} << 20;

  virtual ~InPlaceWriter_CL() = default;

  // Opens a construct whose source starts with `opener`, at the end of `out`.
  [[nodiscard]] InPlace Begin(OutputPair& out, std::string_view opener);
  // No match: `more` (source read after the inside) joins the text, and the HTML becomes
  // the escaped source of the whole construct. Ends the construct.
  void WriteBack(OutputPair& out, const InPlace& at, std::string_view more);
  // The same, where `more` is the pair's text from `moreAt` on: it joined the text
  // already, read into place, and is not copied again.
  void WriteBackJoined(OutputPair& out, const InPlace& at, std::size_t moreAt);
  // A match: the escaped opener becomes `openTag`, and `closeTag` follows the inside. The
  // closer's text, `closerText` bytes, joined the pair's text already. Ends the construct.
  void Close(OutputPair& out, const InPlace& at, std::string_view openTag,
             std::string_view closeTag, std::size_t closerText);
  // The HTML of a construct replaced from `at` on: what it wrote since is cut off (an
  // image or a definition writes its own HTML instead). End follows.
  void Cut(OutputPair& out, const InPlace& at);
  // The construct is over: a pair that kept no text drops it again.
  void End(OutputPair& out, const InPlace& at);
  // True while some construct is open in place, which may yet need its source back.
  [[nodiscard]] bool AnyOpen() const { return depth_ != 0; }

  // Keeps the stretch the watched dispatch ended, then watches the next one. Called at
  // each dispatch of the inline run, so its common case (nothing open in place, or
  // another pair) stays here, in line.
  // `unread` is how much of the document is still to be read.
  void WatchTail(OutputPair& out, TailWatch& watch, std::size_t unread) {
    if (depth_ == 0 || &out != stretchPair_) {
      watch.valid = false;
      return;
    }
    if (out.text.size() >= kLargeText) [[unlikely]] {
      const std::size_t room = out.text.capacity() - out.text.size();
      if (room < kTextRoom && unread > room)
        GrowText(out.text, unread);
    }
    // The tail the last dispatch found is over: what it held up to the dispatch is a
    // stretch. One that an inner run kept already overlaps it.
    if (watch.valid && (!out.tailValid || out.tailHtml != watch.tailHtml) &&
        watch.html - watch.tailHtml >= kMinStretch &&
        (stretches_.empty() || stretches_.back().htmlEnd <= watch.tailHtml)) {
      stretches_.push_back({watch.tailHtml, watch.html, watch.tailText, watch.text});
    }
    watch = {out.tailValid, out.tailHtml, out.tailText, out.html.size(), out.text.size()};
  }

  // An empty pair for the construct being rendered at inline depth `depth`, to collect
  // into before its kind is known. The pairs are kept and reused, one per depth, so a
  // span or a heading costs no allocation once the buffers have grown.
  [[nodiscard]] OutputPair& ScratchPair(int depth);

 private:
  // Moves `text` into a larger buffer, advised for large pages before it is written: room
  // for what is left of the document (the text holds each byte of it once) and a little
  // more, at most twice the capacity it had.
  static void GrowText(std::string& text, std::size_t unread);

  struct LiteralStretch {
    std::size_t html = 0, htmlEnd = 0;  // the HTML, and the text it escapes
    std::size_t text = 0, textEnd = 0;
  };
  // The first stretch that ends after `html`: the stretches from there on lie inside a
  // construct that starts at `html` (the first may begin before it).
  [[nodiscard]] std::size_t FirstStretchAfter(std::size_t html) const;
  // Replaces the HTML from `html` to `htmlEnd` with the escaped text from `text` to
  // `textEnd`, keeping the stretches inside as they are. The text past `sourceEnd` is not
  // yet the construct's: no character runs into it.
  // WriteBack's work once `more` is where it goes: the text up to `textEnd` is the
  // construct's source before it.
  void WriteBackFrom(OutputPair& out, const InPlace& at, std::string_view more,
                     std::size_t textEnd);
  void RewriteAsLiteral(OutputPair& out, std::size_t html, std::size_t text, std::size_t htmlEnd,
                        std::size_t textEnd, std::size_t sourceEnd);
  // Replaces the HTML from `html` to `htmlEnd` with `headText` escaped, keeping nothing.
  void EscapeWhole(OutputPair& out, std::size_t html, std::size_t htmlEnd,
                   std::string_view headText);

  // A piece of HTML that a rewrite keeps, moved from `from` to `to`; the escaped text
  // before it, of the source from `gapText` on, is `gapSize` bytes of the rewrite buffer
  // from `gapAt` (or is escaped again when it is written).
  struct Move {
    std::size_t from = 0, to = 0, size = 0;
    std::size_t gapAt = 0, gapSize = 0;
    std::size_t gapText = 0, gapTextSize = 0;
  };

  int depth_ = 0;                            // constructs open in place
  const OutputPair* stretchPair_ = nullptr;  // the pair the outermost of them writes into
  std::vector<LiteralStretch> stretches_;    // in order, none overlapping
  std::string rewrite_;                      // a failed construct's new HTML, reused
  std::string piece_;                        // the escaped end of a stretch cut short
  std::vector<LiteralStretch> kept_;         // a rewrite's stretches that stay, reused
  std::vector<Move> moves_;                  // and where they go
  std::deque<OutputPair> scratchPairs_;      // a deque: growing keeps references valid
};

}  // namespace tarvix
