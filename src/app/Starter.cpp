// The starter site, written from the files the program carries.
#include "app/Starter.h"

#include "core/CommandLine_CL.h"
#include "platform/Below.h"
#include "platform/Platform.h"
#include "site/Embedded.h"
#include "site/Highlighter.h"

namespace tarvix {
namespace {

constexpr std::string_view kStarterPrefix = "starter/";
constexpr std::string_view kNotEmpty = ": not empty, nothing written";
constexpr std::string_view kOutputSuffix = "-site";

// Writes `bytes` as `relative` below `folder`, its folders made first.
bool WriteStarterFile(const platform::BelowFolder& folder, const std::string& relative,
                      std::string_view bytes, std::string* reason) {
  const std::size_t slash = relative.rfind('/');
  if (slash != std::string::npos &&
      folder.MakeFolders(relative.substr(0, slash), reason) != platform::BelowResult::kDone)
    return false;
  platform::NewFileBelow file;
  platform::FileIdentity made;
  return file.Create(folder, relative, reason) == platform::BelowResult::kDone &&
         file.Write(bytes) && file.Finish(false, &made, reason) &&
         file.Commit(false, reason) == platform::BelowResult::kDone;
}

}  // namespace

bool IsStarterRun(const std::vector<std::string>& arguments) {
  const CommandLine_CL commandLine(arguments);
  return commandLine.HasOption("new") && commandLine.CountPlain() > 0;
}

int RunStarter(const std::vector<std::string>& arguments) {
  const CommandLine_CL commandLine(arguments);
  std::string site = commandLine.FirstPlain();
  while (site.size() > 1 && site.back() == platform::kPathSeparator)
    site.pop_back();
  platform::FileStatus status;
  if (platform::StatusOf(site, &status)) {
    std::vector<platform::FolderEntry> entries;
    if (status.kind != platform::FileKind::Folder || !platform::ListFolder(site, &entries) ||
        !entries.empty()) {
      platform::PrintError(site + std::string(kNotEmpty));
      return 255;
    }
  }
  platform::BelowFolder folder;
  std::string reason;
  if (!platform::MakeFolders(site) || !folder.Open(site, &reason)) {
    platform::PrintError(site + ": Open Err OutputFolder" + (reason.empty() ? "" : ": " + reason));
    return 255;
  }
  int failed = 0;
  const auto write = [&](const std::string& relative, std::string_view bytes) {
    std::string why;
    if (!WriteStarterFile(folder, relative, bytes, &why)) {
      platform::PrintError(site + platform::kPathSeparator + relative + ": Write Err OutputFile" +
                           (why.empty() ? "" : ": " + why));
      ++failed;
    }
  };
  for (const EmbeddedFile& file : EmbeddedFiles()) {
    if (file.name.starts_with(kStarterPrefix))
      write(std::string(file.name.substr(kStarterPrefix.size())), file.bytes);
  }
  for (const HighlighterFile& file : HighlighterFiles())
    write(std::string(kHighlighterFolder) + "/" + file.path, file.bytes);
  if (failed != 0)
    return 1;
  const std::string output = site + std::string(kOutputSuffix);
  platform::PrintMessage("Made a starter site in " + site + ". Build it, or preview it:");
  platform::PrintMessage("    tarvix " + site + " -o " + output);
  platform::PrintMessage("    tarvix " + site + " -o " + output + " -serve");
  return 0;
}

}  // namespace tarvix
