#!/usr/bin/env bash
# Cross-builds tarsel.dll and the test programs for Windows x64 with mingw-w64,
# and runs the tests under Wine.
# Usage: scripts/windows/test.sh [BUILD_DIR] [cmake options...]
#   BUILD_DIR defaults to build-windows in the repository. Every family is built
#   unless the options say otherwise (-DTARSEL_ONLY="reader;writers").
# Environment: JOBS (parallel jobs, default: cores), TARSEL_FFMPEG_CACHE (see
# build-ffmpeg.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
here=$root/scripts/windows
build=${1:-$root/build-windows}
shift || true
jobs=${JOBS:-$(nproc)}
wine=${TARSEL_WINE:-/usr/lib/wine/wine64}
wineserver=${TARSEL_WINESERVER:-/usr/lib/wine/wineserver}

echo "== Windows: FFmpeg for Windows x64"
prefix=$(JOBS=$jobs bash "$here/build-ffmpeg.sh" | tail -1)
[[ -d $prefix/bin ]] || { echo "FFmpeg for Windows not found (build-ffmpeg.sh said '$prefix')" >&2; exit 1; }

echo "== Windows: tarsel.dll and the tests (in $build)"
mkdir -p "$build"
build=$(cd "$build" && pwd)
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DTARSEL_FFMPEG_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARSEL_TOOLS=OFF -DTARSEL_BENCH=OFF -DTARSEL_FIXTURE_DIR="$build/fixtures" -DTARSEL_ONLY= \
  "$@" >/dev/null
cmake --build "$build" -j"$jobs"

# Every DLL that tarsel.dll needs from FFmpeg must be in FFmpeg's bin folder:
# a missing one would otherwise show only as tests that cannot start.
dll=$build/src/tarsel.dll
missing=()
for name in $(x86_64-w64-mingw32-objdump -p "$dll" | awk '/DLL Name:/ {print $3}'); do
  case ${name,,} in
    av*.dll | sw*.dll | postproc*.dll)
      [[ -f $prefix/bin/$name ]] || missing+=("$name") ;;
  esac
done
if ((${#missing[@]})); then
  echo "tarsel.dll imports FFmpeg DLLs that $prefix/bin lacks: ${missing[*]}" >&2
  exit 1
fi

# The Wine server and the prefix's services start here, with stdio redirected:
# started from inside ctest they would hold its output pipe open. They stop
# when this script ends, whatever the result.
export WINEPREFIX=$build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"
stop_wine() { "$wineserver" -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
"$wineserver" -p </dev/null >/dev/null 2>&1 || true
if ! "$wine" wineboot </dev/null >/dev/null 2>&1; then
  echo "wineboot failed for $WINEPREFIX" >&2
  exit 1
fi

echo "== Windows: tests under $("$wine" --version)"
status=0
ctest --test-dir "$build" --output-on-failure -j"$jobs" || status=$?

# ctest names skipped tests without GoogleTest's reason; the log has it.
log=$build/Testing/Temporary/LastTest.log
if [[ -f $log ]] && grep -q ': Skipped$' "$log"; then
  echo "== Windows: skipped tests and why"
  awk '/: Skipped$/ {getline reason; pending = reason; next}
       /^\[  SKIPPED \]/ && pending != "" {print "  " $4 ": " pending; pending = ""}' "$log"
fi
((status == 0)) || { echo "== Windows: tests failed" >&2; exit "$status"; }
echo "== Windows: all tests passed"
