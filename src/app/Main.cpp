// The program: the command line decides which product runs, the starter site, the preview,
// a whole site or one document.
#include "app/Main.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Starter.h"
#include "core/CommandLine_CL.h"
#include "core/ConvertFile.h"
#include "core/Parser_CL.h"
#include "platform/Platform.h"
#include "serve/Preview_CL.h"
#include "site/Site_CL.h"

namespace tarvix {

int Main(int argc, char** argv) {
  platform::PrepareProcess();
  const std::vector<std::string> arguments = platform::CommandLineArguments(argc, argv);
  auto parser = std::make_unique<Parser_CL>();
  if (const std::optional<int> status = AnswerCommandLine(arguments, *parser->messages))
    return *status;
  if (IsStarterRun(arguments))
    return RunStarter(arguments);
  if (IsPreviewRun(arguments))
    return RunPreview(arguments);
  if (IsSiteRun(arguments))
    return Site_CL(arguments).Run();
  // One document, one conversion: the second core can make the page's memory ready.
  parser->prefaultBody = true;
  return ConvertFile(*parser, arguments);
}

}  // namespace tarvix
