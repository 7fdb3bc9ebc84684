// Bracket constructs: inline and reference links, reference definitions, and caret links
// with their definitions. A reference not yet defined marks the pass, and the driver
// converts the document again with the tables filled.
#include "app/Parser_CL.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// Writing back: the source read, escaped, as the construct's HTML.
void WriteBack(OutputPair& out, const std::string& source) {
  AppendEscaped(out, source);
  AppendText(out, source);
}

}  // namespace

void AppendCaretLink(OutputPair& out, const std::string& target, const std::string& id) {
  AppendHtml(out, "<a href=\"");
  AppendHtml(out, target);
  AppendHtml(out, "\" alt=\"");
  AppendHtmlUtf8(out, id);
  AppendHtml(out, "\">^");
  AppendHtmlUtf8(out, id);
  AppendHtml(out, "</a>");
}

void Parser_CL::AppendAddress(OutputPair& out, const std::string& url, int hole) {
  if (hole >= 0) {
    AppendHoleMarker(out, hole);
  } else {
    AppendHtmlUtf8(out, url);
  }
}

std::string Parser_CL::CollectUrl() {
  std::string url;
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
    NextToken(false);
  }
  return url;
}

bool Parser_CL::ReadLinkTarget(std::string& s, const std::string& labelHtml, std::string& url,
                               std::string& title, int& hole) {
  hole = -1;
  if (current().Is(kind::LeftParen)) {
    s.push_back('(');
    NextToken(false);
    url = CollectUrl();
    s += url;
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
    const std::string& key = id.empty() ? labelHtml : id;
    NoteKey(key);
    const auto found = linkReferences.find(key);
    if (found != linkReferences.end()) {
      url = found->second;
    } else {
      unresolvedReference = 1;
      url.clear();
      if (MakingHoles())
        hole = NewHole(key, false);
    }
    return true;
  }
  return false;
}

void Parser_CL::RenderLink(OutputPair& out, InlineMode mode) {
  std::string s = "[";
  NextToken(false);
  // A `[` inside link or image text is dropped from the HTML; the enclosing text goes on.
  if (mode == InlineMode::LinkText || mode == InlineMode::ImageText) {
    AppendText(out, s);
    return;
  }
  OutputPair& label = ScratchPair();
  RenderInline(InlineMode::LinkText, label, -1);
  s += label.text;

  if (current().Is(kind::DefinitionClose)) {
    s += "]:";
    NextToken(false);
    const std::string url = CollectUntil(kind::Lf, -1);
    s += url;
    if (!current().Is(kind::Lf)) {
      WriteBack(out, s);
      return;
    }
    // The key is the label as HTML, so "[a & b]:" is found as "a &amp; b".
    NoteKey(label.html);
    linkReferences[label.html] = url;
    NextToken(false);
    AppendText(out, s);
    return;
  }
  if (!current().Is(kind::RightBracket)) {
    WriteBack(out, s);
    return;
  }
  s.push_back(']');
  NextToken(false);
  std::string url;
  std::string title;
  int hole = -1;
  if (!ReadLinkTarget(s, label.html, url, title, hole)) {
    WriteBack(out, s);
    return;
  }
  AppendHtml(out, "<a href=\"");
  AppendAddress(out, url, hole);
  if (!title.empty()) {
    AppendHtml(out, "\" title=\"");
    AppendHtmlUtf8(out, title);
  }
  AppendHtml(out, "\">");
  AppendHtml(out, label.html);
  AppendHtml(out, "</a>");
  NextToken(false);
  AppendText(out, s);
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
    if (MakingHoles())
      AppendHoleMarker(out, NewHole(id, true));
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
    OutputPair& body = ScratchPair();
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
