// The program's entry point on Windows. wmain rather than main: the C runtime's narrow
// argv has been through the ANSI code page, so the platform layer reads the command line
// itself and the arguments are not used here.
#include "app/Program.h"

int wmain(int /*argc*/, wchar_t** /*argv*/) {
  return tarvix::Main(0, nullptr);
}
