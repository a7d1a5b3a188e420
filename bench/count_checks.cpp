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
#include <stdexcept>
#include <string>
#include <string_view>

#include "bench/support/bench_host.h"

namespace {

using namespace kesp::bench;

constexpr std::uint64_t kSize = 4096;
alignas(64) const char kBuffer[kSize] = {};

// Setup failures and failed checks unwind, so that the plug-in's objects are
// released and the sample file removed as after a good run.
[[noreturn]] void fail(const BenchHost& host, const std::string& what) {
  throw std::runtime_error(what + " (host log: " + host.log.lastLine() + ")");
}

HostPtr<fp::CheckerV1> loadedChecker(BenchHost& host, const char* sdkDirectory,
                                     const char* cloudUrl) {
  HostPtr<fp::CheckerV1> checker(host.plugin->getChecker());
  if (!checker) fail(host, "getChecker returned null");
  fp::GlobalConfigV1& config = *checker->getConfig();
  config.setApiVersion(2, 0);
  if (config.setBaseDirectory(sdkDirectory) != fp::Status::Success) {
    fail(host, "setBaseDirectory refused");
  }
  const kesp::plugins::GenericData url{0, kesp::plugins::GenericDataString,
                                       reinterpret_cast<std::uint64_t>(cloudUrl)};
  if (cloudUrl != nullptr && config.setCustomOption(&url) != fp::Status::Success) {
    fail(host, "the cloud URL refused");
  }
  if (checker->load() != fp::Status::Success) fail(host, "load failed");
  return checker;
}

void run(bool memory, unsigned long count, const char* sdkDirectory, const char* cloudUrl) {
  const SampleFile file(kSize);
  BenchHost host;
  const HostPtr<fp::CheckerV1> checker = loadedChecker(host, sdkDirectory, cloudUrl);
  {
    const HostPtr<fp::InstanceV1> instance = host.instance(*checker);
    const HostPtr<fp::InputV1> input(instance->createInput(memory ? 1 : 0));
    SampleDetection sample;
    // Of the same length as the benchmarks' name; the rule "fp Adware.Toolbar.*".
    sample.detectionName = "Adware.Toolbar.Generic.Bench.a1b2c3d4e5f";
    const bool described =
        input && describeDetection(*input, sample) &&
        (memory ? static_cast<fp::MemoryFileInputV1&>(*input).setBuffer(kBuffer, kSize)
                : input->setPath(file.path().c_str())) == fp::Status::Success;
    if (!described) fail(host, "the input was refused");
    for (unsigned long i = 0; i < count; ++i) {
      fp::OutputV1* output = nullptr;
      if (instance->check(input.get(), &output) != fp::Status::Success) fail(host, "check failed");
      const bool falsePositive = output->isFalsePositive();
      output->release();
      if (!falsePositive) fail(host, "the verdict was not the sample's");
    }
  }
  if (checker->unload() != fp::Status::Success) fail(host, "unload failed");
  if (host.log.lines() != 0) fail(host, "the plug-in wrote to the host log");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view kind = argc > 1 ? argv[1] : "";
  char* end = nullptr;
  const unsigned long count = argc > 2 ? std::strtoul(argv[2], &end, 10) : 0;
  if (argc < 4 || argc > 5 || (kind != "memory" && kind != "file") || count == 0 || *end != '\0') {
    std::fputs("usage: kesp_count_checks memory|file COUNT SDK_DIR [CLOUD_URL]\n", stderr);
    return 2;
  }
  try {
    run(kind == "memory", count, argv[3], argc == 5 ? argv[4] : nullptr);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kesp_count_checks: %s\n", error.what());
    return 1;
  }
}
