// Checks on separate instances in parallel. The SDK stand-in does about a
// microsecond of work per check, as the host's threads would each wait on
// their own SDK instance; the plug-in must add nothing that two threads
// share, so that two threads do close to twice the checks of one.
#include <benchmark/benchmark.h>

#include <stdexcept>

#include "bench/support/bench_checks.h"

namespace kesp::bench {
namespace {

constexpr std::uint64_t kBufferSize = 4096;
alignas(64) const char kBuffer[kBufferSize] = {};

// One plug-in object and one loaded checker for every thread of every
// parallel benchmark, as a host has one checker for its scanning threads.
struct SharedChecker {
  BenchHost host;
  LoadedChecker loaded{host, "work"};
};

SharedChecker& sharedChecker() {
  static SharedChecker shared;
  return shared;
}

HostPtr<fp::MemoryFileInputV1> memoryInput(BenchHost& host, fp::InstanceV1& instance,
                                           const SampleDetection& sample) {
  HostPtr<fp::MemoryFileInputV1> input(
      static_cast<fp::MemoryFileInputV1*>(instance.createInput(1)));
  if (!input || !describeDetection(*input, sample) ||
      input->setBuffer(kBuffer, kBufferSize) != fp::Status::Success) {
    throw std::runtime_error("memory input refused: " + host.log.lastLine());
  }
  return input;
}

// Each thread checks on an instance of its own.
void checksOnOwnInstance(benchmark::State& state) {
  guardedBenchmark(state, [&] {
    SharedChecker& shared = sharedChecker();
    const auto instance = shared.host.instance(shared.loaded.checker());
    const auto input = memoryInput(shared.host, *instance, SampleDetection{});
    runChecks(state, shared.host.log, *instance, *input);
    state.SetItemsProcessed(state.iterations());
  });
}
BENCHMARK(checksOnOwnInstance)->Name("Parallel/check")->Threads(1)->Threads(2)->UseRealTime();

// One thread taking turns on two instances: what a second instance costs by
// itself, without a second thread.
void checksAlternatingTwoInstances(benchmark::State& state) {
  guardedBenchmark(state, [&] {
    SharedChecker& shared = sharedChecker();
    const auto first = shared.host.instance(shared.loaded.checker());
    const auto second = shared.host.instance(shared.loaded.checker());
    const auto input = memoryInput(shared.host, *first, SampleDetection{});
    const std::uint64_t linesBefore = shared.host.log.lines();
    const AllocationCounter allocations;
    bool turn = false;
    for (auto _ : state) {
      fp::InstanceV1& instance = turn ? *second : *first;
      turn = !turn;
      fp::OutputV1* output = nullptr;
      if (instance.check(input.get(), &output) != fp::Status::Success) {
        state.SkipWithError(("check failed: " + shared.host.log.lastLine()).c_str());
        break;
      }
      output->release();
    }
    reportAllocations(state, allocations.count());
    expectNoLogLines(state, shared.host.log, linesBefore);
    state.SetItemsProcessed(state.iterations());
  });
}
BENCHMARK(checksAlternatingTwoInstances)->Name("Parallel/check_2_instances_1_thread")->UseRealTime();

// The same work written directly against the SDK, per thread: the scaling
// that this machine allows at all.
void directChecksInParallel(benchmark::State& state) {
  guardedBenchmark(state, [&] {
    DirectSdk sdk("work");
    runDirectChecks(state, sdk.instance(), SampleDetection{}, "", kBufferSize);
    state.SetItemsProcessed(state.iterations());
  });
}
BENCHMARK(directChecksInParallel)->Name("Parallel/floor")->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
}  // namespace kesp::bench
