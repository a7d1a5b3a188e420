#!/usr/bin/env bash
# What CI checks of the release packages, from the archives a vendor receives:
#   1. makes a throwaway code-signing certificate (a CA and a leaf signed by
#      it), so that the Windows binaries are signed as in a release;
#   2. builds both packages (scripts/package.sh), which signs SHA256SUMS with
#      the same throwaway key; verifies that signature against the throwaway
#      root, and that the verification refuses a changed SHA256SUMS;
#   3. unpacks each into an empty directory: each must unpack into one folder
#      named for the package, version and platform, which stands alone
#      (README.md at its top, no path of the source tree in any document or
#      message: scripts/check-layout.sh); checks its SHA256SUMS;
#   4. builds examples/host from the unpacked package with find_package (the
#      Windows one with the mingw-w64 cross compiler) and runs it (the Windows
#      one under Wine): it must print both verdicts; builds examples/sdk the
#      same way and runs the packaged fpcsdk-conform on it and on the
#      reference SDK: every clause must pass;
#   5. reads the hardening back from the packaged binaries
#      (scripts/check-hardening.sh);
#   6. verifies the Authenticode signature of each Windows binary against the
#      throwaway CA, and that verification refuses a tampered copy and an
#      unsigned one;
#   7. in each unpacked package: every relative link of the shipped Markdown
#      files leads somewhere (scripts/check-links.sh), every library a binary
#      loads is accounted for in THIRD-PARTY-NOTICES (scripts/check-notices.sh,
#      which must also fail when a notice is missing), the version is the
#      project's everywhere (scripts/check-version.sh), and every C++ block of
#      the guides compiles against the shipped headers unless it is marked as
#      a fragment (scripts/check-guide-code.sh);
#   8. no Linux binary needs a GLIBC_ or GLIBCXX_ version above the minimum
#      the README states (scripts/check-runtime.sh, which must also fail
#      against a stricter minimum).
# Fails at the first step that fails. Needs openssl, osslsigncode, wine.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/vfpc-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "=== package: throwaway signing certificate"
keys=$work/keys
mkdir -p "$keys"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=VFPC CI throwaway root" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
  -keyout "$keys/ca.key" -out "$keys/ca.pem" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=VFPC CI throwaway code signing" \
  -keyout "$keys/sign.key" -out "$keys/sign.csr" 2>/dev/null
printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
  "extendedKeyUsage=codeSigning" > "$keys/sign.ext"
openssl x509 -req -in "$keys/sign.csr" -CA "$keys/ca.pem" -CAkey "$keys/ca.key" \
  -CAcreateserial -days 2 -extfile "$keys/sign.ext" -out "$keys/sign.pem" 2>/dev/null
KESP_SIGN_KEY=$keys/sign.key KESP_SIGN_CERT=$keys/sign.pem scripts/package.sh

version=$(sed -n 's/^project(vfpcchecker VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)

echo "=== package: the signed checksums"
verify_sums() {
  openssl cms -verify -binary -inform PEM -in build/package/SHA256SUMS.sig -content "$1" \
    -CAfile "$keys/ca.pem" -purpose any -out /dev/null 2>"$work/cms.log"
}
if ! verify_sums build/package/SHA256SUMS; then
  cat "$work/cms.log"
  echo "check-package: the signature of SHA256SUMS does not verify" >&2
  exit 1
fi
(cd build/package && sha256sum --check --quiet SHA256SUMS)
echo "  ok:   SHA256SUMS.sig verifies against the CI root, and the archives match SHA256SUMS"
sed 's/^./0/' build/package/SHA256SUMS > "$work/SHA256SUMS.changed"
if verify_sums "$work/SHA256SUMS.changed"; then
  echo "check-package: the signature of SHA256SUMS accepts a changed file" >&2
  exit 1
fi
echo "  ok:   a changed SHA256SUMS is refused"

echo "=== package: each archive unpacks into one folder that stands alone"
# unpacked <directory> <expected folder>: the one folder the archive made.
unpacked() {
  local found
  found=$(find "$1" -mindepth 1 -maxdepth 1)
  if [ "$found" != "$1/$2" ]; then
    echo "check-package: the archive unpacked into '$(echo $found | tr '\n' ' ')', not one folder '$2'" >&2
    exit 1
  fi
  echo "$found"
}
mkdir -p "$work/linux" "$work/windows"
tar -xzf "build/package/vfpcchecker-${version}-linux-x86_64.tar.gz" -C "$work/linux"
unzip -q "build/package/vfpcchecker-${version}-windows-x64.zip" -d "$work/windows"
linux=$(unpacked "$work/linux" "vfpcchecker-${version}-linux-x86_64")
windows=$(unpacked "$work/windows" "vfpcchecker-${version}-windows-x64")
for prefix in "$linux" "$windows"; do
  scripts/check-layout.sh "$prefix" "$(basename "$prefix")"
  (cd "$prefix" && sha256sum --check --quiet SHA256SUMS)
done
echo "  ok:   every file of both matches its SHA256SUMS"

expect_verdicts() {
  local output=$1
  echo "$output"
  grep -q '^file .*toolbar-setup.txt (60 bytes), Adware.Toolbar.Search: false positive$' <<<"$output"
  grep -q '^memory buffer (36 bytes), Trojan.Script.Phish: not a false positive$' <<<"$output"
}
expect_no_violation() {
  if grep -q 'Contract violation: ' <<<"$1"; then
    echo "check-package: the checked build names a broken rule of examples/host" >&2
    exit 1
  fi
}

echo "=== package: examples/host against the Linux package"
examples=share/vfpcchecker/examples
cmake -S "$linux/$examples/host" -B "$work/host-linux" -DCMAKE_PREFIX_PATH="$linux" >/dev/null
cmake --build "$work/host-linux" >/dev/null
output=$("$work/host-linux/vfpc_host" "$linux/bin/libvfpcchecker.so" \
  "$linux/bin/reference-sdk" "$linux/$examples/files/toolbar-setup.txt")
expect_verdicts "$output"
# The checked build: the same verdicts, and not one line of its own.
output=$("$work/host-linux/vfpc_host" "$linux/bin/libvfpcchecker_checked.so" \
  "$linux/bin/reference-sdk" "$linux/$examples/files/toolbar-setup.txt" 2>&1)
expect_verdicts "$output"
expect_no_violation "$output"

echo "=== package: examples/host against the Windows package (mingw-w64, Wine)"
cmake -S "$windows/$examples/host" -B "$work/host-windows" -DCMAKE_PREFIX_PATH="$windows" \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$work/host-windows" >/dev/null
export WINEDEBUG=-all
for plugin in vfpcchecker.dll vfpcchecker_checked.dll; do
  output=$(wine "$work/host-windows/vfpc_host.exe" \
    "$(winepath -w "$windows/bin/$plugin")" \
    "$(winepath -w "$windows/bin/reference-sdk")" \
    "$(winepath -w "$windows/$examples/files/toolbar-setup.txt")" 2>&1)
  expect_verdicts "$(tr -d '\r' <<<"$output")"
  expect_no_violation "$output"
done

echo "=== package: the SDK example and the reference SDK pass fpcsdk-conform (Linux)"
cmake -S "$linux/$examples/sdk" -B "$work/sdk-linux" -DCMAKE_PREFIX_PATH="$linux" >/dev/null
cmake --build "$work/sdk-linux" >/dev/null
"$linux/bin/fpcsdk-conform" --cases "$linux/$examples/sdk/cases.jsonl" "$work/sdk-linux/sdk"
"$linux/bin/fpcsdk-conform" --cloud-url file:vfpcsdk.rules \
  --cases "$linux/$examples/reference-cases.jsonl" "$linux/bin/reference-sdk"

echo "=== package: the SDK example and the reference SDK pass fpcsdk-conform (Windows, Wine)"
cmake -S "$windows/$examples/sdk" -B "$work/sdk-windows" -DCMAKE_PREFIX_PATH="$windows" \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$work/sdk-windows" >/dev/null
wine "$windows/bin/fpcsdk-conform.exe" --cases "$(winepath -w "$windows/$examples/sdk/cases.jsonl")" \
  "$(winepath -w "$work/sdk-windows/sdk")" | tr -d '\r'
wine "$windows/bin/fpcsdk-conform.exe" --cloud-url file:vfpcsdk.rules \
  --cases "$(winepath -w "$windows/$examples/reference-cases.jsonl")" \
  "$(winepath -w "$windows/bin/reference-sdk")" | tr -d '\r'

echo "=== package: hardening of the packaged binaries"
scripts/check-hardening.sh "$linux" "$windows"

echo "=== package: Authenticode signatures"
for binary in bin/vfpcchecker.dll bin/vfpcchecker_checked.dll bin/fpcheck.exe \
    bin/fpcsdk-conform.exe bin/reference-sdk/vfpcsdk.dll; do
  if ! osslsigncode verify -CAfile "$keys/ca.pem" -in "$windows/$binary" >"$work/verify.log" 2>&1; then
    cat "$work/verify.log"
    echo "check-package: the signature of $binary does not verify" >&2
    exit 1
  fi
  echo "  ok:   $binary: signature verified against the CI root"
done
# The verification must tell a changed file from a signed one.
tampered=$work/tampered.dll
cp "$windows/bin/vfpcchecker.dll" "$tampered"
printf 'X' | dd of="$tampered" bs=1 seek=4096 conv=notrunc status=none
if osslsigncode verify -CAfile "$keys/ca.pem" -in "$tampered" >/dev/null 2>&1; then
  echo "check-package: a tampered vfpcchecker.dll still verifies" >&2
  exit 1
fi
echo "  ok:   a tampered copy of vfpcchecker.dll is refused"
unsigned=$work/unsigned.dll
osslsigncode remove-signature -in "$windows/bin/vfpcchecker.dll" -out "$unsigned" >/dev/null
if osslsigncode verify -CAfile "$keys/ca.pem" -in "$unsigned" >/dev/null 2>&1; then
  echo "check-package: vfpcchecker.dll without its signature still verifies" >&2
  exit 1
fi
echo "  ok:   vfpcchecker.dll without its signature is refused"

echo "=== package: links, notices, version, the guides' code"
for platform in linux windows; do
  if [ "$platform" = linux ]; then prefix=$linux compiler=c++; else prefix=$windows compiler=x86_64-w64-mingw32-g++-posix; fi
  scripts/check-links.sh "$prefix"
  scripts/check-notices.sh "$prefix" "$platform"
  scripts/check-version.sh "$prefix" "$platform" "$version"
  scripts/check-guide-code.sh "$prefix" "$compiler"
done
# The notices check must tell a missing notice from a present one.
grep -vxF '[mingw-w64 runtime and winpthreads]' "$windows/share/doc/vfpcchecker/THIRD-PARTY-NOTICES" \
  > "$work/notices-without-mingw"
if scripts/check-notices.sh "$windows" windows "$work/notices-without-mingw" >/dev/null 2>&1; then
  echo "check-package: the notices check passes without the mingw-w64 notice" >&2
  exit 1
fi
echo "  ok:   the notices check fails when a notice is missing"

echo "=== package: the run-time minimums of the Linux binaries"
scripts/check-runtime.sh "$linux"
# The check must tell a binary that needs more from one that does not: the
# plug-in itself needs GLIBCXX_3.4.29.
if scripts/check-runtime.sh "$linux" GLIBC_2.34 GLIBCXX_3.4.28 >/dev/null 2>&1; then
  echo "check-package: the run-time check passes against GLIBCXX_3.4.28" >&2
  exit 1
fi
echo "  ok:   the run-time check fails against a stricter minimum (GLIBCXX_3.4.28)"

# fpcloud runs from the unpacked folder on the cpp-httplib library the
# package carries, not the system's, and answers a check.
httplib=$(ldd "$linux/bin/fpcloud" | awk '/libcpp-httplib/ { print $3 }')
[ "$(realpath "$httplib")" = "$(realpath "$linux"/lib/libcpp-httplib.so.*)" ] || {
  echo "check-package: bin/fpcloud loads '$httplib', not the package's lib/" >&2
  exit 1
}
"$linux/bin/fpcloud" --rules "$linux/bin/reference-sdk/vfpcsdk.rules" --port 0 \
  >"$work/fpcloud.out" 2>&1 &
fpcloud=$!
for _ in $(seq 100); do [ -s "$work/fpcloud.out" ] && break; sleep 0.1; done
answer=$(curl -s -X POST -H 'Content-Type: application/json' \
  -d '{"detection":"Adware.Toolbar.Search","size":1,"input":"file","host":"package check"}' \
  "$(head -n 1 "$work/fpcloud.out")" || true)
kill "$fpcloud"
wait "$fpcloud" || true
[ "$answer" = '{"falsePositive":true}' ] || {
  echo "check-package: the packaged fpcloud answered '$answer'" >&2
  cat "$work/fpcloud.out" >&2
  exit 1
}
echo "  ok:   bin/fpcloud runs on lib/$(basename "$httplib") and answers a check"
echo "=== package: passed"
