#!/usr/bin/env bash
# Every test that the guides (docs/INTEGRATION.md, docs/SDK.md) name after a
# claim must exist in the tree: a GoogleTest `Suite.Name` (or
# `Prefix/Suite.Name/*` for a parameterised one, `Prefix/Suite.Name/Row` for
# one row of its table) defined under tests/, or a ctest program added by a
# CMakeLists.txt. That they pass is the test run's business.
set -euo pipefail
cd "$(dirname "$0")/.."
missing=0
checked=0

for guide in docs/INTEGRATION.md docs/SDK.md; do

while IFS= read -r name; do
  checked=$((checked + 1))
  if [[ "$name" == */* ]]; then
    prefix=${name%%/*}
    rest=${name#*/}
    suite=${rest%%.*}
    test=${rest#*.}
    test=${test%%/*}
    grep -rqE "INSTANTIATE_TEST_SUITE_P\(\s*${prefix}\s*,\s*${suite}\b" tests &&
      grep -rqE "TEST_P\(\s*${suite}\s*,\s*${test}\s*\)" tests && continue
  else
    suite=${name%%.*}
    test=${name#*.}
    grep -rqE "TEST(_F|_P)?\(\s*${suite}\s*,\s*${test}\s*\)" tests && continue
  fi
  echo "check-guide: ${guide} names a test that does not exist: ${name}" >&2
  missing=$((missing + 1))
done < <(grep -oE '`([A-Za-z]+/)?[A-Z][A-Za-z0-9]*\.[A-Z][A-Za-z0-9]*(/\*)?`' "$guide" | tr -d '`' | sort -u)

# One row of a parameterised table, `Prefix/Suite.Name/Row`: the table and
# the row's name in it.
while IFS= read -r name; do
  checked=$((checked + 1))
  prefix=${name%%/*}
  rest=${name#*/}
  suite=${rest%%.*}
  test=${rest#*.}
  row=${test#*/}
  test=${test%%/*}
  grep -rqE "INSTANTIATE_TEST_SUITE_P\(\s*${prefix}\s*,\s*${suite}\b" tests &&
    grep -rqE "TEST_P\(\s*${suite}\s*,\s*${test}\s*\)" tests &&
    grep -rqF "{\"${row}\"," tests && continue
  echo "check-guide: ${guide} names a table row that does not exist: ${name}" >&2
  missing=$((missing + 1))
done < <(grep -oE '`[A-Za-z]+/[A-Z][A-Za-z0-9]*\.[A-Z][A-Za-z0-9]*/[A-Z][A-Za-z0-9]*`' "$guide" | tr -d '`' | sort -u)

while IFS= read -r program; do
  checked=$((checked + 1))
  grep -rqE "(add_test\(NAME|kesp_add_(host_)?test\()\s*${program}\b" --include=CMakeLists.txt . && continue
  echo "check-guide: ${guide} names a ctest program that does not exist: ${program}" >&2
  missing=$((missing + 1))
done < <(grep -oE 'ctest( program)? `[a-z_]+`' "$guide" | grep -oE '`[a-z_]+`' | tr -d '`' | sort -u)

done

if [ "$checked" -eq 0 ]; then
  echo "check-guide: found no test names in the guides" >&2
  exit 1
fi
[ "$missing" -eq 0 ] || exit 1
echo "check-guide: all ${checked} tests named in docs/INTEGRATION.md and docs/SDK.md exist"
