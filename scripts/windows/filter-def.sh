#!/usr/bin/env bash
# For a build of some families only: keeps the lines of a module definition
# whose function the objects define, so that tarsel.dll links without the
# families left out.
# Usage: filter-def.sh IN_DEF OUT_DEF NM OBJECT...
set -euo pipefail
in=$1 out=$2 nm=$3
shift 3
defined=$("$nm" --defined-only "$@" 2>/dev/null | awk 'NF == 3 && $2 ~ /^[TtDdBbRr]$/ {print $3}' | sort -u)
{
  sed -n '1,/^EXPORTS/p' "$in"
  sed -n '/^EXPORTS/,$p' "$in" | tail -n +2 | while read -r line; do
    [[ -z $line ]] && continue
    function=${line#*=}
    if grep -q -x -F -- "$function" <<<"$defined"; then echo "  $line"; fi
  done
} >"$out.tmp"
mv -f "$out.tmp" "$out"
