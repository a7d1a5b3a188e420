#!/usr/bin/env bash
# Builds every preset and runs every test: natively on Linux, under
# AddressSanitizer + UndefinedBehaviorSanitizer, under ThreadSanitizer, as
# the Windows build under Wine, the benchmarks once, the instruction-count
# gate (step "instructions": bench/instructions.sh --self-test), and the
# fuzz target for a minute; then the Linux host tests under valgrind; then
# the release packages (step "package": scripts/check-package.sh). First,
# that every test the integration guide names exists. Fails if any build or
# test fails. Give preset names (and/or "instructions", "package") to run
# only those.
set -euo pipefail
cd "$(dirname "$0")/.."

# The integration guide names only tests that exist.
scripts/check-guide.sh

presets=("$@")
if [ ${#presets[@]} -eq 0 ]; then
  presets=(linux linux-asan linux-tsan windows bench instructions fuzz package)
fi

needs_wine=0
for preset in "${presets[@]}"; do
  [ "$preset" = windows ] && needs_wine=1
  [ "$preset" = package ] && needs_wine=1
done

if [ "$needs_wine" = 1 ]; then
  export WINEDEBUG=-all
  # One persistent Wine server for all Windows tests: a cold Wine start costs
  # seconds, a warm one milliseconds.
  setsid wineserver -p </dev/null >/dev/null 2>&1 &
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
  # Create the Wine prefix once, before tests run in parallel.
  wine cmd /c exit >/dev/null 2>&1 || true
fi

for preset in "${presets[@]}"; do
  [ "$preset" = package ] && continue
  echo "=== ${preset}"
  start=$(date +%s)
  if [ "$preset" = instructions ]; then
    # Instructions per operation against the committed baseline, and that
    # the gate fails when a baseline figure is lowered by 10%.
    bench/instructions.sh --self-test
  else
    cmake --workflow --preset "$preset"
  fi
  echo "=== ${preset}: passed in $(( $(date +%s) - start )) s"
done

# The host tests of the Linux build once more, under valgrind's memcheck.
for preset in "${presets[@]}"; do
  if [ "$preset" = linux ]; then
    echo "=== valgrind"
    start=$(date +%s)
    scripts/valgrind.sh build/linux
    echo "=== valgrind: passed in $(( $(date +%s) - start )) s"
  fi
done

# The release packages, checked from the unpacked archives.
for preset in "${presets[@]}"; do
  if [ "$preset" = package ]; then
    echo "=== package"
    start=$(date +%s)
    scripts/check-package.sh
    echo "=== package: passed in $(( $(date +%s) - start )) s"
  fi
done
