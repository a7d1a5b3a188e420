// A fixed number of checks through the loaded plug-in library, as a host
// makes them, for bench/instructions.sh: that script counts the instructions
// of two runs of different lengths under callgrind, so that loading and
// everything else but the checks drops out of their difference.
//
//   kesp_count_checks memory|file COUNT SDK_DIR [CLOUD_URL]
//
// SDK_DIR is the checker SDK's base directory; CLOUD_URL, when given, is set
// as option 0 (the cloud URL). The sample detection is one that the example
// rules find a false positive, and one that the benchmark SDK finds complete.
// Every check must succeed with that verdict and nothing may reach the host
// log, or the exit status is 1: a count is never taken of a path that failed.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "bench/support/bench_host.h"

namespace {

using namespace kesp::bench;

constexpr std::uint64_t kSize = 4096;
alignas(64) const char kBuffer[kSize] = {};

struct Arguments {
  bool memory = false;
  unsigned long count = 0;
  const char* sdkDirectory = nullptr;
  const char* cloudUrl = nullptr;
};

bool parse(int argc, char** argv, Arguments& arguments) {
  if (argc < 4 || argc > 5) return false;
  const std::string_view kind = argv[1];
  if (kind != "memory" && kind != "file") return false;
  arguments.memory = kind == "memory";
  char* end = nullptr;
  arguments.count = std::strtoul(argv[2], &end, 10);
  if (end == argv[2] || *end != '\0' || arguments.count == 0) return false;
  arguments.sdkDirectory = argv[3];
  arguments.cloudUrl = argc == 5 ? argv[4] : nullptr;
  return true;
}

[[noreturn]] void fail(const BenchHost& host, const std::string& what) {
  std::fprintf(stderr, "kesp_count_checks: %s (host log: %s)\n", what.c_str(),
               host.log.lastLine().c_str());
  std::exit(1);
}

HostPtr<fp::CheckerV1> loadedChecker(BenchHost& host, const Arguments& arguments) {
  HostPtr<fp::CheckerV1> checker(host.plugin->getChecker());
  if (!checker) fail(host, "getChecker returned null");
  fp::GlobalConfigV1& config = *checker->getConfig();
  config.setApiVersion(2, 0);
  if (config.setBaseDirectory(arguments.sdkDirectory) != fp::Status::Success) {
    fail(host, "setBaseDirectory refused");
  }
  if (arguments.cloudUrl != nullptr) {
    const kesp::plugins::GenericData url{0, kesp::plugins::GenericDataString,
                                         reinterpret_cast<std::uint64_t>(arguments.cloudUrl)};
    if (config.setCustomOption(&url) != fp::Status::Success) fail(host, "the cloud URL refused");
  }
  if (checker->load() != fp::Status::Success) fail(host, "load failed");
  return checker;
}

int run(const Arguments& arguments) {
  const SampleFile file(kSize);
  BenchHost host;
  const HostPtr<fp::CheckerV1> checker = loadedChecker(host, arguments);
  {
    const HostPtr<fp::InstanceV1> instance = host.instance(*checker);
    const HostPtr<fp::InputV1> input(instance->createInput(arguments.memory ? 1 : 0));
    SampleDetection sample;
    // Of the same length as the benchmarks' name; the rule "fp Adware.Toolbar.*".
    sample.detectionName = "Adware.Toolbar.Generic.Bench.a1b2c3d4e5f";
    const bool described =
        input && describeDetection(*input, sample) &&
        (arguments.memory
             ? static_cast<fp::MemoryFileInputV1&>(*input).setBuffer(kBuffer, kSize)
             : input->setPath(file.path().c_str())) == fp::Status::Success;
    if (!described) fail(host, "the input was refused");
    for (unsigned long i = 0; i < arguments.count; ++i) {
      fp::OutputV1* output = nullptr;
      if (instance->check(input.get(), &output) != fp::Status::Success) fail(host, "check failed");
      const bool falsePositive = output->isFalsePositive();
      output->release();
      if (!falsePositive) fail(host, "the verdict was not the sample's");
    }
  }
  if (checker->unload() != fp::Status::Success) fail(host, "unload failed");
  if (host.log.lines() != 0) fail(host, "the plug-in wrote to the host log");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  if (!parse(argc, argv, arguments)) {
    std::fputs("usage: kesp_count_checks memory|file COUNT SDK_DIR [CLOUD_URL]\n", stderr);
    return 2;
  }
  try {
    return run(arguments);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kesp_count_checks: %s\n", error.what());
    return 1;
  }
}
