// The inline dispatcher: converts running text, hands each opener to its construct, and
// returns where its caller's context ends. The mode decides where that is.
#include <algorithm>

#include "core/Parser_CL.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// Keeps count of the inline runs active at once.
class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : depth_(depth) { ++depth_; }
  ~DepthGuard() { --depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int& depth_;
};

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

// Bytes that escaping hands to the UTF-8 cleaner, which may join them into one character.
bool IsCleanerByte(char c) {
  return static_cast<unsigned char>(c) >= 0x80 || c == 0;
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

// Heads of failed constructs from this size on are escaped without a second buffer.
constexpr std::size_t kLargeHead = std::size_t{1} << 20;
// Shorter stretches of escaped source are escaped again rather than noted: a line of
// small spans would otherwise cost a note per span, more memory than its text.
constexpr std::size_t kMinStretch = 256;

}  // namespace

Parser_CL::InPlace Parser_CL::BeginInPlace(OutputPair& out, std::string_view opener) {
  InPlace at;
  if (!out.keepText) {
    out.keepText = true;
    at.ownsText = true;
    // Text dropped before has no place in a tail.
    out.tailValid = false;
  }
  if (inPlaceDepth_++ == 0)
    stretchPair_ = &out;
  at.text = out.text.size();
  at.html = out.html.size();
  at.markupEnd = out.markupEnd;
  at.tailValid = out.tailValid;
  at.tailHtml = out.tailHtml;
  at.tailText = out.tailText;
  out.BeginLiteral();
  out.text.append(opener);
  AppendEscapedTo(out.html, opener);
  at.opener = out.html.size() - at.html;
  at.openerText = opener.size();
  return at;
}

void Parser_CL::WatchTail(const OutputPair& out, TailWatch& watch) {
  if (inPlaceDepth_ == 0 || &out != stretchPair_) {
    watch.valid = false;
    return;
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

std::size_t Parser_CL::FirstStretchAfter(std::size_t html) const {
  std::size_t k = stretches_.size();
  while (k > 0 && stretches_[k - 1].htmlEnd > html)
    --k;
  return k;
}

void Parser_CL::RewriteAsLiteral(OutputPair& out, std::size_t html, std::size_t text,
                                 std::size_t htmlEnd, std::size_t textEnd) {
  const std::string_view source(out.text);
  if (htmlEnd - html >= kLargeHead || textEnd - text >= kLargeHead || &out != stretchPair_) {
    const std::string_view headText = source.substr(text, textEnd - text);
    if (headText.size() < kLargeHead) {
      rewrite_.clear();
      AppendEscapedTo(rewrite_, headText);
      out.html.replace(html, htmlEnd - html, rewrite_);
      if (rewrite_.capacity() >= kLargeHead)
        std::string().swap(rewrite_);
    } else {
      // A large head is escaped behind the tail and rotated into place, so the HTML is
      // never held twice.
      out.html.erase(html, htmlEnd - html);
      const std::size_t tailSize = out.html.size() - html;
      AppendEscapedTo(out.html, headText);
      std::rotate(out.html.begin() + static_cast<std::ptrdiff_t>(html),
                  out.html.begin() + static_cast<std::ptrdiff_t>(html + tailSize), out.html.end());
    }
    return;
  }
  // A stretch is kept only where escaping its text apart from its neighbours gives what
  // escaping them together gives: not where a character could run across its edge.
  auto splits = [&source](std::size_t at) {
    return at == 0 || at >= source.size() || !IsCleanerByte(source[at - 1]) ||
           !IsCleanerByte(source[at]);
  };
  // The HTML before `keep` stays; the text from `done` on is not written yet.
  std::size_t keep = html;
  std::size_t done = text;
  bool rebuilding = false;
  rewrite_.clear();
  for (std::size_t k = FirstStretchAfter(html); k < stretches_.size(); ++k) {
    LiteralStretch s = stretches_[k];
    if (s.html < html) {
      s.html = html;
      s.text = text;
    }
    if (s.htmlEnd > htmlEnd || s.textEnd > textEnd || s.text < done)
      break;
    if (s.text != text && !splits(s.text))
      continue;
    if (!splits(s.textEnd)) {
      // A character may run on past its end: the stretch ends at the last place before
      // where none can, and its HTML loses what the bytes after that place escape to.
      std::size_t cut = s.textEnd;
      while (cut > s.text && !splits(cut))
        --cut;
      piece_.clear();
      AppendEscapedTo(piece_, source.substr(cut, s.textEnd - cut));
      if (cut == s.text || piece_.size() >= s.htmlEnd - s.html)
        continue;
      s.htmlEnd -= piece_.size();
      s.textEnd = cut;
    }
    if (!rebuilding && s.html == keep && s.text == done) {
      keep = s.htmlEnd;
      done = s.textEnd;
      continue;
    }
    rebuilding = true;
    AppendEscapedTo(rewrite_, source.substr(done, s.text - done));
    rewrite_.append(out.html, s.html, s.htmlEnd - s.html);
    done = s.textEnd;
  }
  AppendEscapedTo(rewrite_, source.substr(done, textEnd - done));
  out.html.replace(keep, htmlEnd - keep, rewrite_);
  // A large rewrite gives its buffer back rather than holding it for the run.
  if (rewrite_.capacity() >= kLargeHead)
    std::string().swap(rewrite_);
}

void Parser_CL::WriteBackInPlace(OutputPair& out, const InPlace& at, std::string_view more) {
  // A pair that keeps no text drops the construct's text at the end: `more` need not join.
  if (out.markupEnd > at.html) {
    // The inside made markup: the HTML before the literal tail is escaped source again.
    // The tail starts at a token whose first byte cannot continue a character begun
    // before it, so escaping apart gives what escaping together gives.
    if (out.tailValid && out.tailHtml >= at.html) {
      RewriteAsLiteral(out, at.html, at.text, out.tailHtml, out.tailText);
    } else {
      RewriteAsLiteral(out, at.html, at.text, out.html.size(), out.text.size());
    }
    AppendEscapedTo(out.html, more);
    out.markupEnd = at.markupEnd;
  } else {
    // The HTML is the escaped source already. The pieces join at token bounds, where
    // escaping them apart gives what escaping them together gives.
    AppendEscapedTo(out.html, more);
  }
  // The whole construct is literal now: the tail takes its stretches in.
  if (&out == stretchPair_)
    stretches_.resize(FirstStretchAfter(at.html));
  if (!at.ownsText)
    out.text.append(more);
  // The whole construct is literal now, and continues the tail before it.
  if (at.tailValid && !at.ownsText) {
    out.tailValid = true;
    out.tailHtml = at.tailHtml;
    out.tailText = at.tailText;
  } else {
    out.tailValid = true;
    out.tailHtml = at.html;
    out.tailText = at.text;
  }
  EndInPlace(out, at);
}

void Parser_CL::CloseInPlace(OutputPair& out, const InPlace& at, std::string_view openTag,
                             std::string_view closeTag, std::size_t closerText) {
  if (&out == stretchPair_) {
    // The closing tag ends the tail inside: what it holds is a stretch.
    if (out.tailValid && out.html.size() - out.tailHtml >= kMinStretch &&
        (stretches_.empty() || stretches_.back().htmlEnd <= out.tailHtml)) {
      stretches_.push_back(
          {out.tailHtml, out.html.size(), out.tailText, out.text.size() - closerText});
    }
    // The stretches inside move with the tag. The opener is no stretch any more: one
    // that held it keeps what lies before the construct and what lies inside.
    const std::size_t inside = at.html + at.opener;
    std::size_t k = FirstStretchAfter(at.html);
    if (k < stretches_.size() && stretches_[k].html < inside) {
      LiteralStretch s = stretches_[k];
      const LiteralStretch before{s.html, at.html, s.text, at.text};
      s.html = inside;
      s.text = at.text + at.openerText;
      if (s.htmlEnd > inside) {
        stretches_[k] = s;
      } else {
        stretches_.erase(stretches_.begin() + static_cast<std::ptrdiff_t>(k));
      }
      if (before.html < before.htmlEnd) {
        stretches_.insert(stretches_.begin() + static_cast<std::ptrdiff_t>(k), before);
        ++k;
      }
    }
    for (std::size_t i = k; i < stretches_.size(); ++i) {
      stretches_[i].html = stretches_[i].html + openTag.size() - at.opener;
      stretches_[i].htmlEnd = stretches_[i].htmlEnd + openTag.size() - at.opener;
    }
  }
  out.html.replace(at.html, at.opener, openTag);
  out.html.append(closeTag);
  out.MarkMarkup();
  EndInPlace(out, at);
}

void Parser_CL::CutInPlace(OutputPair& out, const InPlace& at) {
  out.html.resize(at.html);
  if (&out != stretchPair_)
    return;
  const std::size_t k = FirstStretchAfter(at.html);
  if (k < stretches_.size() && stretches_[k].html < at.html) {
    stretches_[k].htmlEnd = at.html;
    stretches_[k].textEnd = at.text;
    stretches_.resize(k + 1);
  } else {
    stretches_.resize(k);
  }
}

void Parser_CL::EndInPlace(OutputPair& out, const InPlace& at) {
  if (at.ownsText) {
    out.text.resize(at.text);
    out.keepText = false;
  }
  if (--inPlaceDepth_ == 0) {
    stretches_.clear();
    stretchPair_ = nullptr;
  }
}

bool Parser_CL::WritePlain(OutputPair& out, InlineMode mode, bool afterText) {
  // An escaped character may continue a character begun before it; WriteToken decides.
  const std::int32_t next = lex.PeekChar();
  if (next < 0 || (out.keepText && !out.text.empty() && IsCleanerByte(out.text.back()) &&
                   IsCleanerByte(static_cast<char>(next)))) {
    return afterText;
  }
  const PlainBytes& plain = mode == InlineMode::CodeSpan             ? kCodePlain
                            : mode == InlineMode::UnderscoreEmphasis ? kUnderscorePlain
                                                                     : kInlinePlain;
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
  return afterText;
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
  WatchTail(out, watch);
}

void Parser_CL::RunInline(InlineMode mode, OutputPair& out, std::int32_t closeCount,
                          TailWatch& watch) {
  DepthGuard guard(inlineDepth_);
  // At the depth limit, openers whose construct would run the dispatcher again are text.
  const bool atLimit = inlineDepth_ >= kMaxInlineDepth;
  // The run writes straight into `out`: nothing reads the pair before the run returns,
  // so this is the same as collecting first and appending once.
  for (;;) {
    WatchTail(out, watch);
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

    switch (code) {
      case kind::Eof:
        return;
      case kind::Text: {
        WriteToken(out, t);
        const bool glue = WritePlain(out, mode, true);
        NextToken(false);
        if (glue)
          WriteGlued(out, mode);
        break;
      }
      case kind::Sp: {
        WriteSpace(out);
        const bool glue = WritePlain(out, mode, false);
        NextToken(false);
        if (glue)
          WriteGlued(out, mode);
        break;
      }
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
