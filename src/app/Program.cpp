// The program: the command line decides which product runs, the starter site, the preview,
// a whole site or one document.
#include "app/Program.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/Starter.h"
#include "core/CommandLine_CL.h"
#include "core/ConvertFile.h"
#include "core/Parser_CL.h"
#include "platform/Platform.h"
#include "serve/Preview_CL.h"
#include "site/BuildIdentity.h"
#include "site/Site_CL.h"
#include "tarvix/tarvix.h"

// Set by the build: 1 when the preview's HTTP server is built in.
#ifndef TARVIX_PREVIEW
#define TARVIX_PREVIEW 0
#endif

namespace tarvix {
namespace {

// The answer to --version: the release on the first line, which scripts compare, then
// what tells two builds of it apart.
std::string VersionText() {
  return std::string(kProgramName) + " " + Version() + "\nbuild " + kBuildIdentity +
         (TARVIX_PREVIEW ? "\npreview (-serve): built in\n"
                         : "\npreview (-serve): not in this build (built without Boost)\n");
}

enum class Run { Single, Site, Preview };

}  // namespace

int Main(int argc, char** argv) {
  platform::PrepareProcess();
  const std::vector<std::string> arguments = platform::CommandLineArguments(argc, argv);
  const CommandLine_CL commandLine(arguments);
  // The site run and the preview read the command line in its one spelling ("--output=x"
  // is "-o x"); the single run reads it as given, to tell where its input file was.
  const std::vector<std::string> canonical = commandLine.Canonical();
  Run run = Run::Single;
  if (!OnlyAnswers(commandLine)) {
    if (IsPreviewRun(canonical)) {
      run = Run::Preview;
    } else if (IsSiteRun(canonical)) {
      run = Run::Site;
    }
  }
  auto parser = std::make_unique<Parser_CL>();
  if (const std::optional<int> status =
          AnswerCommandLine(commandLine, run != Run::Single, VersionText(), parser->Messages()))
    return *status;
  if (IsStarterRun(arguments))
    return RunStarter(arguments);
  if (run == Run::Preview)
    return RunPreview(canonical);
  if (run == Run::Site)
    return Site_CL(canonical).Run();
  // One document, one conversion: the second core can make the page's memory ready.
  ParserSettings settings;
  settings.prefaultBody = true;
  parser->UseSettings(std::move(settings));
  return ConvertFile(*parser, arguments);
}

}  // namespace tarvix
