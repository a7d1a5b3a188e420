// The benchmark program: Google Benchmark's table (and, with
// --benchmark_out, its JSON), then each figure against its floor and target.
#include <benchmark/benchmark.h>

#include <iostream>

#include "bench/support/ratio_reporter.h"

namespace {

using kesp::bench::Comparison;
using Kind = Comparison::Kind;

// What the benchmarks are for: the plug-in's own work per check must stay
// close to the least work any implementation has to do.
const std::vector<Comparison> kComparisons = {
    {"memory check / direct record + SDK call", "MemoryCheck/plugin", "MemoryCheck/floor",
     Kind::TimeRatio, 1.5},
    {"file check / open+fstat+close", "FileCheck/plugin", "FileCheck/floor_open_fstat_close",
     Kind::TimeRatio, 0},
    {"file check / open+fstat+flock+close", "FileCheck/plugin",
     "FileCheck/floor_open_fstat_flock_close", Kind::TimeRatio, 0},
    {"file check / exclusive size + record + SDK", "FileCheck/plugin",
     "FileCheck/floor_exclusive_with_record", Kind::TimeRatio, 1.2},
    {"file check / call-for-call size + record + SDK", "FileCheck/plugin",
     "FileCheck/floor_call_for_call_with_record", Kind::TimeRatio, 1.2},
    {"default fops size / open+fstat+flock+close", "FileCheck/default_fops_size",
     "FileCheck/floor_open_fstat_flock_close", Kind::TimeRatio, 0},
    {"default fops size / +fstat, call for call", "FileCheck/default_fops_size",
     "FileCheck/floor_open_fstat_flock_fstat_close", Kind::TimeRatio, 0},
    {"unwanted trace via getOptions / isEnabled", "Trace/unwanted_getOptions_through_plugin",
     "Trace/floor_host_isEnabled", Kind::TimeRatio, 0},
    {"unwanted text line / isEnabled", "Trace/unwanted_text", "Trace/floor_host_isEnabled",
     Kind::TimeRatio, 0},
    {"unwanted formatted line / isEnabled", "Trace/unwanted_format",
     "Trace/floor_host_isEnabled", Kind::TimeRatio, 0},
    {"wanted formatted line", "Trace/wanted_format", nullptr, Kind::Information, 0},
    {"2 instances, 2 threads / 1 instance, 1 thread", "Parallel/check/real_time/threads:2",
     "Parallel/check/real_time/threads:1", Kind::ThroughputRatio, 1.8},
    {"2 instances, 1 thread / 1 instance, 1 thread",
     "Parallel/check_2_instances_1_thread/real_time", "Parallel/check/real_time/threads:1",
     Kind::ThroughputRatio, 0},
    {"direct SDK, 2 threads / 1 thread", "Parallel/floor/real_time/threads:2",
     "Parallel/floor/real_time/threads:1", Kind::ThroughputRatio, 0},
    {"1 thread: check with work / direct", "Parallel/check/real_time/threads:1",
     "Parallel/floor/real_time/threads:1", Kind::TimeRatio, 0},
    {"load + unload / library + SDK object", "Lifecycle/load_unload",
     "Lifecycle/floor_load_unload", Kind::TimeRatio, 0},
    {"create + release instance", "Lifecycle/create_release_instance", nullptr,
     Kind::Information, 0},
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  kesp::bench::RatioReporter reporter(kComparisons);
  const std::size_t ran = benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (ran == 0) {
    std::cerr << "no benchmark matches the filter\n";
    return 1;
  }
  // A benchmark that fails (a refused check, a log line, an allocation over
  // its budget) fails the program; times never do.
  return reporter.failures().empty() ? 0 : 1;
}
