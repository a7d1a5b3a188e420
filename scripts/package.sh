#!/usr/bin/env bash
# Builds the release packages a host vendor receives, into build/package/:
#   vfpcchecker-<version>-linux-x86_64.tar.gz   (package-linux preset)
#   vfpcchecker-<version>-windows-x64.zip       (package-windows preset, mingw-w64)
#   SHA256SUMS                                  the archives' checksums
# Each archive unpacks into a prefix and holds a SHA256SUMS of its own files.
# Release builds, hardened, stripped (debug information beside each binary),
# without the tests.
#
# The Windows binaries are signed with Authenticode when KESP_SIGN_KEY and
# KESP_SIGN_CERT name the signing key and certificate (README: "Signing");
# without them the package is unsigned, and says so.
#
#   scripts/package.sh [linux|windows]...     (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."

platforms=("$@")
if [ ${#platforms[@]} -eq 0 ]; then
  platforms=(linux windows)
fi

version=$(sed -n 's/^project(vfpcchecker VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
out=build/package
archives=()
for platform in "${platforms[@]}"; do
  case "$platform" in
    linux) archive=vfpcchecker-${version}-linux-x86_64.tar.gz ;;
    windows) archive=vfpcchecker-${version}-windows-x64.zip ;;
    *) echo "package.sh: unknown platform '$platform' (linux or windows)" >&2; exit 2 ;;
  esac
  echo "=== package-${platform}"
  if [ "$platform" = windows ]; then
    if [ -n "${KESP_SIGN_KEY:-}" ] && [ -n "${KESP_SIGN_CERT:-}" ]; then
      echo "package.sh: signing the Windows binaries with $KESP_SIGN_CERT"
    elif [ -n "${KESP_SIGN_KEY:-}${KESP_SIGN_CERT:-}" ]; then
      echo "package.sh: set both KESP_SIGN_KEY and KESP_SIGN_CERT, or neither" >&2
      exit 2
    else
      echo "package.sh: KESP_SIGN_KEY and KESP_SIGN_CERT are not set:" \
           "the Windows binaries are NOT SIGNED (a development package)"
    fi
  fi
  rm -f "$out/$archive"
  cmake --workflow --preset "package-${platform}"
  [ -f "$out/$archive" ] || { echo "package.sh: $out/$archive was not made" >&2; exit 1; }
  archives+=("$archive")
done

(cd "$out" && sha256sum "${archives[@]}" > SHA256SUMS && cat SHA256SUMS)
