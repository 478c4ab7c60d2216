#!/usr/bin/env bash
# Installs the dependencies, builds the library and its tool, and runs
# `tarsel demo`: a clip made by the library's own writers, what the readers see
# in it, a contact sheet, an FFV1 copy and an H.264 stream stored in MP4 (with
# TARSEL_FAKE_DEVICES=1, the capture steps use the virtual camera and
# microphone). Everything it makes is left in build-demo/demo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh
bash scripts/build.sh build-demo -DTARSEL_TESTS=OFF -DTARSEL_BENCH=OFF
TARSEL_FAKE_DEVICES=1 ./build-demo/tools/tarsel demo "$root/build-demo/demo"
