#!/usr/bin/env bash
# Builds the release packages a host vendor receives, into build/package/:
#   vfpcchecker-<version>-linux-x86_64.tar.gz   (package-linux preset)
#   vfpcchecker-<version>-windows-x64.zip       (package-windows preset, mingw-w64)
#   SHA256SUMS                                  the archives' checksums
#   SHA256SUMS.sig                              its detached signature (CMS, PEM)
# Each archive unpacks into one folder named like the archive and holds a
# SHA256SUMS of its own files. Release builds, hardened, stripped (debug
# information beside each binary), without the tests.
#
# The Windows binaries are signed with Authenticode when KESP_SIGN_KEY and
# KESP_SIGN_CERT name the signing key and certificate (README: "Signing");
# without them the package is unsigned, and says so. A release also needs a
# time-stamping server (--timestamp URL, or KESP_SIGN_TIMESTAMP_URL), so that
# the signatures outlive the certificate; without one the build says that
# the signatures are NOT TIMESTAMPED.
#
# SHA256SUMS is signed with KESP_SUMS_KEY and KESP_SUMS_CERT (a key and its
# certificate chain, PEM; KESP_SUMS_PASS for a protected key), or, when
# those are not set, with the Authenticode key and certificate. Without any
# key it stays unsigned, and the build says so.
#
#   scripts/package.sh [--timestamp URL] [linux|windows]...     (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."

platforms=()
while [ $# -gt 0 ]; do
  case "$1" in
    --timestamp) export KESP_SIGN_TIMESTAMP_URL=${2:?package.sh: --timestamp needs a URL}; shift 2 ;;
    --timestamp=*) export KESP_SIGN_TIMESTAMP_URL=${1#--timestamp=}; shift ;;
    *) platforms+=("$1"); shift ;;
  esac
done
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
      if [ -n "${KESP_SIGN_TIMESTAMP_URL:-}" ]; then
        echo "package.sh: timestamping the signatures at $KESP_SIGN_TIMESTAMP_URL"
      else
        echo "package.sh: no time-stamping server (--timestamp URL): the signatures are NOT" \
             "TIMESTAMPED and stop verifying when the certificate expires (not for a release)"
      fi
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

# The detached signature of the checksums: whoever trusts the certificate's
# root can check every archive without a signature inside it.
sums_key=${KESP_SUMS_KEY:-${KESP_SIGN_KEY:-}}
sums_cert=${KESP_SUMS_CERT:-${KESP_SIGN_CERT:-}}
sums_pass=${KESP_SUMS_PASS:-${KESP_SIGN_PASS:-}}
rm -f "$out/SHA256SUMS.sig"
if [ -n "$sums_key" ] && [ -n "$sums_cert" ]; then
  options=()
  [ -z "$sums_pass" ] || options+=(-passin "env:KESP_PACKAGE_SUMS_PASS")
  # The chain's other certificates (after the signer's own) go with the
  # signature, so that a verifier needs only the root.
  chain=$(mktemp "${TMPDIR:-/tmp}/vfpc-chain.XXXXXX")
  awk '/-----BEGIN CERTIFICATE-----/ { n++ } n > 1' "$sums_cert" > "$chain"
  [ ! -s "$chain" ] || options+=(-certfile "$chain")
  KESP_PACKAGE_SUMS_PASS=$sums_pass openssl cms -sign -binary -md sha256 -in "$out/SHA256SUMS" \
    -signer "$sums_cert" -inkey "$sums_key" "${options[@]}" \
    -outform PEM -out "$out/SHA256SUMS.sig" || { rm -f "$chain"; exit 1; }
  rm -f "$chain"
  echo "package.sh: signed $out/SHA256SUMS with $sums_cert: $out/SHA256SUMS.sig"
else
  echo "package.sh: no key for the checksums (KESP_SUMS_KEY and KESP_SUMS_CERT, or the signing" \
       "key): SHA256SUMS is NOT SIGNED (a development package)"
fi
