#!/usr/bin/env bash
# An unpacked archive stands alone: it unpacked into one folder, holds its
# README at the top, and none of its documents, examples or programs speaks
# of the source tree it was built from.
#
#   scripts/check-layout.sh <unpacked package folder> <expected folder name>
#
# Checks:
#   - the folder is named <expected folder name> and README.md is at its top;
#   - every text file shipped (Markdown, notices, rules, CMake files, the
#     example's sources, the request lines) and every string of every shipped
#     program names no path of the source tree: build/<preset>, scripts/,
#     the product's and the reference parts' source folders, docs/, tests/,
#     or examples/ outside share/vfpcchecker/. A line of a document may name
#     them when it says that they are in the source tree.
set -euo pipefail
folder=${1:?usage: check-layout.sh <unpacked package folder> <expected folder name>}
expected=${2:?usage: check-layout.sh <unpacked package folder> <expected folder name>}
failed=0
fail() {
  echo "check-layout: $*" >&2
  failed=1
}

[ "$(basename "$folder")" = "$expected" ] || fail "the archive unpacked into '$(basename "$folder")', not '$expected'"
[ -f "$folder/README.md" ] || fail "no README.md at the top of $folder"

# Source-tree paths, as they would appear in a text. "examples/" counts
# only when it does not follow "vfpcchecker/" (share/vfpcchecker/examples/
# is the package's own), nor stands on a line that goes to
# share/vfpcchecker first; "reference-sdk" is the package's folder, not
# reference/sdk.
source_paths='(^|[^[:alnum:]_/.-])(build/|scripts/|foundation/|fops/|sdk_bridge/|plugin/|tools/|tests/|docs/|bench/|fuzz/|packaging/|reference/|examples/)'
allowed='source tree'

texts=$(find "$folder" -type f \( -name '*.md' -o -name 'THIRD-PARTY-NOTICES' -o -name '*.rules' \
          -o -name '*.cmake' -o -name 'CMakeLists.txt' -o -name '*.cpp' -o -name '*.h' \
          -o -name '*.jsonl' \) | sort)
checked=0
for file in $texts; do
  checked=$((checked + 1))
  found=$(grep -nE "$source_paths" "$file" | grep -vF "$allowed" |
          grep -vE 'cd share/vfpcchecker[^/].*[^/]examples/' || true)
  # The request lines name example files relative to share/vfpcchecker/,
  # where the package keeps them: examples/files/... is right there.
  if [ "$(basename "$file")" = requests.jsonl ]; then
    found=$(grep -vE '"path": "examples/files/' <<<"$found" || true)
  fi
  if [ -n "$found" ]; then
    fail "${file#"$folder"/} names the source tree:"
    sed 's/^/    /' <<<"$found" >&2
  fi
done

# The programs' own messages.
binaries=$(find "$folder/bin" -type f ! -name '*.debug' ! -name '*.pdb' ! -name '*.rules' | sort)
for binary in $binaries; do
  checked=$((checked + 1))
  found=$(strings -a -n 8 "$binary" | grep -E "$source_paths" | grep -E '[[:space:]]' || true)
  if [ -n "$found" ]; then
    fail "${binary#"$folder"/} has messages that name the source tree:"
    sed 's/^/    /' <<<"$found" >&2
  fi
done

[ "$failed" -eq 0 ] || exit 1
echo "check-layout: $expected stands alone ($checked files: README.md at the top, no source-tree path)"
