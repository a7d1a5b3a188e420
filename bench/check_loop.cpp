// A fixed number of checks through the plug-in library, for callgrind:
//
//   valgrind --tool=callgrind --toggle-collect='*checkLoop*' kesp_check_loop 20000
//
// counts the instructions of that many checks of the memory benchmark's
// detection (check, verdict, release of the output, as runChecks does), so
// instructions per check is the total over the count. KESP_BENCH_PLUGIN
// names another library beside the program (vfpcchecker_checked), which the
// benchmarks cannot time: its extra allocation per check fails their budget.
#include <cstdlib>
#include <exception>
#include <iostream>

#include "bench/support/bench_host.h"

namespace {

using namespace kesp::bench;

[[gnu::noinline]] bool checkLoop(fp::InstanceV1& instance, fp::InputV1& input, long checks) {
  bool everyVerdictSet = true;
  for (long i = 0; i < checks; ++i) {
    fp::OutputV1* output = nullptr;
    if (instance.check(&input, &output) != fp::Status::Success) return false;
    everyVerdictSet &= output->isFalsePositive();
    output->release();
  }
  return everyVerdictSet;
}

}  // namespace

int main(int argc, char** argv) try {
  const long checks = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
  static const char kBuffer[4096] = {};
  BenchHost host;
  LoadedChecker loaded(host, "instant");
  const auto instance = host.instance(loaded.checker());
  const HostPtr<fp::MemoryFileInputV1> input(
      static_cast<fp::MemoryFileInputV1*>(instance->createInput(1)));
  if (!input || !describeDetection(*input, SampleDetection{}) ||
      input->setBuffer(kBuffer, sizeof kBuffer) != fp::Status::Success ||
      !checkLoop(*instance, *input, checks)) {
    std::cerr << "check loop failed: " << host.log.lastLine() << "\n";
    return 1;
  }
  return 0;
} catch (const std::exception& error) {
  std::cerr << error.what() << "\n";
  return 1;
}
