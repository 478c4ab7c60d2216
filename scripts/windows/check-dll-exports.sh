#!/usr/bin/env bash
# tarsel.dll's export table holds exactly the names of the export list that are
# not pending, undecorated, and the two names of each shared pair have one
# address. Reads the table with objdump, as Windows' loader would see it.
# Usage: check-dll-exports.sh DLL EXPORT_LIST PENDING_LIST [MODULE_DEF]
# With MODULE_DEF (a build of some families only), names the module definition
# leaves out are not expected either.
set -euo pipefail
dll=$1 list=$2 pending=$3 only=${4:-}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}

names_of_list() { grep -v '^#' "$list" | sed -E 's/[[:space:]]*=.*$//; s/[[:space:]]+$//' | grep .; }
expected=$(names_of_list | grep -v -x -F -f <(grep -v '^#' "$pending" | grep . || echo '-') | sort)
if [[ -n $only ]]; then
  in_def=$(sed -n '/^EXPORTS/,$p' "$only" | tail -n +2 | sed -E 's/^[[:space:]]+//; s/[=[:space:]].*$//' | grep . | sort)
  expected=$(comm -12 <(echo "$expected") <(echo "$in_def"))
  echo "checking the $(grep -c . <<<"$expected") names of $(basename "$only") (a partial build)"
fi

table=$("$objdump" -p "$dll")
# "[   i] NAME" of the name table; i indexes the export address table.
names=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /^$/ {on=0} on {gsub(/[][]/, " "); print $1, $2}' <<<"$table")
# "[   i] +base[   o] RVA Export RVA"
addresses=$(awk '/^Export Address Table -- Ordinal Base/ {on=1; next} on && /^$/ {on=0}
                 on {gsub(/[][]/, " "); print $1, $4}' <<<"$table")
exported=$(awk '{print $2}' <<<"$names" | grep . | sort || true)

status=0
if [[ "$expected" != "$exported" ]]; then
  echo "exported names differ from the list (< expected, > exported):"
  diff <(echo "$expected") <(echo "$exported") || true
  status=1
fi
decorated=$(grep -v -E '^[A-Za-z][A-Za-z0-9_]*$' <<<"$exported" || true)
if [[ -n $decorated ]]; then
  echo "decorated names exported:"; echo "$decorated"; status=1
fi

address_of() {
  local index
  index=$(awk -v n="$1" '$2 == n {print $1}' <<<"$names")
  [[ -n $index ]] && awk -v i="$index" '$1 == i {print $2}' <<<"$addresses"
}
while read -r alias target; do
  a=$(address_of "$alias" || true)
  t=$(address_of "$target" || true)
  if [[ -n "$a$t" && "$a" != "$t" ]]; then
    echo "$alias (${a:-absent}) and $target (${t:-absent}) differ"; status=1
  fi
done < <(grep -v '^#' "$list" | grep '=' | sed -E 's/[[:space:]]*=[[:space:]]*/ /')
echo "$(grep -c . <<<"$exported" || true) names exported"
exit $status
