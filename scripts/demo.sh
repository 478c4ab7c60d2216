#!/usr/bin/env bash
# Installs the dependencies, builds, and runs the tarsel tool on sample media
# made here.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh
bash scripts/build.sh build -DTARSEL_TESTS=OFF -DTARSEL_BENCH=OFF
mkdir -p build/demo
sample=build/demo/sample.mp4
[[ -s $sample ]] || ffmpeg -nostdin -hide_banner -loglevel error -y \
  -f lavfi -i testsrc2=size=320x240:rate=25 -t 10 -c:v libx264 -pix_fmt yuv420p "$sample"
./build/tools/tarsel info "$sample"
