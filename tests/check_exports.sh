#!/usr/bin/env bash
# The shared library exports exactly the names of the export list that are not
# pending, and the two names of each shared pair have one address.
# Usage: check_exports.sh LIBRARY EXPORT_LIST PENDING_LIST
set -euo pipefail
lib=$1 list=$2 pending=$3
expected=$(grep -v '^#' "$list" | sed -E 's/[[:space:]]*=.*$//' | grep . |
           grep -v -x -F -f <(grep -v '^#' "$pending" | grep . || echo '-') | sort)
symbols=$(nm -D --defined-only "$lib")
exported=$(awk '{print $3}' <<<"$symbols" | sort -u)
status=0
if [[ "$expected" != "$exported" ]]; then
  echo "exported names differ from the list (< expected, > exported):"
  diff <(echo "$expected") <(echo "$exported") || true
  status=1
fi
while read -r alias target; do
  a=$(awk -v n="$alias" '$3 == n {print $1}' <<<"$symbols")
  t=$(awk -v n="$target" '$3 == n {print $1}' <<<"$symbols")
  if [[ -n "$a$t" && "$a" != "$t" ]]; then
    echo "$alias ($a) and $target ($t) differ"; status=1
  fi
done < <(grep -v '^#' "$list" | grep '=' | sed -E 's/[[:space:]]*=[[:space:]]*/ /')
echo "$(wc -l <<<"$exported") names exported"
exit $status
