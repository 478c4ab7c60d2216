#!/usr/bin/env bash
# Installs the dependencies, builds, and runs the tarsel tool on its built-in
# sample media: a clip it writes with the library's own FFV1 writer and then
# reads back (information, every picture, one picture by index as a bitmap).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh
bash scripts/build.sh build-demo -DTARSEL_TESTS=OFF -DTARSEL_BENCH=OFF
mkdir -p build-demo/sample
./build-demo/tools/tarsel demo build-demo/sample
