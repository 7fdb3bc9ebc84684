// Times the link check over a site run's output folder: the scan of every page, the
// records written and read back, and the check of the whole site from the records.
// Usage: tarvix_link_check OUT [runs]   (prints medians; the broken links found go to
// standard error)
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "site/LinkCheck.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

template <typename F>
double MedianMs(int runs, F&& f) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    f();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return Median(times);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUT [runs]\n", argv[0]);
    return 255;
  }
  namespace fs = std::filesystem;
  const fs::path out = argv[1];
  int runs = 11;
  if (argc > 2) {
    const std::string_view text = argv[2];
    if (std::from_chars(text.data(), text.data() + text.size(), runs).ec != std::errc() ||
        runs < 1) {
      std::fprintf(stderr, "runs: a number from 1 up\n");
      return 255;
    }
  }
  std::vector<std::string> paths;
  std::vector<std::string> htmls;
  std::map<std::string, tarvix::PathKind> kinds;
  std::size_t bytes = 0;
  for (const auto& entry : fs::recursive_directory_iterator(out)) {
    const std::string rel = fs::relative(entry.path(), out).generic_string();
    kinds[rel] = entry.is_directory() ? tarvix::PathKind::Folder : tarvix::PathKind::File;
    if (entry.is_regular_file() && entry.path().extension() == ".html") {
      std::ifstream in(entry.path(), std::ios::binary);
      htmls.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      bytes += htmls.back().size();
      paths.push_back(rel);
    }
  }
  std::vector<tarvix::PageLinks> scanned(htmls.size());
  const double scanMs = MedianMs(runs, [&] {
    for (std::size_t i = 0; i < htmls.size(); ++i)
      scanned[i] = tarvix::ScanPage(htmls[i]);
  });
  std::vector<std::string> records(htmls.size());
  const double formatMs = MedianMs(runs, [&] {
    for (std::size_t i = 0; i < htmls.size(); ++i)
      records[i] = tarvix::FormatPageLinks(scanned[i]);
  });
  std::vector<tarvix::PageLinks> parsed(htmls.size());
  const double parseMs = MedianMs(runs, [&] {
    for (std::size_t i = 0; i < htmls.size(); ++i)
      parsed[i] = tarvix::ParsePageLinks(records[i]).value_or(tarvix::PageLinks{});
  });
  std::vector<tarvix::LinkPage> pages;
  for (std::size_t i = 0; i < htmls.size(); ++i)
    pages.push_back({paths[i], paths[i], &parsed[i]});
  std::vector<tarvix::BrokenLink> broken;
  const double checkMs = MedianMs(runs, [&] {
    broken = tarvix::CheckSiteLinks(pages, [&](std::string_view path) {
      const auto found = kinds.find(std::string(path));
      return found == kinds.end() ? tarvix::PathKind::Missing : found->second;
    });
  });
  std::size_t ids = 0, links = 0, recordBytes = 0;
  for (std::size_t i = 0; i < htmls.size(); ++i) {
    ids += scanned[i].ids.size();
    links += scanned[i].links.size();
    recordBytes += records[i].size();
  }
  std::size_t noFile = 0;
  for (const tarvix::BrokenLink& b : broken) {
    noFile += b.problem == tarvix::LinkProblem::NoSuchFile ? 1 : 0;
    std::fprintf(stderr, "%s\n", tarvix::BrokenLinkMessage(pages[b.page], b).c_str());
  }
  std::printf("pages: %zu, %zu bytes; %zu ids, %zu relative links; records %zu bytes\n",
              htmls.size(), bytes, ids, links, recordBytes);
  std::printf("scan:   %.2f ms (median of %d)\n", scanMs, runs);
  std::printf("format: %.2f ms\nparse:  %.2f ms\ncheck:  %.2f ms\n", formatMs, parseMs, checkMs);
  std::printf("broken: %zu (%zu no such file, %zu no such id)\n", broken.size(), noFile,
              broken.size() - noFile);
  return 0;
}
