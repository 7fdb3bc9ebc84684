// The inline dispatcher: converts running text, hands each opener to its construct, and
// returns where its caller's context ends. The mode decides where that is.
#include <algorithm>

#include "core/DepthGuard.h"
#include "core/Parser_CL.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// Tokens after a paragraph's line end that begin the next block.
bool StartsBlockAfterLineEnd(const Token& t) {
  switch (t.code) {
    case kind::Lf:
    case kind::Equals:
    case kind::Hyphen:
    case kind::Greater:
    case kind::Ordered:
    case kind::Rule:
    case kind::Sp:
    case kind::Bullet:
    case kind::Head:
      return true;
    default:
      return false;
  }
}

// Tokens after a hard break that end the run.
bool StopsAfterBreak(const Token& t) {
  switch (t.code) {
    case kind::Sp:
    case kind::Ordered:
    case kind::Greater:
    case kind::Lf:
    case kind::Br:
    case kind::Bullet:
    case kind::Head:
      return true;
    default:
      return false;
  }
}

// Writing a token: its text as read, and its text escaped as HTML.
void WriteToken(OutputPair& out, const Token& t) {
  // An escaped character's text can continue a character begun by the text before it
  // (the backslash between them is gone): escaping the two apart would not give what
  // escaping them together gives, so the HTML no longer counts as the escaped text.
  // The tail then starts after the token.
  if (out.keepText && t.size != 0 && !(t.flags & Token::kLeadingSpace) &&
      IsCleanerByte(t.data[0]) && !out.text.empty() && IsCleanerByte(out.text.back())) {
    AppendText(out, t);
    AppendEscaped(out, t);
    out.MarkMarkup();
    return;
  }
  out.BeginLiteral();
  AppendText(out, t);
  AppendEscaped(out, t);
}

// A blank or line end, written as one space.
void WriteSpace(OutputPair& out) {
  out.BeginLiteral();
  AppendText(out, ' ');
  out.html.push_back(' ');
}

// Writing `]`, `]:` or `|`, which escaping leaves as they are.
void WriteRaw(OutputPair& out, const Token& t) {
  WriteToken(out, t);
}

// The plain tokens a run writes in one piece after a token: the short kinds that the
// dispatcher writes as text. An underscore glued to a word is text too, but not inside
// underscore emphasis, where it is the candidate closer; a code span writes every kind
// but blanks and backtick runs as text.
constexpr PlainBytes kInlinePlain = MakePlainBytes("().\"'>/:-=!~&+#0123456789_", true);
constexpr PlainBytes kUnderscorePlain = MakePlainBytes("().\"'>/:-=!~&+#0123456789", false);
constexpr PlainBytes kCodePlain = MakePlainBytes("().\"'<>/|:-=!~&+#0123456789*_\\", false);

// A run that goes on over line ends hands back to the dispatcher past this many bytes of
// the document, so that the pages behind it are given back as often as they would be.
constexpr std::size_t kPlainLinesReach = std::size_t{64} << 10;

}  // namespace

bool Parser_CL::WritePlain(OutputPair& out, InlineMode mode, bool afterText) {
  const PlainBytes& plain = mode == InlineMode::CodeSpan             ? kCodePlain
                            : mode == InlineMode::UnderscoreEmphasis ? kUnderscorePlain
                                                                     : kInlinePlain;
  // How far the lines a run goes on into may reach before the dispatcher has its turn
  // again: it gives back the document's pages behind it and watches the pair's tail.
  const std::size_t limit = lex.Mark().pos + kPlainLinesReach;
  for (;;) {
    // Most often a delimiter follows: nothing to take.
    if (!lex.NoPlainAt(plain)) {
      // An escaped character may continue a character begun before it; WriteToken decides.
      const std::int32_t next = lex.PeekChar();
      if (out.keepText && !out.text.empty() && IsCleanerByte(out.text.back()) &&
          IsCleanerByte(static_cast<char>(next))) {
        return afterText;
      }
      bool escaped = true;
      const std::string_view run = TakePlain(plain, &afterText, &escaped);
      if (!run.empty()) {
        out.BeginLiteral();
        AppendText(out, run);
        // Most runs hold nothing that escaping changes.
        if (escaped) {
          AppendEscaped(out, run);
        } else {
          out.html.append(run);
        }
      }
    }
    if (!LineGoesOnInText(mode) || lex.Mark().pos > limit)
      return afterText;
    // The line end is written as one space, as the dispatcher writes it, and the word that
    // starts the next line is text after it.
    out.BeginLiteral();
    AppendText(out, ' ');
    out.html.push_back(' ');
    lex.MoveTo(lex.Mark().pos);
    afterText = true;
  }
}

bool Parser_CL::LineGoesOnInText(InlineMode mode) const {
  // Runs that end at a line end, and lines that may open or close a quoted passage, are
  // left to the dispatcher; so is any line that does not start with a word.
  if (mode == InlineMode::Heading || mode == InlineMode::TableCell ||
      mode == InlineMode::UnderscoreEmphasis || quoteDepth != 0 || lex.PeekChar() != '\n') {
    return false;
  }
  const std::string_view bytes = lex.Bytes();
  const std::size_t next = lex.Mark().pos;
  return next < bytes.size() && kStartsText[static_cast<unsigned char>(bytes[next])];
}

void Parser_CL::WriteGlued(OutputPair& out, InlineMode mode) {
  // A delimiter glued to the end of a word is no opener.
  const std::uint32_t glued =
      mode == InlineMode::UnderscoreEmphasis ? kind::Star : kind::Underscore;
  while (current().Is(glued)) {
    WriteToken(out, current());
    NextToken(false);
  }
}

void Parser_CL::RenderInline(InlineMode mode, OutputPair& out, std::int32_t closeCount) {
  TailWatch watch;
  RunInline(mode, out, closeCount, watch);
  // The dispatch the run returned from is watched too.
  inPlace_.WatchTail(out, watch, Unread());
}

void Parser_CL::RunInline(InlineMode mode, OutputPair& out, std::int32_t closeCount,
                          TailWatch& watch) {
  DepthGuard guard(inlineDepth_);
  // At the depth limit, openers whose construct would run the dispatcher again are text.
  const bool atLimit = inlineDepth_ >= kMaxInlineDepth;
  // The run writes straight into `out`: nothing reads the pair before the run returns,
  // so this is the same as collecting first and appending once.
  for (;;) {
    inPlace_.WatchTail(out, watch, Unread());
    ReleaseReadInput();
    const Token& t = current();
    // A quoted passage that ends stops every run, as the end of input does.
    if (t.IsDepth())
      return;
    if (mode == InlineMode::CodeSpan && !t.Is(kind::Sp) && !t.Is(kind::Backtick) &&
        !t.Is(kind::Lf) && !t.Is(kind::Eof)) {
      WriteToken(out, t);
      (void)WritePlain(out, mode, false);
      NextToken(false);
      continue;
    }
    std::uint32_t code = t.code;
    // The whole text counts: a reference with a blank folded in front is not "&copy;".
    if (code == kind::Entity && !EqualsIgnoreCase(t.Text(), "&copy;"))
      code = kind::Text;
    if (code == kind::Backtick && mode == InlineMode::CodeSpan) {
      if (t.count == closeCount)
        return;
      code = kind::Text;
    }
    if (atLimit) {
      switch (code) {
        case kind::Star:
        case kind::Underscore:
        case kind::Strong:
        case kind::Strike:
        case kind::Backtick:
        case kind::LeftBracket:
        case kind::ImageOpen: {
          const bool stops = (code == kind::Star && mode == InlineMode::StarEmphasis) ||
                             (code == kind::Underscore && mode == InlineMode::UnderscoreEmphasis) ||
                             (code == kind::Strong && mode == InlineMode::Strong) ||
                             (code == kind::Strike && mode == InlineMode::Strike);
          // `[` in link or image text and `![` in image text run nothing: they keep
          // their usual treatment.
          const bool runsNothing = (code == kind::LeftBracket && (mode == InlineMode::LinkText ||
                                                                  mode == InlineMode::ImageText)) ||
                                   (code == kind::ImageOpen && mode == InlineMode::ImageText);
          if (!stops && !runsNothing)
            code = kind::Text;
          break;
        }
        default:
          break;
      }
    }

    // Text and blanks are most of the tokens: they are tested before the other kinds, whose
    // sparse codes the switch below can only compare its way through.
    if (code == kind::Text || code == kind::Sp) {
      if (code == kind::Text) {
        WriteToken(out, t);
      } else {
        WriteSpace(out);
      }
      const bool glue = WritePlain(out, mode, code == kind::Text);
      NextToken(false);
      if (glue)
        WriteGlued(out, mode);
      continue;
    }
    switch (code) {
      case kind::Eof:
        return;
      case kind::Lf:
        if (mode == InlineMode::Heading || mode == InlineMode::TableCell ||
            mode == InlineMode::UnderscoreEmphasis) {
          return;
        }
        if (mode == InlineMode::Paragraph) {
          NextToken(false);
          if (StartsBlockAfterLineEnd(current()))
            return;
          WriteSpace(out);
          break;
        }
        WriteSpace(out);
        NextToken(false);
        if (current().Is(kind::Lf) &&
            (mode == InlineMode::Strong || mode == InlineMode::Strike ||
             mode == InlineMode::LinkText || mode == InlineMode::ImageText)) {
          return;
        }
        break;
      case kind::Br:
        AppendHtml(out, "<br />\n");
        NextToken(false);
        if (mode == InlineMode::Heading || mode == InlineMode::TableCell)
          return;
        if (StopsAfterBreak(current()))
          return;
        break;
      case kind::Entity:
        AppendText(out, "&copy;");
        AppendHtml(out, "&copy;");
        NextToken(false);
        break;
      case kind::Star:
        if (mode == InlineMode::StarEmphasis)
          return;
        RenderStarEmphasis(out);
        break;
      case kind::Underscore:
        if (mode == InlineMode::UnderscoreEmphasis)
          return;
        RenderUnderscoreEmphasis(out);
        break;
      case kind::Strong:
        if (mode == InlineMode::Strong)
          return;
        RenderStrong(out);
        break;
      case kind::Strike:
        if (mode == InlineMode::Strike)
          return;
        RenderStrike(out);
        break;
      case kind::Backtick:
        RenderCodeSpan(out);
        break;
      case kind::LeftBracket:
        RenderLink(out, mode);
        break;
      case kind::ImageOpen:
        RenderImage(out, mode);
        break;
      case kind::CaretOpen:
        RenderCaretLink(out);
        break;
      case kind::Less:
        RenderAngle(out);
        break;
      case kind::RightBracket:
        if (mode == InlineMode::LinkText || mode == InlineMode::ImageText)
          return;
        WriteRaw(out, t);
        NextToken(false);
        break;
      case kind::DefinitionClose:
        if (mode == InlineMode::LinkText)
          return;
        WriteRaw(out, t);
        NextToken(false);
        break;
      case kind::Pipe:
        if (tableRowFlag == 1)
          return;
        WriteRaw(out, t);
        NextToken(false);
        break;
      default: {
        WriteToken(out, t);
        const bool glue = WritePlain(out, mode, false);
        NextToken(false);
        if (glue)
          WriteGlued(out, mode);
        break;
      }
    }
  }
}

}  // namespace tarvix
