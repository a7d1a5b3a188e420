#!/usr/bin/env bash
# Every C++ block of the shipped guides compiles against the shipped headers,
# as a vendor would copy it, or is marked as a fragment:
#
#   scripts/check-guide-code.sh <unpacked package folder> [compiler]
#
# A block is a fenced ```cpp block of a Markdown file in the folder; it is
# a fragment (an excerpt with "..." or of a larger program, not compiled)
# when the line before its fence is "<!-- fragment -->". Every other block
# is compiled alone, as C++17 with warnings as errors, with the folder's
# include/ on the include path and nothing else added: its own #include
# lines must say what it needs. The compiler defaults to c++; give the
# mingw-w64 one for the Windows package.
set -euo pipefail
folder=${1:?usage: check-guide-code.sh <unpacked package folder> [compiler]}
compiler=${2:-c++}
work=$(mktemp -d "${TMPDIR:-/tmp}/vfpc-guide-code.XXXXXX")
trap 'rm -rf "$work"' EXIT

compiled=0
fragments=0
failed=0
while IFS= read -r -d '' guide; do
  # Writes each block to $work/<n>.cpp (or <n>.fragment), with the fence's
  # indentation removed, and its first line number to <n>.line.
  rm -f "$work"/block-*
  awk -v out="$work/block-" '
    function flush() { close(file) }
    inside == 0 && /^[[:space:]]*```cpp[[:space:]]*$/ {
      match($0, /^[[:space:]]*/); indent = RLENGTH
      count++
      kind = previous ~ /^[[:space:]]*<!-- fragment -->[[:space:]]*$/ ? "fragment" : "cpp"
      file = out sprintf("%03d", count) "." kind
      print NR + 1 > (out sprintf("%03d", count) ".line")
      close(out sprintf("%03d", count) ".line")
      inside = 1; previous = $0; next
    }
    inside == 1 && /^[[:space:]]*```[[:space:]]*$/ { inside = 0; flush(); previous = $0; next }
    inside == 1 { print substr($0, indent + 1) > file; next }
    { previous = $0 }
  ' "$guide"
  for block in "$work"/block-*.cpp "$work"/block-*.fragment; do
    [ -e "$block" ] || continue
    line=$(cat "${block%.*}.line")
    where="${guide#"$folder"/}:$line"
    if [ "${block##*.}" = fragment ]; then
      fragments=$((fragments + 1))
      continue
    fi
    compiled=$((compiled + 1))
    if "$compiler" -std=c++17 -fsyntax-only -Wall -Wextra -Wpedantic -Werror \
         -I "$folder/include" -x c++ "$block" >"$work/errors" 2>&1; then
      echo "  ok:   $where compiles"
    else
      echo "check-guide-code: the block at $where does not compile:" >&2
      sed 's/^/    /' "$work/errors" >&2
      failed=1
    fi
  done
done < <(find "$folder" -name '*.md' -type f -print0 | sort -z)

[ "$failed" -eq 0 ] || exit 1
echo "check-guide-code: $compiled C++ blocks compile against $folder/include; $fragments marked as fragments"
