// The in-place writer: opening and closing constructs in the caller's pair, and the
// literal stretches that keep a failed construct from escaping its inside again.
#include "core/InPlaceWriter_CL.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/Platform.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// Heads of failed constructs from this size on are escaped without a second buffer.
constexpr std::size_t kLargeHead = std::size_t{1} << 20;
// A rewrite keeps the escaped text between its stretches in a buffer up to this size; the
// rest is escaped twice, once to measure and once into its place, rather than held beside a
// page at its largest.
constexpr std::size_t kGapBudget = std::size_t{256} << 10;
constexpr std::size_t kEscapeAgain = SIZE_MAX;

}  // namespace

InPlace InPlaceWriter_CL::Begin(OutputPair& out, std::string_view opener) {
  InPlace at;
  if (!out.keepText) {
    out.keepText = true;
    at.ownsText = true;
    // Text dropped before has no place in a tail.
    out.tailValid = false;
  }
  if (depth_++ == 0)
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

std::size_t InPlaceWriter_CL::FirstStretchAfter(std::size_t html) const {
  std::size_t k = stretches_.size();
  while (k > 0 && stretches_[k - 1].htmlEnd > html)
    --k;
  return k;
}

void InPlaceWriter_CL::EscapeWhole(OutputPair& out, std::size_t html, std::size_t htmlEnd,
                                   std::string_view headText) {
  if (htmlEnd == out.html.size()) {
    // Nothing follows: the head is escaped into its place, not into a buffer first.
    out.html.resize(html);
    AppendEscapedTo(out.html, headText);
  } else if (headText.size() < kLargeHead) {
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
}

void InPlaceWriter_CL::RewriteAsLiteral(OutputPair& out, std::size_t html, std::size_t text,
                                        std::size_t htmlEnd, std::size_t textEnd,
                                        std::size_t sourceEnd) {
  const std::string_view source = std::string_view(out.text).substr(0, sourceEnd);
  if (&out != stretchPair_) {
    EscapeWhole(out, html, htmlEnd, source.substr(text, textEnd - text));
    return;
  }
  // A stretch is kept only where escaping its text apart from its neighbours gives what
  // escaping them together gives: not where a character could run across its edge.
  auto splits = [&source](std::size_t at) {
    return at == 0 || at >= source.size() || !IsCleanerByte(source[at - 1]) ||
           !IsCleanerByte(source[at]);
  };
  // The stretches that stay, in order; the text between them is escaped again.
  kept_.clear();
  std::size_t done = text;
  std::size_t keptText = 0;
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
    kept_.push_back(s);
    keptText += s.textEnd - s.text;
    done = s.textEnd;
  }
  const std::size_t gapText = textEnd - text - keptText;
  if (gapText >= kLargeHead && gapText > keptText) {
    // Few stretches to keep: escaping the whole head costs about as much, and holds no
    // second copy of its HTML.
    EscapeWhole(out, html, htmlEnd, source.substr(text, textEnd - text));
    return;
  }
  // The text between the stretches is escaped into one buffer, and each stretch and the
  // HTML after the construct is moved to its new place in the page: the page is rewritten
  // in place, never built again beside itself.
  rewrite_.clear();
  moves_.clear();
  std::size_t at = html;
  done = text;
  auto gapBefore = [&](std::size_t from, std::size_t size, std::size_t gapTextEnd) {
    const std::string_view gap = source.substr(done, gapTextEnd - done);
    std::size_t gapAt = rewrite_.size();
    std::size_t gapSize = 0;
    if (gapAt < kGapBudget) {
      AppendEscapedTo(rewrite_, gap);
      gapSize = rewrite_.size() - gapAt;
    } else {
      // Past the budget a gap is only measured here and escaped again into its place.
      piece_.clear();
      AppendEscapedTo(piece_, gap);
      gapSize = piece_.size();
      gapAt = kEscapeAgain;
    }
    at += gapSize;
    moves_.push_back({from, at, size, gapAt, gapSize, done, gap.size()});
    at += size;
  };
  for (const LiteralStretch& s : kept_) {
    gapBefore(s.html, s.htmlEnd - s.html, s.text);
    done = s.textEnd;
  }
  gapBefore(htmlEnd, out.html.size() - htmlEnd, textEnd);
  const std::size_t newSize = at;
  if (newSize > out.html.size())
    out.html.resize(newSize);
  char* const page = out.html.data();
  auto move = [page](const Move& m) {
    if (m.to != m.from)
      std::memmove(page + m.to, page + m.from, m.size);
  };
  // The new places keep the old order and never overlap, so a piece moving towards the
  // start can go at once; a run of pieces moving towards the end goes last to first, each
  // into room the next one has left.
  for (std::size_t i = 0; i < moves_.size();) {
    if (moves_[i].to <= moves_[i].from) {
      move(moves_[i++]);
      continue;
    }
    std::size_t j = i;
    while (j < moves_.size() && moves_[j].to > moves_[j].from)
      ++j;
    for (std::size_t k = j; k-- > i;)
      move(moves_[k]);
    i = j;
  }
  for (const Move& m : moves_) {
    const char* gap = rewrite_.data() + m.gapAt;
    if (m.gapAt == kEscapeAgain) {
      piece_.clear();
      AppendEscapedTo(piece_, source.substr(m.gapText, m.gapTextSize));
      gap = piece_.data();
    }
    std::memcpy(page + m.to - m.gapSize, gap, m.gapSize);
  }
  out.html.resize(newSize);
  // A large rewrite gives its buffer back rather than holding it for the run.
  if (rewrite_.capacity() >= kLargeHead)
    std::string().swap(rewrite_);
}

void InPlaceWriter_CL::WriteBack(OutputPair& out, const InPlace& at, std::string_view more) {
  // A pair that keeps no text drops the construct's text at the end: `more` need not join.
  if (at.ownsText) {
    WriteBackFrom(out, at, more, out.text.size());
  } else {
    const std::size_t moreAt = out.text.size();
    out.text.append(more);
    WriteBackFrom(out, at, std::string_view(out.text).substr(moreAt), moreAt);
  }
}

void InPlaceWriter_CL::WriteBackJoined(OutputPair& out, const InPlace& at, std::size_t moreAt) {
  WriteBackFrom(out, at, std::string_view(out.text).substr(moreAt), moreAt);
}

void InPlaceWriter_CL::WriteBackFrom(OutputPair& out, const InPlace& at, std::string_view more,
                                     std::size_t textEnd) {
  if (out.markupEnd > at.html) {
    // The inside made markup: the HTML before the literal tail is escaped source again.
    // The tail starts at a token whose first byte cannot continue a character begun
    // before it, so escaping apart gives what escaping together gives.
    if (out.tailValid && out.tailHtml >= at.html) {
      RewriteAsLiteral(out, at.html, at.text, out.tailHtml, out.tailText, textEnd);
    } else {
      RewriteAsLiteral(out, at.html, at.text, out.html.size(), textEnd, textEnd);
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
  End(out, at);
}

void InPlaceWriter_CL::Close(OutputPair& out, const InPlace& at, std::string_view openTag,
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
  End(out, at);
}

void InPlaceWriter_CL::Cut(OutputPair& out, const InPlace& at) {
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

void InPlaceWriter_CL::End(OutputPair& out, const InPlace& at) {
  if (at.ownsText) {
    out.text.resize(at.text);
    // A long construct's text goes back rather than staying held for the rest of the run.
    if (out.text.empty() && out.text.capacity() >= kLargeHead)
      std::string().swap(out.text);
    out.keepText = false;
  }
  if (--depth_ == 0) {
    stretches_.clear();
    stretchPair_ = nullptr;
  }
}

void InPlaceWriter_CL::GrowText(std::string& text, std::size_t unread) {
  std::string grown;
  grown.reserve(text.size() + std::min(text.capacity(), unread + kTextRoom));
  platform::AdviseLargeBuffer(grown.data(), grown.capacity());
  grown.append(text);
  text.swap(grown);
}

OutputPair& InPlaceWriter_CL::ScratchPair(int depth) {
  const auto at = static_cast<std::size_t>(depth);
  while (scratchPairs_.size() <= at)
    scratchPairs_.emplace_back();
  OutputPair& pair = scratchPairs_[at];
  pair.Clear();
  return pair;
}

}  // namespace tarvix
