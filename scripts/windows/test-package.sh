#!/usr/bin/env bash
# Uses the Windows zip as a Windows developer would, under Wine: unpacks it,
# builds the examples against it with find_package (MinGW's import library)
# and one of them against lib/tarsel.lib (the MSVC import library), runs them
# with only the zip's DLLs, and checks their output (run-examples.sh). The
# tarsel.lib program also runs with Media Foundation's DLLs disabled: the DLL
# must load and read video without them.
# Usage: scripts/windows/test-package.sh ZIP [WORK_DIR]
# Environment: WINEPREFIX (a prefix to reuse; default: one in WORK_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
here=$root/scripts/windows
zip=$(cd "$(dirname "${1:?usage: test-package.sh ZIP [WORK_DIR]}")" && pwd)/$(basename "$1")
work=${2:-$(dirname "$zip")/package-test}
triple=x86_64-w64-mingw32
fail() { echo "package test: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
(cd "$work" && cmake -E tar xf "$zip")
tree=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'tarsel-*-win64')
[[ -n $tree ]] || fail "$zip holds no tarsel-*-win64 folder"
for file in bin/tarsel.dll include/tarsel.h lib/libtarsel.dll.a lib/tarsel.lib lib/tarsel.def \
            lib/cmake/Tarsel/TarselConfig.cmake README-windows.txt LICENSE THIRD-PARTY.md; do
  [[ -f $tree/$file ]] || fail "the zip lacks $file"
done
# objdump's output is taken whole before grep looks at it: under pipefail,
# grep -q leaving early would fail the pipeline by objdump's broken pipe.
sections=$("$triple-objdump" -h "$tree/bin/tarsel.dll")
if grep -q '\.debug_info' <<<"$sections"; then
  fail "tarsel.dll still holds its debug sections"
fi
imports=$("$triple-objdump" -p "$tree/bin/tarsel.dll" | awk '/DLL Name:/ {print $3}')
if grep -iq '^mf' <<<"$imports"; then fail "tarsel.dll imports Media Foundation at load: $imports"; fi

echo "-- examples with find_package against the zip"
cmake -S "$root/examples" -B "$work/cmake" -DCMAKE_SYSTEM_NAME=Windows \
  -DCMAKE_C_COMPILER="$triple-gcc" -DCMAKE_RC_COMPILER="$triple-windres" \
  -DCMAKE_FIND_ROOT_PATH="$tree" -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY \
  -DCMAKE_PREFIX_PATH=/ -DCMAKE_BUILD_TYPE=Release >"$work/cmake.log"
cmake --build "$work/cmake" -j2 >>"$work/cmake.log" || { cat "$work/cmake.log"; fail "build failed"; }
mkdir -p "$work/bin"
cp "$work"/cmake/*/*.exe "$work/bin/"

echo "-- read_frames linked against tarsel.lib"
"$triple-gcc" -O2 -Wall -Wextra -Werror -I"$tree/include" "$root/examples/read_frames/read_frames.c" \
  "$tree/lib/tarsel.lib" -o "$work/read_frames_msvc_implib.exe"
program_imports=$("$triple-objdump" -p "$work/read_frames_msvc_implib.exe")
grep -q 'DLL Name: tarsel.dll' <<<"$program_imports" ||
  fail "the program linked against tarsel.lib does not import tarsel.dll"

export WINEPREFIX=${WINEPREFIX:-$work/wine}
runner=(bash "$here/wine-run.sh" "$WINEPREFIX" "$tree/bin" --)
bash "$root/scripts/install/run-examples.sh" "$work/run" "$work/bin" "${runner[@]}"

echo "-- without Media Foundation"
WINEDLLOVERRIDES="mscoree,mshtml,mfplat,mf,mfreadwrite=" \
  "${runner[@]}" "$work/read_frames_msvc_implib.exe" "Z:$work/run/clip.mkv" "Z:$work/run/frames" 1 \
  >"$work/no-mf.log" 2>&1 || { cat "$work/no-mf.log"; fail "tarsel.dll does not work without Media Foundation"; }
grep -q "frame 0 at" "$work/no-mf.log" || { cat "$work/no-mf.log"; fail "no picture read without Media Foundation"; }
echo "package test: passed ($(basename "$zip"))"
