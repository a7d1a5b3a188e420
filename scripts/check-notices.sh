#!/usr/bin/env bash
# Every library a packaged binary loads is accounted for, and everything the
# binaries contain has its notice in THIRD-PARTY-NOTICES:
#   scripts/check-notices.sh <unpacked prefix> linux|windows [notices file]
# Reads what each binary under bin/ loads (readelf -d: DT_NEEDED; objdump -p:
# the PE import table) and looks each library up in the table below; adds
# what is linked in whatever the imports say (the GCC runtime everywhere, the
# mingw-w64 runtime and winpthreads on Windows, the header-only CLI11,
# nlohmann-json and cpp-httplib in the programs and the reference SDK). A library the table does not know fails the
# check, and so does a notice that the file lacks.
set -euo pipefail
prefix=${1:?usage: check-notices.sh <prefix> linux|windows [notices file]}
platform=${2:?usage: check-notices.sh <prefix> linux|windows [notices file]}
notices=${3:-$prefix/share/doc/vfpcchecker/THIRD-PARTY-NOTICES}

# library (lower case) -> "system" (part of the operating system, not
# shipped, no notice), "no-notice" (a system library whose licence asks for
# no notice when it is only loaded), or "notice:<section>" (the section of
# THIRD-PARTY-NOTICES that must be there).
declare -A table=(
  [libc.so.6]=system [libm.so.6]=system [libdl.so.2]=system [libpthread.so.0]=system
  [librt.so.1]=system [ld-linux-x86-64.so.2]=system
  [libz.so.1]=no-notice
  [libstdc++.so.6]="notice:GCC Runtime Library Exception"
  [libgcc_s.so.1]="notice:GCC Runtime Library Exception"
  [libcurl.so.4]=notice:curl [libcpp-httplib.so.0.11]=notice:cpp-httplib
  [libcrypto.so.3]=notice:OpenSSL [libssl.so.3]=notice:OpenSSL
  [kernel32.dll]=system [msvcrt.dll]=system [ntdll.dll]=system [user32.dll]=system
  [advapi32.dll]=system [shell32.dll]=system [ws2_32.dll]=system [winhttp.dll]=system
  [crypt32.dll]=system [bcrypt.dll]=system [version.dll]=system [secur32.dll]=system
  [ole32.dll]=system [shlwapi.dll]=system
)

case "$platform" in
  linux) binaries=$(find "$prefix/bin" -type f \( -name '*.so' -o -perm -u+x \) ! -name '*.debug' \
                      ! -name '*.rules' | sort) ;;
  windows) binaries=$(find "$prefix/bin" -type f \( -name '*.dll' -o -name '*.exe' \) | sort) ;;
  *) echo "check-notices: unknown platform '$platform' (linux or windows)" >&2; exit 2 ;;
esac
[ -f "$notices" ] || { echo "check-notices: no notices file $notices" >&2; exit 1; }
[ -n "$binaries" ] || { echo "check-notices: no binaries under $prefix/bin" >&2; exit 1; }

failed=0
need() {  # need <binary> <section> <why>
  if grep -qxF "[$2]" "$notices"; then
    echo "  ok:   $(basename "$1"): [$2] ($3)"
  else
    echo "check-notices: $1 needs the notice [$2] ($3), which $notices lacks" >&2
    failed=1
  fi
}

for binary in $binaries; do
  if [ "$platform" = linux ]; then
    libraries=$(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  else
    libraries=$(x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^\s*DLL Name: //p')
  fi
  for library in $libraries; do
    key=${library,,}
    kind=${table[$key]:-}
    case "$kind" in
      system|no-notice) echo "  ok:   $(basename "$binary"): $library ($kind)" ;;
      notice:*) need "$binary" "${kind#notice:}" "loads $library" ;;
      *) echo "check-notices: $binary loads $library, which the table does not know" >&2
         failed=1 ;;
    esac
  done
  need "$binary" "GCC Runtime Library Exception" "compiled by GCC"
  if [ "$platform" = windows ]; then
    need "$binary" "mingw-w64 runtime and winpthreads" "linked in"
  fi
  case "$(basename "$binary")" in
    fpcheck|fpcheck.exe|fpcsdk-conform|fpcsdk-conform.exe)
      need "$binary" CLI11 "header-only, compiled in"
      need "$binary" nlohmann-json "header-only, compiled in" ;;
    fpcloud)
      need "$binary" CLI11 "header-only, compiled in"
      need "$binary" nlohmann-json "header-only, compiled in"
      need "$binary" cpp-httplib "header-only, compiled in" ;;
    libvfpcsdk.so|vfpcsdk.dll)
      need "$binary" nlohmann-json "header-only, compiled in" ;;
  esac
done
[ "$failed" -eq 0 ] || exit 1
echo "check-notices: every library of the $platform binaries is accounted for"
