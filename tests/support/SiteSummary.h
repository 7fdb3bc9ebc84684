// The summary line a site run ends with, read back into its counts, for the tests that run
// the program on a folder.
#pragma once

#include <cstdio>
#include <string>

namespace tarvix {

struct Summary {
  int converted = -1;
  int upToDate = -1;
  int copied = -1;
  int removed = -1;
  int broken = -1;
  int failed = -1;
};

// The counts of the run's last line on standard error; -1 each when it is not that line.
inline Summary SummaryOf(const std::string& err) {
  std::string line = err;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
    line.pop_back();
  line = line.substr(line.rfind('\n') + 1);
  Summary s;
  int whole = 0;
  int tenth = 0;
  char unit = 0;
  Summary read;
  if (std::sscanf(line.c_str(),
                  "%d pages converted, %d up to date, %d files copied, %d removed, %d broken "
                  "links, %d failed in %d.%1d %c",
                  &read.converted, &read.upToDate, &read.copied, &read.removed, &read.broken,
                  &read.failed, &whole, &tenth, &unit) == 9 &&
      unit == 's' && line.size() > 2 && line.compare(line.size() - 2, 2, " s") == 0) {
    s = read;
  }
  return s;
}

}  // namespace tarvix
