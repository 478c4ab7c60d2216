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

# Damaged copies of fixtures, for the tables of broken input (each writes "$OUT"):
#   cut_at SOURCE COUNT      the first COUNT bytes (a negative COUNT drops bytes at the end)
#   poke SOURCE OFFSET HEX   bytes written over SOURCE's at OFFSET (negative: from the end)
#   flip SOURCE OFFSET       one bit (0x10) of the byte at OFFSET inverted
#   offset_of FILE TEXT      the offset of TEXT's first occurrence in FILE
cut_at() {
  local count=$2
  ((count >= 0)) || count=$(($(stat -c %s "$1") + count))
  head -c "$count" "$1" >"$OUT"
}
poke() {
  local at=$2
  ((at >= 0)) || at=$(($(stat -c %s "$1") + at))
  cp "$1" "$OUT"
  printf '%b' "$(sed 's/../\\x&/g' <<<"$3")" | dd of="$OUT" bs=1 seek="$at" conv=notrunc status=none
}
flip() {
  local byte
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  poke "$1" "$2" "$(printf '%02x' $((byte ^ 0x10)))"
}
offset_of() { grep -obUaF "$2" "$1" | head -1 | cut -d: -f1; }

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
