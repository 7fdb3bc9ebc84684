// What the caller of a run decides beside the command line: where the messages and the page
// go, the template held in memory, what the run hands back, and its bounds. Parser_CL takes
// the record whole before the run (UseSettings); the renderers never read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/Limits.h"
#include "core/Messages.h"
#include "core/PageSink_CL.h"

namespace tarvix {

struct ParserSettings {
  // Where the page's temporary file is made (empty: the system's); a site run, beside it.
  std::string temporaryFolder;
  // Where the run's messages go; none: the console.
  MessageSink_CL* messages = nullptr;
  // Where the page goes when set; the output file is then not opened. With an output file
  // named, the caller writes the page there (Parser_CL::TargetPath) itself.
  PageSink_CL* pageSink = nullptr;
  // The template's text, held by the caller: used where no template file is chosen.
  std::optional<std::string> templateText;
  // When set, gets the page's table of contents, shown or not (for a caller's own page).
  std::string* tableOfContents = nullptr;
  // When set, makes the value of ####NAV####, asked only when the template holds it (a site
  // run's navigation); without, the placeholder is left empty.
  std::function<std::string()> navigation;
  // When set, gets the page's title as a navigation names it: the header's title, else the
  // text of the body's first heading (its tags left out), else nothing.
  std::string* pageTitle = nullptr;
  // The largest page the run writes; a larger one is "Page too large" and nothing.
  std::uint64_t maxPageSize = kMaxPageSize;
  // When set, a large document's body has its memory made ready by a second thread just
  // ahead of the conversion. The program's single runs set it; a site run's workers and a
  // library's callers already keep the machine's cores busy, or may not want a thread.
  bool prefaultBody = false;
  // The smallest document whose body is made ready so. A page of ten megabytes comes out
  // sooner without the thread (it costs about as much as it saves, and the cores are often
  // shared); from about a hundred megabytes the two are even and the thread saves the
  // conversion a long wait on the machine's fresh memory.
  std::size_t prefaultFrom = std::size_t{64} << 20;
};

}  // namespace tarvix
