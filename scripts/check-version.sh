#!/usr/bin/env bash
# One version everywhere in an unpacked package:
#   scripts/check-version.sh <unpacked prefix> linux|windows <version>
# The CMake package's version file, the README's title, the change log's
# entry, fpcheck --version (its own version, the plug-in's and the reference
# SDK's file version on Windows), the plug-in information (fpcheck info) and,
# on Windows, the DLL's version resource. The Windows programs run under Wine.
set -euo pipefail
prefix=${1:?usage: check-version.sh <prefix> linux|windows <version>}
platform=${2:?usage: check-version.sh <prefix> linux|windows <version>}
version=${3:?usage: check-version.sh <prefix> linux|windows <version>}
docs=$prefix/share/doc/vfpcchecker
failed=0

expect() {  # expect <what> <found> <wanted>
  if [ "$2" = "$3" ]; then
    echo "  ok:   $1: $2"
  else
    echo "check-version: $1 is '$2', not '$3'" >&2
    failed=1
  fi
}

expect "CMake package version" \
  "$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$prefix/lib/cmake/VfpcChecker/VfpcCheckerConfigVersion.cmake")" \
  "$version"
expect "README title" "$(head -n 1 "$prefix/README.md" | grep -oE '[0-9]+(\.[0-9]+){3}$' || true)" "$version"
expect "change log entry" "$(grep -m 1 -oE '^## [0-9.]+' "$docs/CHANGELOG.md" | cut -c4-)" "$version"

if [ "$platform" = linux ]; then
  run() { "$prefix/bin/fpcheck" "$@"; }
else
  export WINEDEBUG=-all
  run() { wine "$prefix/bin/fpcheck.exe" "$@" | tr -d '\r'; }
fi
versions=$(run --version)
expect "fpcheck --version" "$(sed -n 1p <<<"$versions")" "fpcheck $version"
expect "the plug-in's version in fpcheck --version" \
  "$(sed -n 's/^plug-in: .*, version \([0-9.]*\)$/\1/p' <<<"$versions")" "$version"
if [ "$platform" = windows ]; then
  expect "the reference SDK's file version in fpcheck --version" \
    "$(sed -n 's/^checker SDK: .*, file version \([0-9.]*\), .*/\1/p' <<<"$versions")" "$version"
fi
expect "plug-in information" "$(run info | sed -n 's/^version: *//p')" "$version"

if [ "$platform" = windows ]; then
  # The resource's texts are UTF-16: FileVersion and ProductVersion.
  count=$(strings -el "$prefix/bin/vfpcchecker.dll" | grep -cxF "$version" || true)
  expect "version texts in the DLL's resource" "$count" 2
fi
[ "$failed" -eq 0 ] || exit 1
echo "check-version: $version everywhere in the $platform package"
