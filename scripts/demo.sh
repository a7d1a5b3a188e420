#!/usr/bin/env bash
# The first command to run: builds what the demo needs with the linux preset
# (the plug-in, the reference checker SDK and fpcheck, into build/linux), then
# checks the examples in examples/ and prints the verdicts.
set -euo pipefail
cd "$(dirname "$0")/.."

# What a fresh Debian 12 machine lacks for this build. The linux preset also
# configures the tests, so GoogleTest is needed even for the demo.
missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
command -v make >/dev/null 2>&1 || missing+=(make)
[ -f /usr/include/CLI/CLI.hpp ] || missing+=(libcli11-dev)
[ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "== Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "demo.sh: first install: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
fi

echo "== Building the plug-in, the reference SDK and fpcheck (build/linux)"
[ -f build/linux/CMakeCache.txt ] || cmake --preset linux >/dev/null
# fpcheck depends on the plug-in and the reference SDK, so this builds all three.
cmake --build --preset linux --target fpcheck >/dev/null

bin=build/linux/bin
sdk=$bin/reference-sdk
fpcheck=$bin/fpcheck

echo
echo "== The plug-in:  $fpcheck info"
"$fpcheck" info

echo
echo "== The rules of the reference SDK ($sdk/vfpcsdk.rules, from examples/vfpcsdk.rules)"
grep -v -E '^[[:space:]]*(#|$)' "$sdk/vfpcsdk.rules" | sed 's/^/    /'

echo
echo "== One check:  $fpcheck check --sdk-dir $sdk --detection Adware.Toolbar.Search examples/files/toolbar-setup.txt"
"$fpcheck" check --sdk-dir "$sdk" --detection Adware.Toolbar.Search examples/files/toolbar-setup.txt

echo
echo "== The example requests:  $fpcheck batch --sdk-dir $sdk < examples/requests.jsonl"
# The summary (standard error) is shown after the results, not before them.
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
status=0
results=$("$fpcheck" batch --sdk-dir "$sdk" < examples/requests.jsonl 2>"$summary") || status=$?
printf '%s\n' "$results"
cat "$summary"

echo
echo "== The verdicts"
printf '%s\n' "$results" |
  sed -E -e 's/^\{"path":"([^"]*)","input":"([^"]*)","detection":"([^"]*)","falsePositive":(true|false|null).*$/\4|\3|\1 (\2)/' \
    -e 's/^true\|/false positive|/' -e 's/^false\|/detection stands|/' -e 's/^null\|/check failed|/' |
  awk -F'|' '{ printf "    %-17s %-25s %s\n", $1, $2, $3 }'
exit "$status"
