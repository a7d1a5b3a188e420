// A trace line that the host does not want: it must cost the host's
// isEnabled answer and nothing else, no formatting and no allocation.
#include <benchmark/benchmark.h>

#include "bench/support/bench_checks.h"
#include "foundation/log_adapter.h"
#include "foundation/logger.h"

namespace kesp::bench {
namespace {

// Writes nothing anywhere, so that a wanted line measures the logger alone.
class DiscardingHostLog final : public kesp::HostLog {
 public:
  bool isEnabled(std::uint32_t, std::uint32_t, std::uint32_t) override { return true; }
  void log(std::uint32_t, std::uint32_t, std::uint32_t, const char* text) override {
    benchmark::DoNotOptimize(text);
  }
};

// One of the plug-in's longer formatted lines, with the kinds of argument
// the plug-in passes.
constexpr char kFormat[] =
    "(Default FOPS) Error in 'read' function (filename '%s', bytes to read '%llu'), error "
    "while reading";
constexpr char kFileName[] = "/var/lib/scanner/quarantine/2f/sample-detection.bin";

// The only host operation whose whole work is its trace line: getOptions.
void unwantedTraceThroughPlugin(benchmark::State& state) {
  guardedBenchmark(state, [&] {
    BenchHost host;
    LoadedChecker loaded(host, "instant");
    const auto instance = host.instance(loaded.checker());
    const std::uint64_t linesBefore = host.log.lines();
    const AllocationCounter allocations;
    for (auto _ : state) benchmark::DoNotOptimize(instance->getOptions());
    const std::uint64_t count = allocations.count();
    reportAllocations(state, count);
    expectNoLogLines(state, host.log, linesBefore);
    expectAllocationsAtMost(state, count, 0);
  });
}
BENCHMARK(unwantedTraceThroughPlugin)->Name("Trace/unwanted_getOptions_through_plugin");

template <class Write>
void unwantedLine(benchmark::State& state, Write&& write) {
  BenchHostLog hostLog(0);
  kesp::LogAdapter adapter(&hostLog);
  const plx::Logger logger(&adapter);
  const plx::LogChannel log(logger, 5, 0);
  const AllocationCounter allocations;
  for (auto _ : state) write(log);
  const std::uint64_t count = allocations.count();
  reportAllocations(state, count);
  expectNoLogLines(state, hostLog, 0);
  expectAllocationsAtMost(state, count, 0);
}

void unwantedTextLine(benchmark::State& state) {
  unwantedLine(state, [](const plx::LogChannel& log) {
    log.text(plx::LogDebug, "Check for false positive with VFPC checker");
  });
}
BENCHMARK(unwantedTextLine)->Name("Trace/unwanted_text");

void unwantedFormattedLine(benchmark::State& state) {
  unwantedLine(state, [](const plx::LogChannel& log) {
    log.format(plx::LogDebug, kFormat, kFileName, 4096ull);
  });
}
BENCHMARK(unwantedFormattedLine)->Name("Trace/unwanted_format");

// For information: the same formatted line when the host wants it.
void wantedFormattedLine(benchmark::State& state) {
  DiscardingHostLog hostLog;
  kesp::LogAdapter adapter(&hostLog);
  const plx::Logger logger(&adapter);
  const plx::LogChannel log(logger, 5, 0);
  const AllocationCounter allocations;
  for (auto _ : state) log.format(plx::LogError, kFormat, kFileName, 4096ull);
  reportAllocations(state, allocations.count());
}
BENCHMARK(wantedFormattedLine)->Name("Trace/wanted_format");

}  // namespace
}  // namespace kesp::bench
