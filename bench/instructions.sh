#!/usr/bin/env bash
# The performance gate: instructions per operation, counted by callgrind, set
# against bench/instructions-baseline.txt. Instruction counts do not swing
# with the machine's load as times do, so a small regression shows.
#
#   bench/instructions.sh              count, compare; exit 1 when a figure is
#                                      more than 3% above its baseline
#   bench/instructions.sh --update     count and rewrite the baseline
#   bench/instructions.sh --self-test  count and compare as above, then check
#                                      that the comparison fails when any one
#                                      baseline figure is lowered by 10%
#
# Each figure is the user-space instructions of two runs, of N and 2N
# operations, differenced and divided by N: loading, start-up and the exit
# drop out. The figures:
#   memory-check, file-check    one check through the loaded plug-in library
#                               (bench/count_checks.cpp) with the benchmark SDK
#                               that answers at once: the plug-in's own work
#   memory-check-checked        memory-check through the checked build
#                               (libvfpcchecker_checked.so)
#   memory-check-reference-sdk, the same with the reference SDK deciding
#   file-check-reference-sdk    offline from its rules (file:vfpcsdk.rules)
#   batch-request               one request of fpcheck batch --jobs 1, offline
#
# Builds Release at -O2 with the tools, as the release packages are, into
# build/instructions (KESP_INSTRUCTIONS_BUILD names another directory). See
# docs/BENCHMARKS.md, "The instruction-count gate".
set -euo pipefail
cd "$(dirname "$0")/.."

baseline=bench/instructions-baseline.txt
build=${KESP_INSTRUCTIONS_BUILD:-build/instructions}
# Per cent above the baseline that fails the gate.
limit=3

mode=gate
case "${1-}" in
  "") ;;
  --update) mode=update ;;
  --self-test) mode=self-test ;;
  *)
    echo "usage: bench/instructions.sh [--update | --self-test]" >&2
    exit 2
    ;;
esac
command -v valgrind >/dev/null || { echo "instructions.sh: needs valgrind (apt-get install valgrind)" >&2; exit 2; }

echo "== Building Release (-O2) into $build: the plug-in, the SDKs, fpcheck, kesp_count_checks"
cmake --preset bench -B "$build" -DKESP_BUILD_TOOLS=ON -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null
cmake --build "$build" -j2 --target kesp_count_checks vfpcchecker_checked reference_sdk fpcheck >/dev/null

# The runs see the same paths, of the same length, wherever the build lies:
# path lengths move strings and the stack, and with them the instructions of
# copies and conversions. So the programs run from a copy under a directory
# whose name has a fixed length, from there, in an environment of their own.
work=$(mktemp -d /tmp/kesp-instructions.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin/bench-sdk"
cp "$build/bin/libvfpcchecker.so" "$build/bin/libvfpcchecker_checked.so" "$build/bin/kesp_count_checks" "$build/bin/fpcheck" "$work/bin/"
cp -r "$build/bin/bench-sdk/instant" "$work/bin/bench-sdk/"
cp -r "$build/bin/reference-sdk" "$work/bin/"
cp examples/files/invoice.txt "$work/"

# instructions FILE PROGRAM ARGUMENTS...: all user-space instructions of one
# run of the program, its standard input from FILE; run_env holds further
# NAME=value settings of its environment.
run_env=()
instructions() {
  local input=$1
  shift
  if ! (cd "$work" && env -i PATH=/usr/bin:/bin LC_ALL=C HOME="$work" TMPDIR="$work" \
      ${run_env[@]+"${run_env[@]}"} valgrind --quiet --tool=callgrind --callgrind-out-file="$work/callgrind.out" "$@" \
      <"$input" >"$work/run.out" 2>"$work/run.err"); then
    echo "instructions.sh: this run failed: $*" >&2
    cat "$work/run.err" >&2
    exit 2
  fi
  sed -n 's/^totals: //p' "$work/callgrind.out"
}

# per_operation NAME N PAIRS COMMAND...: the instructions of one operation,
# from runs of N and 2N operations; @N@ in COMMAND stands for the count, and
# the runs read $work/input.<count> when it exists. With PAIRS > 1, the median
# of that many pairs of runs.
measured=$work/measured.txt
: >"$measured"
per_operation() {
  local name=$1 n=$2 pairs=$3
  shift 3
  local figures=()
  for ((pair = 0; pair < pairs; pair++)); do
    local counts=()
    for count in "$n" $((2 * n)); do
      local input=$work/input.$count
      [ -e "$input" ] || input=/dev/null
      counts+=("$(instructions "$input" "${@//@N@/$count}")")
    done
    figures+=($(( (counts[1] - counts[0] + n / 2) / n )))
  done
  local sorted
  sorted=$(printf '%s\n' "${figures[@]}" | sort -n)
  echo "$name $(sed -n "$(( pairs / 2 + 1 ))p" <<<"$sorted")" >>"$measured"
  if [ "$pairs" -gt 1 ]; then
    echo "$name $(tail -n 1 "$measured" | cut -d' ' -f2) (median of" $sorted")"
  else
    tail -n 1 "$measured"
  fi
}

# The sample request of the batch: a file check that the first rule decides.
request='{"path": "invoice.txt", "detection": "Trojan.Script.Phish", "hash": "8047240c6b430f443ce9ea191bd18bc8c33af873cb0b8a0822be814303d1db03"}'
batch_requests=1000
for count in $batch_requests $((2 * batch_requests)); do
  awk -v line="$request" -v n="$count" 'BEGIN { for (i = 0; i < n; i++) print line }' \
    >"$work/input.$count"
done

sdk_instant=$work/bin/bench-sdk/instant
sdk_reference=$work/bin/reference-sdk
echo "== Counting (name, instructions per operation)"
per_operation memory-check 5000 1 bin/kesp_count_checks memory @N@ "$sdk_instant"
per_operation file-check 5000 1 bin/kesp_count_checks file @N@ "$sdk_instant"
# The checked build, which must cost at most twice the release library.
run_env=(KESP_BENCH_PLUGIN=vfpcchecker_checked)
per_operation memory-check-checked 5000 1 bin/kesp_count_checks memory @N@ "$sdk_instant"
run_env=()
per_operation memory-check-reference-sdk 5000 1 \
  bin/kesp_count_checks memory @N@ "$sdk_reference" file:vfpcsdk.rules
per_operation file-check-reference-sdk 5000 1 \
  bin/kesp_count_checks file @N@ "$sdk_reference" file:vfpcsdk.rules
per_operation batch-request $batch_requests 3 bin/fpcheck batch --sdk-dir "$sdk_reference" --jobs 1

# compare MEASURED BASELINE: prints each figure with its ratio to the
# baseline; status 1 when one is more than $limit% above it, or when the two
# files do not name the same figures.
compare() {
  awk -v limit="$limit" '
    FILENAME == ARGV[1] { base[$1] = $2; next }
    {
      seen[$1] = 1
      if (!($1 in base)) {
        printf "%-28s %12d %12s %7s  no baseline: run bench/instructions.sh --update\n", $1, $2, "-", "-"
        failed = 1
        next
      }
      ratio = $2 / base[$1]
      verdict = "ok"
      if (ratio > 1 + limit / 100) { verdict = sprintf("FAILED: more than %d%% above the baseline", limit); failed = 1 }
      else if (ratio < 1 - limit / 100) verdict = "below the baseline: update it (--update)"
      printf "%-28s %12d %12d %7.3f  %s\n", $1, $2, base[$1], ratio, verdict
    }
    END {
      for (name in base) if (!(name in seen)) {
        printf "%-28s %12s %12d %7s  not measured: update the baseline\n", name, "-", base[name], "-"
        failed = 1
      }
      exit failed
    }' "$2" "$1"
}

echo "== Against $baseline (fails above $limit%)"
printf '%-28s %12s %12s %7s\n' figure instructions baseline ratio
if [ "$mode" = update ]; then
  [ -e "$baseline" ] && compare "$measured" "$baseline" || true
  cp "$measured" "$baseline"
  echo "== $baseline rewritten"
  exit 0
fi
status=0
compare "$measured" "$baseline" || status=1

if [ "$mode" = self-test ]; then
  echo "== Self-test: each baseline figure lowered by 10% must fail the gate"
  while read -r name _; do
    awk -v name="$name" '$1 == name { $2 = int($2 * 0.9) } { print }' "$baseline" >"$work/lowered.txt"
    if compare "$measured" "$work/lowered.txt" >"$work/lowered.out"; then
      echo "$name lowered by 10%: the gate passed; it must fail"
      status=1
    elif grep -q "^$name .*FAILED" "$work/lowered.out"; then
      echo "$name lowered by 10%: the gate fails, as it must"
    else
      echo "$name lowered by 10%: the gate fails, but not for $name"
      cat "$work/lowered.out"
      status=1
    fi
  done <"$baseline"
fi
exit $status
