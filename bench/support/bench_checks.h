// The loops that every check benchmark shares, and the checks that make a
// smoke run of a benchmark fail on a wrong result rather than time it.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <exception>
#include <string>

#include "bench/support/bench_host.h"
#include "bench/support/counting_allocator.h"

namespace kesp::bench {

// Reports allocations per iteration as the "allocs" counter, the figure the
// comparison table shows beside each time.
inline void reportAllocations(benchmark::State& state, std::uint64_t allocations) {
  state.counters["allocs"] = benchmark::Counter(static_cast<double>(allocations),
                                                benchmark::Counter::kAvgIterations);
}

// Fails the run when the iterations allocated more than budget each.
inline void expectAllocationsAtMost(benchmark::State& state, std::uint64_t allocations,
                                    std::uint64_t budget) {
  if (state.iterations() == 0) return;
  const double perIteration =
      static_cast<double>(allocations) / static_cast<double>(state.iterations());
  if (perIteration > static_cast<double>(budget)) {
    state.SkipWithError(("allocations per iteration " + std::to_string(perIteration) +
                         " exceed the budget of " + std::to_string(budget))
                            .c_str());
  }
}

// Fails the run when the plug-in wrote to the host log during it: every
// benchmark runs a path without failures.
inline void expectNoLogLines(benchmark::State& state, const BenchHostLog& log,
                             std::uint64_t linesBefore) {
  if (log.lines() != linesBefore) {
    state.SkipWithError(("the plug-in logged: " + log.lastLine()).c_str());
  }
}

// Runs check and release of its output on instance, as a host does for each
// detection. Returns the allocations made, or fails the run. Never inlined,
// so that a profiler can take this loop alone (valgrind --toggle-collect).
[[gnu::noinline]] inline std::uint64_t runChecks(benchmark::State& state, const BenchHostLog& log,
                               fp::InstanceV1& instance, fp::InputV1& input) {
  const std::uint64_t linesBefore = log.lines();
  bool everyVerdictSet = true;
  const AllocationCounter allocations;
  for (auto _ : state) {
    fp::OutputV1* output = nullptr;
    if (instance.check(&input, &output) != fp::Status::Success) {
      state.SkipWithError(("check failed: " + log.lastLine()).c_str());
      break;
    }
    everyVerdictSet &= output->isFalsePositive();
    output->release();
  }
  const std::uint64_t count = allocations.count();
  reportAllocations(state, count);
  expectNoLogLines(state, log, linesBefore);
  if (!everyVerdictSet) state.SkipWithError("the SDK did not receive a complete record");
  return count;
}

// Runs what the plug-in must at least do per check: build the record from
// the stored values, make one output object, call the SDK. Returns the
// allocations made. Never inlined, like runChecks.
[[gnu::noinline]] inline std::uint64_t runDirectChecks(benchmark::State& state, fpcsdk::FPCInstance& sdk,
                                     const SampleDetection& sample, const std::string& path,
                                     std::uint64_t size) {
  bool everyVerdictSet = true;
  const AllocationCounter allocations;
  for (auto _ : state) {
    fpcsdk::DetectionInput record;
    buildRecord(sample, path, size, record);
    const auto output = std::make_unique<DirectOutput>();
    if (sdk.checkDetection(record, &output->isFalsePositive) != 0) {
      state.SkipWithError("checkDetection failed");
      break;
    }
    everyVerdictSet &= output->isFalsePositive;
  }
  const std::uint64_t count = allocations.count();
  reportAllocations(state, count);
  if (!everyVerdictSet) state.SkipWithError("the SDK did not receive a complete record");
  return count;
}

// The allocations of one direct check's record and output.
inline std::uint64_t directCheckAllocations(const SampleDetection& sample,
                                            const std::string& path, std::uint64_t size) {
  const AllocationCounter allocations;
  {
    fpcsdk::DetectionInput record;
    buildRecord(sample, path, size, record);
    const auto output = std::make_unique<DirectOutput>();
    benchmark::DoNotOptimize(output.get());
  }
  return allocations.count();
}

// Runs body, turning a setup failure into a failed run.
template <class Body>
void guardedBenchmark(benchmark::State& state, Body&& body) {
  try {
    body();
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
  }
}

}  // namespace kesp::bench
