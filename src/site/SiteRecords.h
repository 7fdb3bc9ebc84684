// What a site run keeps of each document and of each other file: one record apiece, made
// by the walk and filled in by the rooms after it (the state, the workers, the link check).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/Below.h"
#include "site/LinkCheck.h"
#include "site/SiteState.h"

namespace tarvix {

// One document and the page it writes. The walk's fields are set before any page is made
// and only read after. While the workers run, `previous`, `processed` and `record` change
// under the run's records lock (a worker writes the state now and then from all of them);
// `madeNow` and `links` are the converting worker's alone, read once the workers are done.
struct SiteDocument {
  std::string path;       // relative to the input folder
  std::string target;     // the page, relative to the output folder
  bool collides = false;  // another document writes the same page: neither is written
  // The previous run's record of it, while it still describes this walk's document.
  std::optional<SitePage> previous;
  bool processed = false;  // its task is done
  // Once processed: its record, when the page is up to date now.
  std::optional<SitePage> record;
  bool madeNow = false;  // converted by this run
  // The page's links, set by the worker that converts it, or by the check from its record.
  std::optional<PageLinks> links;
};

// One file copied beside the pages (or one of the highlighter's files the program writes).
// `notCopied` is settled between the pages and the copies; `copy` changes under the records
// lock while the copies are made.
struct SiteFile {
  static constexpr std::size_t kNoHighlighter = static_cast<std::size_t>(-1);

  std::string path;  // relative to the input folder, and to the output folder
  // Its place among the highlighter's files when the program writes it; kNoHighlighter for a
  // file of the input.
  std::size_t highlighter = kNoHighlighter;
  // A page's template or include, or a highlighter file no page loads: not copied.
  bool notCopied = false;
  // The copy's identity when it is a copy of its source now; unset while not done.
  std::optional<platform::FileIdentity> copy;
};

}  // namespace tarvix
