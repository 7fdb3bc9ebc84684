// The command-line settings of one run.
#pragma once

#include <cstdint>
#include <string>

namespace tarvix {

struct Options {
  std::string inputFile;
  // An option that takes a value came before the input file: a missing input is then
  // most likely that option's value, and its message says where the input goes.
  std::int32_t inputAfterValue = 0;
  std::string outputFile;  // empty: the page goes to the standard output
  std::string templateFile;
  std::string debugTemplateFile;  // wins over every other template
  std::string rootDir;
  std::string rootRel;    // the site root relative to the output's folder
  std::string syntaxDir;  // the highlighter folder relative to the site root
  std::int32_t imageLink = 0;
  std::int32_t replaceExt = 0;
  // A site run (a folder as the input): pages converted at once, 0 for one per processor;
  // and whether every page is converted, changed or not. A single page ignores both.
  std::int32_t jobs = 0;
  std::int32_t force = 0;
  // A site run: whether outputs whose sources are gone stay, and whether broken links fail.
  std::int32_t keep = 0;
  std::int32_t strict = 0;
  // A site run: no highlighter folder of the program's own is written beside the pages.
  std::int32_t noHighlighter = 0;
};

}  // namespace tarvix
