#!/usr/bin/env bash
# Every shipped ELF file runs where the README says the package runs: no
# binary needs a GLIBC_ or GLIBCXX_ symbol version above the minimum that
# the README states.
#
#   scripts/check-runtime.sh <unpacked Linux package folder> [GLIBC_x.y GLIBCXX_x.y.z]
#
# The minimums are read from the README's section "What it needs at run
# time" (the highest GLIBC_ and GLIBCXX_ version named there), or given on
# the command line, which check-package.sh uses to show that a stricter
# minimum fails. Each binary's needs are the version references of its
# dynamic symbols (objdump -T) and those the loader checks before any symbol
# (its version needs, objdump -p), in bin/ and lib/.
set -euo pipefail
folder=${1:?usage: check-runtime.sh <unpacked Linux package folder> [GLIBC_x.y GLIBCXX_x.y.z]}

# The highest version of a family (GLIBC or GLIBCXX) among words of the form
# FAMILY_1.2.3 on standard input.
highest() {
  grep -oE "\\b$1_[0-9]+(\\.[0-9]+)*\\b" | sed "s/^$1_//" | sort -V | tail -n 1
}

if [ $# -ge 3 ]; then
  glibc=${2#GLIBC_}
  glibcxx=${3#GLIBCXX_}
  source="the command line"
else
  section=$(sed -n '/^## What it needs at run time/,/^## /p' "$folder/README.md")
  glibc=$(highest GLIBC <<<"$section")
  glibcxx=$(highest GLIBCXX <<<"$section")
  source="README.md"
fi
if [ -z "$glibc" ] || [ -z "$glibcxx" ]; then
  echo "check-runtime: $source states no GLIBC_ and GLIBCXX_ minimum" >&2
  exit 1
fi
echo "  minimums ($source): GLIBC_$glibc, GLIBCXX_$glibcxx"

# Newer than the minimum: the version sorts after it.
above() {
  [ "$1" != "$2" ] && [ "$(printf '%s\n%s\n' "$1" "$2" | sort -V | tail -n 1)" = "$1" ]
}

failed=0
checked=0
while IFS= read -r -d '' file; do
  head -c 4 "$file" | grep -q $'^\x7fELF' || continue
  case "$file" in *.debug) continue ;; esac
  checked=$((checked + 1))
  symbols=$(objdump -T "$file"; objdump -p "$file" | sed -n '/^Version References/,$p')
  needs_glibc=$(highest GLIBC <<<"$symbols" || true)
  needs_glibcxx=$(highest GLIBCXX <<<"$symbols" || true)
  name=${file#"$folder"/}
  fits=yes
  for pair in "GLIBC:$needs_glibc:$glibc" "GLIBCXX:$needs_glibcxx:$glibcxx"; do
    IFS=: read -r family needs minimum <<<"$pair"
    [ -n "$needs" ] || continue
    if above "$needs" "$minimum"; then
      culprits=$(grep -E "\\b${family}_${needs}\\b" <<<"$symbols" | awk '{print $NF}' | sort -u |
                 tr '\n' ' ')
      echo "check-runtime: $name needs ${family}_$needs, above the stated ${family}_$minimum" \
           "(for $culprits)" >&2
      failed=1
      fits=no
    fi
  done
  [ "$fits" = yes ] && echo "  ok:   $name needs GLIBC_${needs_glibc:-none}, GLIBCXX_${needs_glibcxx:-none}"
done < <(find "$folder/bin" "$folder/lib" -type f -print0 | sort -z)

[ "$checked" -gt 0 ] || { echo "check-runtime: no ELF file under $folder/bin" >&2; exit 1; }
[ "$failed" -eq 0 ] || exit 1
echo "check-runtime: all $checked ELF files keep to GLIBC_$glibc and GLIBCXX_$glibcxx"
