// In-process benchmarks: the whole conversion of one generated sample per construct, and
// the mixed document at 1 MB and 10 MB to show that the time grows linearly.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "tarvix/tarvix.h"

namespace {

// The generator is a program of its own (so the command-line benchmark uses the same
// bytes); we run it once per document.
std::string Generate(const std::string& kind, std::size_t size) {
  const std::string command =
      std::string(TARVIX_GENERATE) + " " + kind + " " + std::to_string(size);
  std::string bytes;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
      bytes.append(buffer, n);
    pclose(pipe);
  }
  return bytes;
}

void Convert(benchmark::State& state, const std::string& kind, std::size_t size) {
  const std::string document = Generate(kind, size);
  for (auto _ : state) {
    benchmark::DoNotOptimize(tarvix::ConvertDocument(document));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document.size()));
}

constexpr std::size_t kSample = 1 << 20;

}  // namespace

BENCHMARK_CAPTURE(Convert, headings, std::string("headings"), kSample);
BENCHMARK_CAPTURE(Convert, paragraphs, std::string("paragraphs"), kSample);
BENCHMARK_CAPTURE(Convert, emphasis, std::string("emphasis"), kSample);
BENCHMARK_CAPTURE(Convert, links, std::string("links"), kSample);
BENCHMARK_CAPTURE(Convert, lists, std::string("lists"), kSample);
BENCHMARK_CAPTURE(Convert, quotes, std::string("quotes"), kSample);
BENCHMARK_CAPTURE(Convert, code, std::string("code"), kSample);
BENCHMARK_CAPTURE(Convert, tables, std::string("tables"), kSample);
// Linear time: the 10 MB documents should take about ten times the 1 MB ones.
BENCHMARK_CAPTURE(Convert, plain1MB, std::string("plain"), 1000000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, plain10MB, std::string("plain"), 10000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, mixed1MB, std::string("mixed-noref"), 1000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, mixed10MB, std::string("mixed-noref"), 10000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, mixedTwoPass10MB, std::string("mixed"), 10000000)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
