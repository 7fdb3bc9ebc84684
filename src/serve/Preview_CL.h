// The live preview: a site run into an output folder, that folder served over HTTP, and a
// rerun after each change of the input folder or of a template or include file the pages
// used, after which the open pages that changed reload themselves.
#pragma once

#include <string>
#include <vector>

namespace tarvix {

// True when the arguments ask for the preview (-serve).
[[nodiscard]] bool IsPreviewRun(const std::vector<std::string>& arguments);

// Runs the preview until interrupt or termination; returns the exit status: 0 once
// stopped, 255 when it could not start (no input folder, no port, no temporary folder, a
// first site run that refused, as when the folders contain each other).
[[nodiscard]] int RunPreview(const std::vector<std::string>& arguments);

}  // namespace tarvix
