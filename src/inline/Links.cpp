// Bracket constructs: inline and reference links, reference definitions, and caret links
// with their definitions. A reference not yet defined marks the pass, and the driver
// converts the document again with the tables filled.
#include "core/CaretLink.h"
#include "core/Parser_CL.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// Writing back: the source read, escaped, as the construct's HTML.
void WriteBack(OutputPair& out, const std::string& source) {
  AppendEscaped(out, source);
  AppendText(out, source);
}

// An address is gathered up to a quote or a closing parenthesis.
constexpr PlainBytes kUrlPlain = MakePlainBytes("(.<>/|:-=!~&+#0123456789*_\\'[]`", false, true);

}  // namespace

void Parser_CL::AppendAddress(OutputPair& out, const std::string& url, int hole) {
  if (hole >= 0) {
    FirstPass_CL::AppendHoleMarker(out, hole);
  } else {
    AppendHtmlUtf8(out, url);
  }
}

void Parser_CL::CollectUrl(std::string& url) {
  for (;;) {
    const Token& t = current();
    if (t.EndsGathering() || t.Is(kind::Quote) || t.Is(kind::RightParen))
      break;
    if (t.Is(kind::Lf)) {
      // A single line end adds nothing; a blank line ends the address.
      NextToken(false);
      if (current().Is(kind::Lf))
        break;
      continue;
    }
    t.AppendTextTo(url);
    url.append(TakePlain(kUrlPlain, nullptr));
    NextToken(false);
  }
}

bool Parser_CL::ReadLinkTarget(std::string& s, std::string_view labelHtml, std::string& url,
                               std::string& title, int& hole) {
  hole = -1;
  if (current().Is(kind::LeftParen)) {
    s.push_back('(');
    NextToken(false);
    // The address is gathered straight into the source; it is copied out on a match only.
    const std::size_t urlStart = s.size();
    CollectUrl(s);
    const std::size_t urlEnd = s.size();
    if (current().Is(kind::Quote)) {
      current().AppendTextTo(s);
      NextToken(false);
      title = CollectUntil(kind::Quote, -1);
      s += title;
      if (!current().Is(kind::Quote))
        return false;
      current().AppendTextTo(s);
      NextToken(false);
      SkipSpaces();
    }
    if (!current().Is(kind::RightParen))
      return false;
    url.assign(s, urlStart, urlEnd - urlStart);
    s.push_back(')');
    return true;
  }
  if (current().Is(kind::LeftBracket)) {
    s.push_back('[');
    NextToken(true);
    const std::string id = CollectUntil(kind::RightBracket, -1);
    s += id;
    if (!current().Is(kind::RightBracket))
      return false;
    s.push_back(']');
    const std::string key = id.empty() ? std::string(labelHtml) : id;
    const auto found = linkReferences.find(key);
    if (found != linkReferences.end()) {
      url = found->second;
    } else {
      unresolvedReference = 1;
      url.clear();
      if (firstPass_.MakingHoles(pass))
        hole = firstPass_.NewHole(key, false, id.empty());
    }
    return true;
  }
  return false;
}

void Parser_CL::RenderLink(OutputPair& out, InlineMode mode) {
  NextToken(false);
  // A `[` inside link or image text is dropped from the HTML; the enclosing text goes on.
  if (mode == InlineMode::LinkText || mode == InlineMode::ImageText) {
    AppendText(out, "[");
    // Text without its HTML: a construct around it cannot keep its HTML as written back.
    out.MarkMarkup();
    return;
  }
  const InPlace at = inPlace_.Begin(out, "[");
  RenderInline(InlineMode::LinkText, out, -1);
  const std::size_t labelStart = at.html + at.opener;

  if (current().Is(kind::DefinitionClose)) {
    // The source read from here on joins the pair's text whether the definition holds or
    // not, so the address is gathered straight into it: one that runs to the end of a
    // long line is then held once.
    const std::size_t sourceAt = out.text.size();
    out.text.append("]:");
    NextToken(false);
    const std::size_t urlAt = out.text.size();
    CollectInto(out.text, kind::Lf, -1);
    if (!current().Is(kind::Lf)) {
      inPlace_.WriteBackJoined(out, at, sourceAt);
      return;
    }
    // The key is the label as HTML, so "[a & b]:" is found as "a &amp; b".
    linkReferences[firstPass_.DefinitionKey(out.html.substr(labelStart), pass)] =
        out.text.substr(urlAt);
    NextToken(false);
    // A definition writes no HTML.
    inPlace_.Cut(out, at);
    out.MarkMarkup();
    inPlace_.End(out, at);
    return;
  }
  if (!current().Is(kind::RightBracket)) {
    inPlace_.WriteBack(out, at, {});
    return;
  }
  std::string s = "]";
  NextToken(false);
  std::string url;
  std::string title;
  int hole = -1;
  if (!ReadLinkTarget(s, std::string_view(out.html).substr(labelStart), url, title, hole)) {
    inPlace_.WriteBack(out, at, s);
    return;
  }
  OutputPair open;
  AppendHtml(open, "<a href=\"");
  AppendAddress(open, url, hole);
  if (!title.empty()) {
    AppendHtml(open, "\" title=\"");
    AppendHtmlUtf8(open, title);
  }
  AppendHtml(open, "\">");
  out.text += s;
  inPlace_.Close(out, at, open.html, "</a>", s.size());
  NextToken(false);
}

void Parser_CL::FinishCaretLink(OutputPair& out, std::string& s, const std::string& id) {
  if (!current().Is(kind::RightBracket)) {
    WriteBack(out, s);
    return;
  }
  s.push_back(']');
  const auto found = caretTargets.find(id);
  if (found != caretTargets.end()) {
    AppendCaretLink(out, found->second, id);
  } else {
    unresolvedReference = 1;
    if (firstPass_.MakingHoles(pass))
      FirstPass_CL::AppendHoleMarker(out, firstPass_.NewHole(id, true));
    else
      out.MarkMarkup();
  }
  NextToken(false);
  AppendText(out, s);
}

void Parser_CL::RenderCaretLink(OutputPair& out) {
  std::string s = "[^";
  NextToken(false);
  const std::string id = CollectUntil(kind::DefinitionClose, -1);
  s += id;
  FinishCaretLink(out, s, id);
}

void Parser_CL::RenderCaretBlock(OutputPair& out) {
  std::string s = "[^";
  NextToken(false);
  const std::string id = CollectUntil(kind::DefinitionClose, -1);
  s += id;
  if (current().Is(kind::DefinitionClose)) {
    s += "]:";
    NextToken(false);
    OutputPair& body = inPlace_.ScratchPair(inlineDepth_);
    RenderInline(InlineMode::Paragraph, body, -1);
    s += body.text;
    // The target is the body's source text, not its HTML.
    caretTargets[id] = CleanUtf8(body.text);
    AppendText(out, s);
    return;
  }
  FinishCaretLink(out, s, id);
}

}  // namespace tarvix
