// Load and unload of the checker with the benchmark SDK, and the life of an
// instance: for information, as a host does them once per process or once
// per scanning thread.
#include <benchmark/benchmark.h>

#include "bench/support/bench_checks.h"

namespace kesp::bench {
namespace {

void loadAndUnload(benchmark::State& state) {
  guardedBenchmark(state, [&] {
    BenchHost host;
    const auto checker = host.configuredChecker("instant");
    const std::uint64_t linesBefore = host.log.lines();
    for (auto _ : state) {
      if (checker->load() != fp::Status::Success || checker->unload() != fp::Status::Success) {
        state.SkipWithError(("load or unload failed: " + host.log.lastLine()).c_str());
        break;
      }
    }
    expectNoLogLines(state, host.log, linesBefore);
  });
}
BENCHMARK(loadAndUnload)->Name("Lifecycle/load_unload");

// What load and unload cannot do without: open the library, resolve its two
// exports, create and initialise the SDK object, and the reverse.
void loadAndUnloadFloor(benchmark::State& state) {
  guardedBenchmark(state, [&] {
    const std::string path =
        plx::joinPath({benchSdkDirectory("instant"), plx::sharedLibraryFileName("vfpcsdk")});
    for (auto _ : state) {
      const plx::DynamicLibrary library(path);
      const auto create = library.getFunction<FPCCreateFunction>(kFpcCreateName);
      const auto destroy = library.getFunction<FPCDestroyFunction>(kFpcDestroyName);
      fpcsdk::FPC* fpc = nullptr;
      if (create(nullptr, &fpc) != 0 || fpc->initialize(fpcsdk::FPCConfig{}) != 0 ||
          fpc->setProxy("", "") != 0 || fpc->uninitialize() != 0) {
        state.SkipWithError("the benchmark SDK refused to start");
        break;
      }
      destroy(fpc);
    }
  });
}
BENCHMARK(loadAndUnloadFloor)->Name("Lifecycle/floor_load_unload");

void createAndReleaseInstance(benchmark::State& state) {
  guardedBenchmark(state, [&] {
    BenchHost host;
    LoadedChecker loaded(host, "instant");
    const std::uint64_t linesBefore = host.log.lines();
    for (auto _ : state) {
      fp::InstanceV1* instance = nullptr;
      if (loaded.checker().createInstance(&instance) != fp::Status::Success) {
        state.SkipWithError(("createInstance failed: " + host.log.lastLine()).c_str());
        break;
      }
      instance->release();
    }
    expectNoLogLines(state, host.log, linesBefore);
  });
}
BENCHMARK(createAndReleaseInstance)->Name("Lifecycle/create_release_instance");

}  // namespace
}  // namespace kesp::bench
