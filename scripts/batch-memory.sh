#!/usr/bin/env bash
# fpcheck batch's peak memory and rate on a long input, side by side with the
# batch of another revision (default: main), in one run:
#
#   scripts/batch-memory.sh [BASE_REVISION [REVISION]]
#
# REVISION is measured against BASE_REVISION; without it, this working tree.
# Both are built the same way (Release, -O2 as the packages are, no tests)
# into build/batch-memory/ (BATCH_WORK=<dir> for elsewhere). The input is the
# examples' requests repeated to BATCH_REQUESTS lines (1000000); each side
# checks it BATCH_RUNS times (3), alternating, with BATCH_JOBS jobs (2),
# under GNU time (`apt-get install time`) for the peak resident memory.
# Figures and method: docs/BENCHMARKS.md.
set -euo pipefail
cd "$(dirname "$0")/.."

base_revision=${1:-main}
revision=${2:-}
requests=${BATCH_REQUESTS:-1000000}
jobs=${BATCH_JOBS:-2}
runs=${BATCH_RUNS:-3}
work=${BATCH_WORK:-build/batch-memory}
if [ ! -x /usr/bin/time ]; then
  echo "batch-memory.sh needs GNU time as /usr/bin/time: apt-get install time" >&2
  exit 1
fi

build() {  # source directory, build directory
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
    -DKESP_BUILD_TESTS=OFF >"$2.configure.log"
  cmake --build "$2" --target fpcheck -j2 >"$2.build.log"
}

mkdir -p "$work"
work=$(cd "$work" && pwd)
unpack() {  # revision, directory
  rm -rf "$2"
  mkdir -p "$2"
  git archive "$1" | tar -x -C "$2"
}

echo "Building fpcheck of $base_revision and of ${revision:-this tree} (Release) in $work"
unpack "$base_revision" "$work/base-source"
build "$work/base-source" "$work/base"
if [ -n "$revision" ]; then
  unpack "$revision" "$work/current-source"
  build "$work/current-source" "$work/current"
else
  build . "$work/current"
fi

# The requests name the example files relative to the top of the tree.
awk -v count="$requests" '{ line[NR] = $0 } END { for (i = 0; i < count; i++) print line[i % NR + 1] }' \
  examples/requests.jsonl >"$work/requests.jsonl"

printf '%-8s %3s %14s %9s %16s %18s\n' side run "peak RSS MiB" "wall s" "requests/s wall" "its own rate"
for run in $(seq 1 "$runs"); do
  for side in base current; do
    bin="$work/$side/bin"
    /usr/bin/time -f '%M %e' -o "$work/$side.time" \
      "$bin/fpcheck" batch --sdk-dir "$bin/reference-sdk" --jobs "$jobs" \
      <"$work/requests.jsonl" >"$work/$side.out" 2>"$work/$side.err"
    read -r kib seconds <"$work/$side.time"
    lines=$(wc -l <"$work/$side.out")
    if [ "$lines" -ne "$requests" ]; then
      echo "$side wrote $lines results for $requests requests:" >&2
      cat "$work/$side.err" >&2
      exit 1
    fi
    # The summary's rate: today's batch times only the checks, after it has
    # read all its input; the streaming batch times everything.
    own=$(sed -n 's/.* \([0-9.]*\) checks per second.*/\1/p' "$work/$side.err")
    awk -v side="$side" -v run="$run" -v kib="$kib" -v s="$seconds" -v n="$requests" -v own="$own" \
      'BEGIN { printf "%-8s %3d %14.1f %9.2f %16.0f %18s\n", side, run, kib / 1024, s, n / s, own }'
  done
done
