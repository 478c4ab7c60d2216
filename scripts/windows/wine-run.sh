#!/usr/bin/env bash
# Runs a Windows program under Wine for the cross build (CMake's emulator).
# Usage: wine-run.sh WINEPREFIX DLLDIR... -- PROGRAM [ARGS...]
# The Wine prefix is made on first use. The DLL folders become WINEPATH, so the
# program finds tarsel.dll and FFmpeg's DLLs. When the program cannot start
# because a DLL is missing, the missing names are printed.
set -uo pipefail
wine=${TARSEL_WINE:-/usr/lib/wine/wine64}
wineserver=${TARSEL_WINESERVER:-/usr/lib/wine/wineserver}

export WINEPREFIX=$1
shift
dll_dirs=()
while (($#)) && [[ $1 != -- ]]; do
  dll_dirs+=("$1")
  shift
done
shift || true
(($#)) || { echo "usage: wine-run.sh WINEPREFIX DLLDIR... -- PROGRAM [ARGS...]" >&2; exit 2; }

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY
WINEPATH=$(IFS=';'; echo "${dll_dirs[*]}")
export WINEPATH

# The server and the prefix's services must not inherit the caller's output
# (ctest waits for its pipes to close), so they start with stdio redirected.
# scripts/windows/test.sh starts them before ctest and stops them after; this
# covers ctest or a program run by hand (the server then ends a minute after
# the last program).
# The socket of a running server for this prefix (named after the folder's
# device and inode, as Wine does).
server_running() {
  local id dev ino
  id=$(stat -c '%d %i' "$WINEPREFIX" 2>/dev/null) || return 1
  read -r dev ino <<<"$id"
  local server socket
  server=$(printf 'server-%x-%x' "$dev" "$ino")
  # Wine keeps it in /tmp/.wine-UID; Debian's build in a /tmp/wine-XXXXXX folder.
  for socket in "/tmp/.wine-$(id -u)/$server/socket" /tmp/wine-*/"$server/socket" \
                "${XDG_RUNTIME_DIR:-/nonexistent}"/wine*/"$server/socket"; do
    [[ -S $socket && -O $socket ]] && return 0
  done
  return 1
}
mkdir -p "$WINEPREFIX"
if [[ ! -f $WINEPREFIX/.update-timestamp ]] || ! server_running; then
  "$wineserver" -p60 </dev/null >/dev/null 2>&1
  "$wine" wineboot </dev/null >/dev/null 2>&1
fi

"$wine" "$@"
status=$?

# Names of the DLLs a Windows module imports.
imports() { x86_64-w64-mingw32-objdump -p "$1" 2>/dev/null | awk '/DLL Name:/ {print $3}'; }

# Whether a DLL can be found: next to the program, in a DLL folder, or among
# Wine's own (system32 of the prefix). Prints its path.
findable() {
  local name=${1,,} dir file base
  for dir in "$(dirname "$program")" "${dll_dirs[@]}" "$WINEPREFIX/drive_c/windows/system32"; do
    for file in "$dir"/*; do
      base=${file##*/}
      [[ ${base,,} == "$name" ]] && { echo "$file"; return 0; }
    done
  done
  return 1
}

if ((status != 0 && status != 1)); then
  program=$1
  declare -A seen=()
  queue=("$program")
  missing=()
  while ((${#queue[@]})); do
    module=${queue[0]}
    queue=("${queue[@]:1}")
    for name in $(imports "$module"); do
      [[ -n ${seen[${name,,}]:-} ]] && continue
      seen[${name,,}]=1
      if found=$(findable "$name"); then
        # Only DLLs of the build and of FFmpeg are followed; Wine's are complete.
        [[ $found == "$WINEPREFIX"/* ]] || queue+=("$found")
      else
        missing+=("$name (needed by ${module##*/})")
      fi
    done
  done
  if ((${#missing[@]})); then
    echo "wine-run: ${program##*/} cannot start (exit $status): DLL not found:" >&2
    printf '  %s\n' "${missing[@]}" >&2
    echo "  searched: $(dirname "$program") ${dll_dirs[*]} and Wine's system32" >&2
  fi
fi
exit $status
