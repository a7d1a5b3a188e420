// The floor of a trace line: the one question any implementation has to ask
// the host. Kept apart from the host log's class, which this file must not
// see (see opaque_host_log.h).
#include <benchmark/benchmark.h>

#include "bench/support/opaque_host_log.h"

namespace kesp::bench {
namespace {

void hostIsEnabledFloor(benchmark::State& state) {
  kesp::HostLog& host = opaqueErrorsOnlyHostLog();
  for (auto _ : state) benchmark::DoNotOptimize(host.isEnabled(3, 5, 0));
}
BENCHMARK(hostIsEnabledFloor)->Name("Trace/floor_host_isEnabled");

}  // namespace
}  // namespace kesp::bench
