#!/usr/bin/env bash
# Builds the benchmarks (the bench preset) and runs every one of them with
# repetitions, in random order: Google Benchmark's table and each figure
# against its floor on the terminal, every repetition as JSON in
# <build>/bench-results.json. Arguments go on to the benchmark program (for
# example --benchmark_filter=MemoryCheck). KESP_BENCH_BUILD names another
# build directory.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${KESP_BENCH_BUILD:-build/bench}
cmake --preset bench -B "$build" >/dev/null
cmake --build "$build" -j2 >/dev/null
exec "$build/bin/kesp_bench" \
  --benchmark_repetitions=10 \
  --benchmark_min_time=0.2 \
  --benchmark_enable_random_interleaving=true \
  --benchmark_display_aggregates_only=true \
  --benchmark_out="$build/bench-results.json" \
  --benchmark_out_format=json \
  "$@"
