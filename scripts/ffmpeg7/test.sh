#!/usr/bin/env bash
# Builds the library and its tests against FFmpeg 7.1 (built by build-ffmpeg.sh,
# cached) with warnings as errors, so that an FFmpeg deprecation shows before
# the field is gone, and runs every Linux test. The fixtures and their
# references are made by that build's own ffmpeg and ffprobe tools.
# Usage: scripts/ffmpeg7/test.sh [BUILD_DIR] [cmake options...]
# Environment: JOBS (parallel jobs, default: cores), TARSEL_FFMPEG_CACHE (see
# build-ffmpeg.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build-ffmpeg7}
shift || true
jobs=${JOBS:-$(nproc)}

echo "== FFmpeg 7.1: the libraries and tools"
prefix=$(JOBS=$jobs bash "$root/scripts/ffmpeg7/build-ffmpeg.sh" | tail -1)
[[ -x $prefix/bin/ffmpeg ]] || { echo "FFmpeg 7.1 not found (build-ffmpeg.sh said '$prefix')" >&2; exit 1; }
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
export PATH=$prefix/bin:$PATH

echo "== FFmpeg 7.1: the library and the tests (in $build)"
# CMake keeps the FFmpeg it found: a folder configured against an older build
# of FFmpeg 7.1 (another configure line) is configured afresh.
if [[ -f $build/CMakeCache.txt ]] && ! grep -q "=$prefix/lib/" "$build/CMakeCache.txt"; then
  rm "$build/CMakeCache.txt"
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  -DTARSEL_BENCH=OFF -DTARSEL_TOOLS=OFF -DTARSEL_FIXTURE_DIR="$build/fixtures" -DTARSEL_ONLY= \
  "$@" >/dev/null
cmake --build "$build" -j"$jobs"
linked=$(objdump -p "$build/src/libtarsel.so" | awk '/NEEDED/ && /libavcodec/ {print $2}')
[[ $linked == libavcodec.so.61 ]] || { echo "libtarsel.so needs $linked, not FFmpeg 7.1's" >&2; exit 1; }

echo "== FFmpeg 7.1: tests, fixtures by $(ffmpeg -version | head -1)"
ctest --test-dir "$build" --output-on-failure -j"$jobs"
