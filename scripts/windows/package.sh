#!/usr/bin/env bash
# Makes the package for Windows users, tarsel-VERSION-win64.zip, from an
# optimised cross-build:
#   bin/      tarsel.dll (debug symbols moved out) and FFmpeg's DLLs
#   include/  tarsel.h
#   lib/      libtarsel.dll.a (MinGW), tarsel.lib (MSVC), tarsel.def,
#             cmake/Tarsel (find_package), pkgconfig/tarsel.pc
#   README-windows.txt, LICENSE, THIRD-PARTY.md, licenses/
# and beside it tarsel-VERSION-win64-debug.zip with tarsel.dll.debug, the DLL's
# debug symbols (gdb finds them through the DLL's debug link).
# Prints the zip's path as the last line of its output.
# Usage: scripts/windows/package.sh [BUILD_DIR [OUTPUT_DIR]]
#   BUILD_DIR defaults to build-windows-package, OUTPUT_DIR to BUILD_DIR. A
#   build folder of every family configured already (scripts/windows/test.sh
#   makes one) is used as it is.
# Environment: JOBS (parallel jobs, default: cores), TARSEL_FFMPEG_CACHE (see
# build-ffmpeg.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
here=$root/scripts/windows
build=${1:-$root/build-windows-package}
output=${2:-$build}
jobs=${JOBS:-$(nproc)}
triple=x86_64-w64-mingw32
log() { echo "package: $*" >&2; }

prefix=$(JOBS=$jobs bash "$here/build-ffmpeg.sh" | tail -1)
[[ -d $prefix/bin ]] || { log "FFmpeg for Windows not found (build-ffmpeg.sh said '$prefix')"; exit 1; }

log "building tarsel.dll in $build"
mkdir -p "$build" "$output"
build=$(cd "$build" && pwd)
output=$(cd "$output" && pwd)
cache=$build/CMakeCache.txt
if [[ -f $cache ]] && grep -q '^CMAKE_TOOLCHAIN_FILE:.*mingw-w64.cmake$' "$cache"; then
  grep -q '^TARSEL_ONLY:STRING=$' "$cache" || { log "$build builds some families only"; exit 1; }
  grep -q "^TARSEL_FFMPEG_PREFIX:PATH=$prefix\$" "$cache" ||
    { log "$build uses another FFmpeg than $prefix"; exit 1; }
else
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DTARSEL_FFMPEG_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARSEL_ONLY= \
    -DTARSEL_TESTS=OFF -DTARSEL_TOOLS=OFF -DTARSEL_BENCH=OFF >/dev/null
fi
grep -q '^CMAKE_BUILD_TYPE:STRING=\(RelWithDebInfo\|Release\)$' "$cache" ||
  { log "$build is not an optimised build"; exit 1; }
cmake --build "$build" -j"$jobs" --target tarsel tarsel_msvc_import_library >&2

stage=$build/stage
rm -rf "$stage"
cmake --install "$build" --prefix "$stage/tree" >/dev/null
version=$(awk '/#define TARSEL_VERSION_(MAJOR|MINOR|PATCH)/ {v = v sep $3; sep = "."} END {print v}' \
          "$stage/tree/include/tarsel.h")
name=tarsel-$version-win64
mv "$stage/tree" "$stage/$name"
tree=$stage/$name

# The DLL without its debug sections; they go to tarsel.dll.debug.
dll=$tree/bin/tarsel.dll
"$triple-objcopy" --only-keep-debug "$dll" "$stage/tarsel.dll.debug"
"$triple-strip" --strip-debug --strip-unneeded "$dll"
(cd "$stage" && "$triple-objcopy" --add-gnu-debuglink=tarsel.dll.debug "$dll")

# FFmpeg's DLLs that tarsel.dll imports, and only those.
for import in $("$triple-objdump" -p "$dll" | awk '/DLL Name:/ {print $3}'); do
  case ${import,,} in
    av*.dll | sw*.dll | postproc*.dll)
      [[ -f $prefix/bin/$import ]] || { log "$prefix/bin lacks $import"; exit 1; }
      cp "$prefix/bin/$import" "$tree/bin/" ;;
  esac
done

# The zip holds FFmpeg's DLLs but not its pkg-config files, and a program
# linking tarsel.dll needs nothing of FFmpeg: its pkg-config file names none.
sed -i '/^Requires.private:/d' "$tree/lib/pkgconfig/tarsel.pc"

cp "$root/LICENSE" "$root/THIRD-PARTY.md" "$tree/"
cp "$here/README-windows.txt" "$tree/README-windows.txt"
sed -i "s/@VERSION@/$version/g" "$tree/README-windows.txt"
mkdir -p "$tree/licenses"
cp /usr/share/common-licenses/LGPL-2.1 "$tree/licenses/FFmpeg-LGPL-2.1.txt"
cp /usr/share/doc/mingw-w64-x86-64-dev/copyright "$tree/licenses/mingw-w64-runtime.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$tree/licenses/gcc-runtime.txt"
grep -h "^FFmpeg " "$prefix/.complete" >"$tree/licenses/FFmpeg-version.txt"
sed -n '2,$p' "$prefix/.complete" | sed 's/^/  /' >>"$tree/licenses/FFmpeg-version.txt"
# Windows editors expect CRLF in the text files a user opens first.
sed -i 's/$/\r/' "$tree/README-windows.txt"

zip=$output/$name.zip
debug_zip=$output/$name-debug.zip
rm -f "$zip" "$debug_zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip "$name")
(cd "$stage" && cmake -E tar cf "$debug_zip" --format=zip tarsel.dll.debug)
log "$(du -h "$zip" | cut -f1) $zip (tarsel.dll $(du -h "$dll" | cut -f1)), symbols in $debug_zip"
echo "$zip"
