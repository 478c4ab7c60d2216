#!/usr/bin/env bash
# The shared library exports exactly names of the export list, and every name of
# the list that it defines points where the list says (aliases share an address).
# Usage: check_exports.sh LIBRARY EXPORT_LIST [--all]
#   --all: every name of the list must be exported.
set -euo pipefail
lib=$1 list=$2 all=${3:-}
mapfile -t listed < <(grep -v '^#' "$list" | sed -E 's/[[:space:]]*=.*$//' | grep .)
mapfile -t exported < <(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWi]$/ || $2 == "T" {print $3}' | sort -u)
status=0
for name in "${exported[@]}"; do
  if ! printf '%s\n' "${listed[@]}" | grep -qx "$name"; then
    echo "exported but not in the list: $name"; status=1
  fi
done
if [[ "$all" == "--all" ]]; then
  for name in "${listed[@]}"; do
    if ! printf '%s\n' "${exported[@]}" | grep -qx "$name"; then
      echo "in the list but not exported: $name"; status=1
    fi
  done
fi
# Every defined symbol at all (data too) must be a listed name.
others=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v -x -F -f <(printf '%s\n' "${listed[@]}") || true)
if [[ -n "$others" ]]; then echo "other exported symbols:"; echo "$others"; status=1; fi
# Aliases share one address.
while read -r alias target; do
  a=$(nm -D --defined-only "$lib" | awk -v n="$alias" '$3 == n {print $1}')
  t=$(nm -D --defined-only "$lib" | awk -v n="$target" '$3 == n {print $1}')
  if [[ -n "$a" || -n "$t" ]] && [[ "$a" != "$t" ]]; then
    echo "$alias ($a) and $target ($t) differ"; status=1
  fi
done < <(grep -v '^#' "$list" | grep '=' | sed -E 's/[[:space:]]*=[[:space:]]*/ /')
echo "${#exported[@]} of ${#listed[@]} listed names exported"
exit $status
