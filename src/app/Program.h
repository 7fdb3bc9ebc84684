// The program: the one entry point that main (and wmain on Windows) call.
#pragma once

namespace tarvix {

// Prepares the process, answers what the command line alone settles, then runs the
// preview, the site run or one conversion. Returns the exit status (255 when the run
// could not start).
[[nodiscard]] int Main(int argc, char** argv);

}  // namespace tarvix
