#!/usr/bin/env bash
# Runs the tests that drive the built plug-in as a host does (Linux build)
# under valgrind's memcheck. Any memory error, and any leak that is definite,
# indirect or possible, fails the run. Blocks still reachable at exit are
# not leaks: the runtime and GoogleTest keep some, and a checker SDK that
# refused to shut down is kept alive on purpose, as is what the checked build
# keeps for a lifetime the misuse table breaks.
#
# The allocation-failure test replaces operator new, which memcheck must own
# to follow every block, and the soak test is ThreadSanitizer's; neither runs
# here.
#
# Usage: scripts/valgrind.sh [build directory]   (default: build/linux)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/linux}
programs=(
  plugin_entry_tests
  checker_tests
  checker_release_tests
  sdk_loader_tests
  check_tests
  hardening_sdk_fault_tests
  plugin_library_unload_tests
  checked_misuse_tests
)

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# Two at a time: CI machines have two cores.
run() {
  local program=$1
  if valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect,possible \
      --errors-for-leak-kinds=definite,indirect,possible --error-exitcode=99 \
      --num-callers=40 "$build/bin/$program" --gtest_brief=1 >"$logs/$program.log" 2>&1; then
    echo "valgrind: $program clean"
  else
    echo "valgrind: $program FAILED"
    cat "$logs/$program.log"
    return 1
  fi
}
export -f run
export build logs
printf '%s\n' "${programs[@]}" | xargs -P 2 -I{} bash -c 'run {}'
