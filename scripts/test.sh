#!/usr/bin/env bash
# Installs the dependencies, builds, and runs every test:
#   1. the normal Linux build, and the Python package over its library;
#   2. an AddressSanitizer + UndefinedBehaviorSanitizer build (leaks included);
#   3. a ThreadSanitizer build of the capture family, whose objects are called
#      from worker threads, and of the stress tests (readers and writers on
#      many threads, recordings from capture threads);
#   4. the fuzz targets (clang): every committed regression input, then 60 s of
#      fuzzing each;
#   5. the Windows x64 DLL, cross-built with mingw-w64, its tests run under Wine;
#      then the Windows zip, its DLL used from the examples under Wine;
#   6. the install: the examples built against an installed copy (find_package,
#      pkg-config), inside another project, and the Debian package;
#   7. the normal build against FFmpeg 7.1, built from Debian 13's source.
# Set TARSEL_SKIP_WINDOWS=1 or TARSEL_SKIP_FFMPEG7=1 to leave out step 5 or 7.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh

jobs=$(nproc)
fixtures="$root/build/fixtures"  # made once, shared by the Linux builds
step() { echo; echo "== $1 ($(date -u +%H:%M:%S))"; }

step "normal build"
bash scripts/build.sh build -DTARSEL_FIXTURE_DIR="$fixtures"
ctest --test-dir build --output-on-failure -j"$jobs"

step "Python package"
TARSEL_LIBRARY="$root/build/src/libtarsel.so" /usr/bin/python3 -m pytest -q -p no:cacheprovider \
  python/tests

step "sanitizer build"
bash scripts/build.sh build-asan -DTARSEL_SANITIZE=ON -DTARSEL_BENCH=OFF \
  -DTARSEL_FIXTURE_DIR="$fixtures"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

step "thread sanitizer build of the capture family and the stress tests"
bash scripts/build.sh build-tsan -DTARSEL_TSAN=ON -DTARSEL_ONLY="mediafoundation;stress" \
  -DTARSEL_BENCH=OFF -DTARSEL_TOOLS=OFF -DTARSEL_FIXTURE_DIR="$fixtures"
# The thousand-round lifecycles run on one thread; the sanitizer build checks them.
TSAN_OPTIONS="halt_on_error=1 suppressions=$root/tests/tsan.supp" \
  ctest --test-dir build-tsan --output-on-failure -j"$jobs" -E Lifecycle

step "fuzz targets"
bash scripts/fuzz.sh 60

if [[ "${TARSEL_SKIP_WINDOWS:-0}" != 1 ]]; then
  step "Windows x64 build under Wine"
  bash scripts/windows/test.sh "$root/build-windows"
  step "Windows zip under Wine"
  zip=$(bash scripts/windows/package.sh "$root/build-windows" | tail -1)
  WINEPREFIX="$root/build-windows/wine" bash scripts/windows/test-package.sh "$zip"
fi

step "install, examples and Debian package"
bash scripts/install/test.sh build

if [[ "${TARSEL_SKIP_FFMPEG7:-0}" != 1 ]]; then
  step "FFmpeg 7.1 build"
  bash scripts/ffmpeg7/test.sh "$root/build-ffmpeg7"
fi
step "all tests passed"
