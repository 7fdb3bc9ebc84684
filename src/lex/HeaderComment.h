// The body of a header comment read token by token, whoever hands out the tokens: the
// parser for the document's own comments, a lexer of its own for an include file's.
#pragma once

#include <string>
#include <string_view>

#include "lex/Lex_CL.h"
#include "lex/Token.h"

namespace tarvix {

// What a comment line takes in one piece after a token: in a value every token but a
// line end and the "--" that may close the comment is value text; in a key, words count
// and the blanks between them do not.
inline constexpr PlainBytes kCommentValuePlain =
    MakePlainBytes("().<>/|:=!~&+#0123456789*_\\\"'[]`", false, true);
inline constexpr PlainBytes kCommentKeyPlain = MakePlainBytes("", false);

// Reads a comment body from `source`'s current token on; each "key: value" line is handed
// to `apply`. The same reading serves the document (through the parser, whose tokens
// know the quote prefix) and include files (a lexer of their own).
template <class Source, class Apply>
int ReadCommentBody(Source& source, std::string& raw, Apply apply) {
  std::string key;
  std::string value;
  bool valueMode = false;
  for (;;) {
    const Token& t = source.Current();
    // A quoted passage that ends inside the comment ends the comment too.
    if (t.EndsGathering())
      return 0;
    t.AppendTextTo(raw);
    if (valueMode)
      t.AppendTextTo(value);
    switch (t.code) {
      case kind::Sp:
        break;
      case kind::Colon:
        if (!key.empty())
          valueMode = true;
        break;
      case kind::Text:
      case kind::Underscore:
      case kind::Rule:
        if (t.TextEquals("--")) {
          source.Advance();
          const Token& after = source.Current();
          if (after.Is(kind::Greater) && !after.IsDepth()) {
            if (value.size() > 1)
              value.resize(value.size() - 2);
            apply(key, value);
            return 1;
          }
          continue;  // that token is looked at without advancing again
        }
        if (!valueMode)
          t.AppendTextTo(key);
        break;
      case kind::Lf:
        apply(key, value);
        key.clear();
        value.clear();
        valueMode = false;
        break;
      default:
        if (!valueMode)
          key.clear();
        break;
    }
    if (t.Is(kind::Lf)) {
      source.Advance();
      continue;
    }
    const std::string_view run =
        source.TakePlain(valueMode ? kCommentValuePlain : kCommentKeyPlain);
    raw.append(run);
    if (valueMode) {
      value.append(run);
    } else {
      for (char c : run) {
        if (c != ' ')
          key.push_back(c);
      }
    }
    source.Advance();
  }
}

}  // namespace tarvix
