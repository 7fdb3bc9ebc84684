// The conversion loop: one pass over the blocks of the document, then the page.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/Parser_CL.h"
#include "core/TemplateFill_CL.h"
#include "text/BaseFolder.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// Room for the body of a page. Untouched reserve costs no memory, while a body that
// outgrows its buffer is copied whole, so we count the bytes that can turn into tags: a
// quote marker opens and closes a quote, a pipe makes a cell, a line end a row or an item,
// and some characters become entities. Most pages stay within twice their document.
struct Estimate {
  std::size_t page = 0;      // bytes
  std::size_t headings = 0;  // lines that start with "#"
};

Estimate EstimatePage(std::string_view bytes) {
  constexpr std::size_t kMaxExtra = std::size_t{1} << 30;
  // One block in every kStride is counted: enough for a document of one kind throughout,
  // cheap beside the conversion. A page that outgrows the estimate costs one copy.
  constexpr std::size_t kBlock = 4096;
  constexpr std::size_t kStride = 16;
  const std::size_t step = bytes.size() > kBlock * kStride * 4 ? kBlock * kStride : kBlock;
  std::size_t extra = 0;
  std::size_t headings = 0;
  for (std::size_t at = 0; at < bytes.size(); at += step) {
    const std::size_t end = std::min(bytes.size(), at + kBlock);
    for (std::size_t i = at; i < end; ++i) {
      switch (bytes[i]) {
        case '#':
          if (i == 0 || bytes[i - 1] == '\n')
            ++headings;
          break;
        case '>':
        case '|':
          extra += 26;
          break;
        case '\n':
          extra += 12;
          break;
        case '&':
        case '"':
        case '\'':
        case '<':
        case '\\':
          extra += 5;
          break;
        default:
          break;
      }
    }
  }
  extra *= step / kBlock;
  headings *= step / kBlock;
  return {2 * bytes.size() + std::min(extra, kMaxExtra) + 4096, headings};
}

// A mapped document gives back its pages behind the block being converted every
// kReleaseEvery bytes, all but the last kReleaseMargin: a construct that backtracks reads
// from near where it started, and a page given back too early is only read again from
// the file.
constexpr std::size_t kReleaseEvery = std::size_t{1} << 20;
constexpr std::size_t kReleaseMargin = std::size_t{1} << 19;

// A body's memory is made ready ahead of the conversion (for documents from the settings'
// prefaultFrom on) this far ahead of what is written: a few milliseconds of conversion, and
// no more memory than a few large pages past the page.
constexpr std::size_t kPrefaultAhead = std::size_t{4} << 20;

}  // namespace

void Parser_CL::ReleaseReadInputNow() {
  // What a construct reads back lies in its pair's text, copied as read; a page of the
  // document given back and read again after all comes back from the file.
  lex.ReleaseBefore(lex.Mark().pos - kReleaseMargin);
  nextRelease_ = lex.Mark().pos + kReleaseEvery;
}

void Parser_CL::Convert() {
  // A second pass is converting again: the first pass's body is of no more use.
  if (pass != 1) {
    std::string().swap(firstPass_.body.html);
    std::string().swap(firstPass_.body.text);
  }
  OutputPair body;
  // Nothing reads the body's source text.
  body.keepText = false;
  const Estimate estimate = EstimatePage(lex.Bytes());
  body.html.reserve(estimate.page);
  // The heading ids are counted in one table sized in advance: growing it would move
  // every id once more.
  headingIds.Reserve(estimate.headings);
  tocNotes_.Reserve(estimate.headings);
  headingGuesses_.Forget();
  platform::AdviseLargeBuffer(body.html.data(), body.html.capacity());
  // The helper stops however the pass ends, before the body goes.
  struct StopAtEnd {
    PrefaultAhead_CL& helper;
    ~StopAtEnd() { helper.Stop(); }
  } stopAtEnd{prefault_};
  if (settings_.prefaultBody && lex.Bytes().size() >= settings_.prefaultFrom)
    prefault_.Start(body.html, kPrefaultAhead);
  nextRelease_ = lex.Mapped() ? kReleaseEvery : SIZE_MAX;
  for (;;) {
    ReleaseReadInput();
    prefault_.Reach(body.html);
    tableRowFlag = 1;
    const Token& t = current();
    switch (t.code) {
      case kind::Backtick:
        RenderFencedCode(body);
        break;
      case kind::Greater:
        RenderBlockQuote(body);
        break;
      case kind::Less:
        RenderAngle(body);
        break;
      case kind::Pipe:
        (void)RenderTable(body, std::string(), 1, body.html.size());
        break;
      case kind::Ordered:
        RenderOrderedList(body, 0);
        break;
      case kind::Bullet:
        RenderBulletList(body, 0);
        break;
      case kind::Sp:
        if (t.count >= 4) {
          RenderIndentedCode(body);
        } else {
          NextToken(false);
        }
        break;
      case kind::Lf:
      case kind::Br:
        NextToken(false);
        break;
      case kind::CaretOpen:
        RenderCaretBlock(body);
        break;
      case kind::Head:
        RenderHeading(body);
        break;
      case kind::Rule:
        NextToken(false);
        AppendText(body, current());
        AppendHtml(body, "<hr />\n");
        break;
      case kind::Eof:
        // The body is complete: what follows moves or fills it, alone.
        prefault_.Stop();
        // Quotes still open when the input ends without a line end are closed here: no
        // line start follows to close them.
        while (quoteDepth > 0) {
          body.html += "</blockquote>";
          --quoteDepth;
        }
        // The page is the page of one state of the file: when the mapped file changed
        // while we read it, Run converts a copy of it anew and this pass writes nothing.
        if (!lex.Intact()) {
          inputChanged_ = true;
          return;
        }
        if (unresolvedReference && pass == 1 && firstPass_.enabled) {
          firstPass_.body = std::move(body);
        } else {
          EmitPage(body);
        }
        return;
      default:
        RenderParagraph(body);
        break;
    }
  }
}

namespace {

// The text of the first heading in `html` (a body as the renderers write it): what lies
// between its tags, without the tags of its inline constructs; empty when there is none.
std::string FirstHeadingText(std::string_view html) {
  for (std::size_t at = html.find("<h"); at != std::string_view::npos;
       at = html.find("<h", at + 2)) {
    if (at + 3 >= html.size() || html[at + 2] < '1' || html[at + 2] > '6' ||
        (html[at + 3] != '>' && html[at + 3] != ' '))
      continue;
    const std::size_t open = html.find('>', at);
    const std::string close = std::string("</h") + html[at + 2] + '>';
    const std::size_t end = html.find(close, open);
    if (open == std::string_view::npos || end == std::string_view::npos)
      return {};
    std::string text;
    bool inTag = false;
    for (const char c : html.substr(open + 1, end - open - 1)) {
      if (c == '<' || c == '>') {
        inTag = c == '<';
      } else if (!inTag) {
        text.push_back(c == '\n' ? ' ' : c);
      }
    }
    return std::string(Trim(text));
  }
  return {};
}

// Writes a planned page through the parser: the template's pieces as they are, the body
// with its holes filled.
class PageWriter_CL final : public TemplateFill_CL::Writer_CL {
 public:
  PageWriter_CL(std::function<void(std::string_view)> text, std::function<void()> body)
      : text_(std::move(text)), body_(std::move(body)) {}
  void Text(std::string_view bytes) override { text_(bytes); }
  void Body() override { body_(); }

 private:
  std::function<void(std::string_view)> text_;
  std::function<void()> body_;
};

}  // namespace

void Parser_CL::EmitPage(OutputPair& body) {
  if (unresolvedReference && pass != 2)
    return;
  std::string& bodyHtml = body.html;
  if (settings_.tableOfContents) {
    // A caller that builds its own page gets the table of contents under the page's bound.
    std::optional<std::string> made = tocNotes_.Build(bodyHtml, settings_.maxPageSize, firstPass_);
    if (!made) {
      RefusePage();
      return;
    }
    *settings_.tableOfContents = std::move(*made);
  }

  if (settings_.pageTitle)
    *settings_.pageTitle = header.title.empty() ? FirstHeadingText(bodyHtml) : header.title;

  std::string templatePath = options.templateFile;
  std::string outsideReason;
  // Set when the template is an entry kept inside the base folder: it is then read below
  // the folder, from the file opened there, not by its path.
  std::optional<std::string> insideEntry;
  if (!header.template_.empty() && baseFolder_) {
    std::string entry = ToNativeSeparators(CleanUtf8(header.template_));
    templatePath = EntryPath(*baseFolder_, entry, entryRule_, &outsideReason);
    if (entryRule_ == EntryRule::Inside)
      insideEntry = std::move(entry);
  }
  if (!options.debugTemplateFile.empty()) {
    templatePath = options.debugTemplateFile;
    outsideReason.clear();
    insideEntry.reset();
  }
  if (!templatePath.empty()) {
    inputsRead.push_back(templatePath);
    inputStamps.push_back(outsideReason.empty() ? platform::StampOf(templatePath)
                                                : platform::FileStamp{});
  }

  const std::uint64_t bodySize = BodySize(bodyHtml);
  std::string templateFile;
  std::string_view templateBytes;
  if (templatePath.empty()) {
    if (!settings_.templateText) {
      WriteBodyAlone(bodyHtml, bodySize);
      return;
    }
    templateBytes = *settings_.templateText;
  } else {
    // A template that exists but cannot be read counts as missing, and so does one that is
    // no ordinary file (a device whose reading would never end); the line after the
    // message says which it was.
    std::string reason = outsideReason;
    bool found = false;
    if (insideEntry) {
      found = reason.empty() &&
              ReadInsideEntry(*baseFolder_, *insideEntry, true, &templateFile, &reason);
    } else {
      platform::FileStatus status;
      found = reason.empty() && platform::StatusOf(templatePath, &status, &reason);
      if (found && status.kind != platform::FileKind::Regular) {
        reason = platform::NotRegularReason(status.kind);
        found = false;
      }
      found = found && platform::ReadWholeFile(templatePath, true, &templateFile, &reason);
    }
    if (!found) {
      Say(MessageKind::TemplateMissing, "Template File Not Find \"" + templatePath + "\"",
          templatePath, reason);
      WriteBodyAlone(bodyHtml, bodySize);
      return;
    }
    templateBytes = templateFile;
  }

  // The values as the placeholders take them, in kPlaceholders' order; those that cost
  // something to make are made only when the page holds their placeholder.
  std::string syntax;
  std::string toc;
  std::string nav;
  const TemplateFill_CL::Values values = [&](int index) -> std::optional<std::string_view> {
    switch (index) {
      case 0:
        return header.title;
      case 1:
        return header.keywords;
      case 2:
        return header.description;
      case 3:
        syntax = highLight.ScriptTags(options.syntaxDir);
        return syntax;
      case 4:
        return options.rootRel;
      case 6:
        if (settings_.navigation)
          nav = settings_.navigation();
        return nav;
      default: {
        std::optional<std::string> made =
            tocNotes_.Build(bodyHtml, settings_.maxPageSize, firstPass_);
        if (!made)
          return std::nullopt;
        toc = std::move(*made);
        return toc;
      }
    }
  };
  TemplateFill_CL fill;
  if (!fill.Plan(templateBytes, values, bodySize, settings_.maxPageSize)) {
    RefusePage();
    return;
  }
  // A page in memory with the body once takes the body's buffer: the page then costs the
  // body's memory and the template's, not a second copy of the body.
  const bool adopt = settings_.pageSink && !firstPass_.filling && fill.BodyPlaces() == 1;
  if (settings_.pageSink)
    settings_.pageSink->Reserve(fill.Size(), adopt);
  PageWriter_CL writer([this](std::string_view bytes) { WritePage(bytes); },
                       [this, adopt, &bodyHtml] {
                         if (adopt) {
                           settings_.pageSink->AdoptBody(std::move(bodyHtml));
                         } else {
                           WriteBody(bodyHtml);
                         }
                       });
  fill.Write(writer);
}

void Parser_CL::WriteBodyAlone(std::string& html, std::uint64_t size) {
  if (size > settings_.maxPageSize) {
    RefusePage();
    return;
  }
  if (settings_.pageSink && !firstPass_.filling) {
    settings_.pageSink->Reserve(size, true);
    settings_.pageSink->AdoptBody(std::move(html));
    return;
  }
  if (settings_.pageSink)
    settings_.pageSink->Reserve(size, false);
  WriteBody(html);
}

void Parser_CL::RefusePage() {
  pageTooLarge_ = true;
  Say(MessageKind::PageTooLarge, "Page too large", MessageStream::Error);
}

std::uint64_t Parser_CL::BodySize(const std::string& html) const {
  if (!firstPass_.filling)
    return html.size();
  return firstPass_.FilledSize(html);
}

void Parser_CL::WriteBody(const std::string& html) {
  if (!firstPass_.filling) {
    WritePage(html);
    return;
  }
  std::string value;
  (void)FirstPass_CL::WalkHoles(
      html, [this](std::string_view text) { WritePage(text); },
      [&](std::size_t index) {
        value.clear();
        firstPass_.AppendHoleValue(index, value);
        WritePage(value);
        return true;
      });
}

void Parser_CL::WritePage(std::string_view page) {
  if (settings_.pageSink) {
    settings_.pageSink->Write(page);
    return;
  }
  output.Write(page);
}

}  // namespace tarvix
