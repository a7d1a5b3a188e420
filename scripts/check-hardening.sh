#!/usr/bin/env bash
# Reads the hardening of the packaged binaries back from the files themselves,
# as a vendor's security review does, and fails when a property is missing.
#
#   scripts/check-hardening.sh <unpacked package prefix>...
#
# A prefix holds either the Linux binaries (ELF) or the Windows ones (PE);
# each binary is checked with its separate debug file beside it.
#
# Linux (ELF), each binary:
#   stripped, with a .gnu_debuglink naming <file>.debug beside it;
#   full RELRO: a GNU_RELRO segment and BIND_NOW (immediate binding);
#   a non-executable stack (GNU_STACK RW) and no segment writable and executable;
#   stack protector: __stack_chk_fail imported, and every compilation unit
#     built with -fstack-protector-strong (DW_AT_producer of the debug file);
#   control-flow protection: every unit built with -fcf-protection and
#     endbr64 landing pads in the code. (The x86 IBT/SHSTK property note of the
#     linked file also needs the C library's start files to carry it; Debian
#     12's crti.o does not, so the note is reported, not required.)
#   _FORTIFY_SOURCE: checked-call imports (__*_chk), for the binaries that make
#     fortifiable calls (the plug-in and fpcheck: the reference SDK makes none,
#     so nothing in it can show the setting).
# Windows (PE), each binary:
#   stripped, with a .gnu_debuglink naming <file>.debug beside it;
#   a CodeView record in its debug directory that names <file>.pdb by file
#     name only (no build path), and that PDB beside it with the record's
#     GUID and age and the binary's public symbols, among them the function
#     given (llvm-readobj-14 --coff-debug-directory, llvm-pdbutil-14);
#   DllCharacteristics DYNAMIC_BASE, HIGH_ENTROPY_VA and NX_COMPAT;
#   no section both writable and executable;
#   stack protector: __stack_chk_fail and __stack_chk_guard linked in (libssp),
#     and every unit of ours built with -fstack-protector-strong;
#   (_FORTIFY_SOURCE leaves no trace here: see check_pe).
set -euo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 <unpacked package prefix>..." >&2
  exit 2
fi

failures=0
fail() {
  echo "  FAIL: $*"
  failures=$((failures + 1))
}
pass() {
  echo "  ok:   $*"
}

# The name and producer string (compiler and options) of every compilation
# unit in the debug file, one "name<TAB>producer" line each.
producers() {
  "$OBJDUMP" --dwarf=info --dwarf-depth=1 "$1" 2>/dev/null |
    awk 'function value() { sub(/^[^:]*: /, ""); sub(/^\(indirect[^)]*\): /, ""); return $0 }
         /DW_TAG_compile_unit/ { if (n != "") print n "\t" p; p = ""; n = "" }
         /DW_AT_producer/ { p = value() }
         /DW_AT_name/ { n = value() }
         END { if (n != "") print n "\t" p }'
}

# Every unit named in the debug file carries the compiler option $2.
all_units_have() {
  local units=$1 option=$2 what=$3 missing
  if [ -z "$units" ]; then
    fail "$what: the debug file names no compilation unit"
    return
  fi
  missing=$(printf '%s\n' "$units" | awk -F'\t' -v o="$option" 'index($2, o) == 0 {print $1}')
  if [ -n "$missing" ]; then
    fail "$what: units built without $option: $(echo "$missing" | tr '\n' ' ')"
  else
    pass "$what: every unit ($(printf '%s\n' "$units" | wc -l)) built with $option"
  fi
}

check_debug_link() {
  local file=$1 dir base link
  dir=$(dirname "$file")
  base=$(basename "$file")
  link=$("$OBJCOPY" --dump-section .gnu_debuglink=/dev/stdout "$file" /dev/null 2>/dev/null |
         tr '\0' '\n' | head -n1 || true)
  if [ "$link" != "$base.debug" ]; then
    fail "debug link: expected '$base.debug', found '${link:-none}'"
  elif [ ! -s "$dir/$link" ]; then
    fail "debug link: $dir/$link is missing"
  else
    pass "debug link to $link, which is beside it"
  fi
}

check_elf() {
  local file=$1 fortify=$2 sections segments dynamic units
  local debug=$file.debug
  sections=$("$READELF" -SW "$file")
  segments=$("$READELF" -lW "$file")
  dynamic=$("$READELF" -dW "$file")
  if grep -qE '\.symtab|\.debug_' <<<"$sections"; then
    fail "stripped: the file still has a symbol table or debug sections"
  else
    pass "stripped"
  fi
  check_debug_link "$file"
  if grep -q GNU_RELRO <<<"$segments"; then pass "RELRO segment"; else fail "no GNU_RELRO segment"; fi
  if grep -qE '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW' <<<"$dynamic"; then
    pass "immediate binding (BIND_NOW)"
  else
    fail "no BIND_NOW: RELRO is partial"
  fi
  local stack
  stack=$(awk '$1 == "GNU_STACK" {print $7}' <<<"$segments")
  if [ "$stack" = RW ]; then pass "non-executable stack"; else fail "GNU_STACK is '${stack:-absent}', not RW"; fi
  if awk '$1 == "LOAD" && $7 ~ /W/ && $7 ~ /E/ {found=1} END {exit !found}' <<<"$segments"; then
    fail "a LOAD segment is writable and executable"
  else
    pass "no segment writable and executable"
  fi
  local imports
  imports=$("$READELF" --dyn-syms -W "$file" | awk '$7 == "UND" {print $8}')
  if grep -q '^__stack_chk_fail' <<<"$imports"; then
    pass "stack protector: __stack_chk_fail imported"
  else
    fail "stack protector: __stack_chk_fail not imported"
  fi
  units=$(producers "$debug")
  all_units_have "$units" -fstack-protector-strong "stack protector"
  all_units_have "$units" -fcf-protection "control-flow protection"
  local landing
  landing=$("$OBJDUMP" -d "$file" | grep -c endbr64 || true)
  if [ "$landing" -gt 0 ]; then pass "endbr64 landing pads: $landing"; else fail "no endbr64 landing pads"; fi
  if "$READELF" -nW "$file" | grep -q 'x86 feature:.*IBT'; then
    pass "x86 feature note: IBT, SHSTK"
  else
    echo "  note: no x86 IBT/SHSTK property note (the system's start files lack it)"
  fi
  if [ "$fortify" = yes ]; then
    local checked
    checked=$(grep -E '^__[a-z0-9_]+_chk' <<<"$imports" | grep -v '^__stack_chk' | sed 's/@.*//' | sort -u | tr '\n' ' ' || true)
    if [ -n "$checked" ]; then pass "_FORTIFY_SOURCE: checked calls $checked"; else fail "_FORTIFY_SOURCE: no checked call imported"; fi
  fi
}

# The record's GUID as the PDB tools print it: the first three fields of the
# 16 bytes are little-endian.
record_guid() {
  sed -n 's/^ *PDBGUID: (\(.*\))$/\1/p' | awk '{
    printf "{%s%s%s%s-%s%s-%s%s-%s%s-%s%s%s%s%s%s}\n", $4, $3, $2, $1, $6, $5, $8, $7,
           $9, $10, $11, $12, $13, $14, $15, $16 }'
}

check_codeview() {
  local file=$1 pdb=${1%.*}.pdb record name guid age summary
  record=$("$READOBJ" --coff-debug-directory "$file")
  name=$(sed -n 's/^ *PDBFileName: //p' <<<"$record")
  if [ "$name" != "$(basename "$pdb")" ]; then
    fail "CodeView record: names '${name:-nothing}', not '$(basename "$pdb")' alone"
    return
  fi
  pass "CodeView record names $name, without a build path"
  if [ ! -s "$pdb" ]; then
    fail "PDB: $pdb is missing"
    return
  fi
  guid=$(record_guid <<<"$record")
  age=$(sed -n 's/^ *PDBAge: //p' <<<"$record")
  summary=$("$PDBUTIL" dump -summary "$pdb")
  if grep -qiF "GUID: $guid" <<<"$summary" && grep -qE "^ *Age: $age\$" <<<"$summary"; then
    pass "PDB beside it matches the record (GUID $guid, age $age)"
  else
    fail "PDB: $pdb is not the one the record names (GUID $guid, age $age)"
  fi
  local publics
  publics=$("$PDBUTIL" dump -publics "$pdb")
  if grep -qE "S_PUB32 .*\`$2\`\$" <<<"$publics"; then
    pass "PDB holds $(grep -c S_PUB32 <<<"$publics") public symbols, $2 among them"
  else
    fail "PDB: no public symbol $2"
  fi
}

check_pe() {
  local file=$1 fortify=$2 function=$3 headers sections symbols units
  local debug=$file.debug
  headers=$("$OBJDUMP" -p "$file")
  sections=$("$OBJDUMP" -h "$file")
  if grep -qE ' \.debug_' <<<"$sections" || ! "$OBJDUMP" -t "$file" 2>&1 | grep -q 'no symbols'; then
    fail "stripped: the file still has symbols or debug sections"
  else
    pass "stripped"
  fi
  check_debug_link "$file"
  check_codeview "$file" "$function"
  local flag
  for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
    if grep -qE "^[[:space:]]+IMAGE_DLL_CHARACTERISTICS_${flag}\$|^[[:space:]]+${flag}\$" <<<"$headers"; then
      pass "DllCharacteristics $flag"
    else
      fail "DllCharacteristics lacks $flag"
    fi
  done
  # objdump -h prints each section's flags on the line after its name:
  # CODE without READONLY is a writable code section.
  local writable_code
  writable_code=$(awk 'prev != "" { if ($0 ~ /CODE/ && $0 !~ /READONLY/) print prev; prev="" }
                       $1 ~ /^[0-9]+$/ { prev=$2 }' <<<"$sections")
  if [ -n "$writable_code" ]; then
    fail "sections both writable and executable: $writable_code"
  else
    pass "no section writable and executable"
  fi
  symbols=$("$OBJDUMP" -t "$debug" | awk '{print $NF}')
  if grep -qx '__stack_chk_fail' <<<"$symbols" && grep -qx '__stack_chk_guard' <<<"$symbols"; then
    pass "stack protector: __stack_chk_fail and __stack_chk_guard linked in"
  else
    fail "stack protector: __stack_chk_fail / __stack_chk_guard not linked in"
  fi
  # Units of ours, all built as C++20; the static runtime's units (libstdc++,
  # libssp, the mingw start files) come built from the toolchain.
  units=$(producers "$debug" | grep -F -- '-std=c++20' || true)
  all_units_have "$units" -fstack-protector-strong "stack protector"
  # mingw-w64 10's headers have no fortified wrappers: only the calls whose
  # object sizes the compiler sees become checked ones, and our binaries make
  # none, so _FORTIFY_SOURCE cannot be read back from them.
  local checked
  checked=$(grep -E '^__[a-z0-9_]+_chk$' <<<"$symbols" | grep -v '^__stack_chk' | sort -u | tr '\n' ' ' || true)
  echo "  note: checked calls linked in: ${checked:-none} (_FORTIFY_SOURCE is not visible in PE files)"
}

check_prefix() {
  local prefix=$1
  if [ -f "$prefix/bin/vfpcchecker.dll" ]; then
    OBJDUMP=x86_64-w64-mingw32-objdump OBJCOPY=x86_64-w64-mingw32-objcopy READELF=readelf
    READOBJ=llvm-readobj-14 PDBUTIL=llvm-pdbutil-14
    # Each binary, whether it makes fortifiable calls, and a function of it
    # that its PDB must name.
    set -- "$prefix/bin/vfpcchecker.dll" yes KESPGetPlugin \
           "$prefix/bin/vfpcchecker_checked.dll" yes KESPGetPlugin \
           "$prefix/bin/fpcheck.exe" yes main "$prefix/bin/fpcsdk-conform.exe" yes main \
           "$prefix/bin/reference-sdk/vfpcsdk.dll" no FPCCreate
    kind=pe
  elif [ -f "$prefix/bin/libvfpcchecker.so" ]; then
    OBJDUMP=objdump OBJCOPY=objcopy READELF=readelf
    set -- "$prefix/bin/libvfpcchecker.so" yes - "$prefix/bin/libvfpcchecker_checked.so" yes - \
           "$prefix/bin/fpcheck" yes - "$prefix/bin/fpcsdk-conform" yes - \
           "$prefix/bin/reference-sdk/libvfpcsdk.so" no -
    kind=elf
  else
    fail "$prefix holds neither bin/libvfpcchecker.so nor bin/vfpcchecker.dll"
    return
  fi
  while [ $# -gt 0 ]; do
    echo "$1"
    if [ ! -f "$1" ] || [ ! -f "$1.debug" ]; then
      fail "$1 or its debug file $1.debug is missing"
    elif [ "$kind" = pe ]; then
      check_pe "$1" "$2" "$3"
    else
      check_elf "$1" "$2"
    fi
    shift 3
  done
}

for prefix in "$@"; do
  check_prefix "$prefix"
done
if [ "$failures" -gt 0 ]; then
  echo "check-hardening: $failures missing hardening properties" >&2
  exit 1
fi
echo "check-hardening: every property present"
