#!/usr/bin/env bash
# Installs the dependencies, builds, and runs every test: a normal build, then an
# AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh

jobs=$(nproc)
echo "== normal build"
bash scripts/build.sh build -DTARSEL_FIXTURE_DIR="$root/build/fixtures"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== sanitizer build"
bash scripts/build.sh build-asan -DTARSEL_SANITIZE=ON -DTARSEL_BENCH=OFF \
  -DTARSEL_FIXTURE_DIR="$root/build/fixtures"
# Both builds share the fixtures, made once.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"
echo "== all tests passed"
