#!/usr/bin/env bash
# Every relative link of every Markdown file under a directory leads to a
# file or directory that is there:
#   scripts/check-links.sh <directory>      (an unpacked package, say)
# Links are the inline [text](target) and the reference [label]: target
# forms; a target with a scheme (https:, mailto:) or only an anchor (#...)
# is not relative and is skipped; an anchor after a path is dropped.
set -euo pipefail
root=${1:?usage: check-links.sh <directory>}
checked=0
broken=0
while IFS= read -r -d '' file; do
  directory=$(dirname "$file")
  # Code spans and blocks hold examples, not links.
  targets=$(sed '/^ *```/,/^ *```/d' "$file" | sed 's/`[^`]*`//g' |
            { grep -oE '\]\([^) ]+( "[^"]*")?\)|^\s*\[[^]]+\]:\s*\S+' || true; } |
            sed -E 's/^\]\(([^) ]+).*\)$/\1/; s/^\s*\[[^]]+\]:\s*//')
  for target in $targets; do
    case "$target" in
      *:*|\#*) continue ;;
    esac
    checked=$((checked + 1))
    path=${target%%#*}
    if [ ! -e "$directory/$path" ]; then
      echo "check-links: ${file#"$root"/} links to '$target', which is not there" >&2
      broken=$((broken + 1))
    fi
  done
done < <(find "$root" -name '*.md' -type f -print0)
[ "$broken" -eq 0 ] || exit 1
echo "check-links: all $checked relative links of the Markdown files under $root lead somewhere"
