#!/usr/bin/env bash
# Makes the fixture media of every test family into the folder given, with the
# ffmpeg tool. Each family keeps its own list in tests/<family>/fixtures.sh,
# which is sourced here and calls `fixture NAME 'COMMAND'` for each file: the
# command string (single-quoted, so that $OUT and $FF expand late) writes "$OUT",
# a temporary name, and the file is then kept under NAME. Files that exist
# already are not made again. $FIXTURES names the folder, for commands that read
# other fixtures.
set -euo pipefail
FIXTURES=${1:?usage: make_fixtures.sh DIR [FAMILY...]}
shift
families=("$@")
mkdir -p "$FIXTURES"
FIXTURES=$(cd "$FIXTURES" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
export FIXTURES

fixture() {
  local name=$1 command=$2
  [[ -s "$FIXTURES/$name" ]] && return 0
  local ext=${name##*.}
  OUT="$FIXTURES/.tmp.$$.$RANDOM.$ext"
  if ! eval "$command" </dev/null >"$FIXTURES/.log.$name" 2>&1; then
    echo "fixture $name failed:" >&2
    tail -20 "$FIXTURES/.log.$name" >&2
    rm -f "$OUT"
    return 1
  fi
  mv -f "$OUT" "$FIXTURES/$name"
  rm -f "$FIXTURES/.log.$name"
}
FF="ffmpeg -nostdin -hide_banner -loglevel error -y"

for list in "$HERE"/*/fixtures.sh; do
  [[ -f "$list" ]] || continue
  if ((${#families[@]})); then
    family=$(basename "$(dirname "$list")")
    [[ $family == common || " ${families[*]} " == *" $family "* ]] || continue
  fi
  # shellcheck source=/dev/null
  source "$list"
done
echo "fixtures ready in $FIXTURES"
