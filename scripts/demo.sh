#!/usr/bin/env bash
# Installs the dependencies, builds the library and its tool, and runs
# `tarsel demo`: a clip with sound made by the library's own encoder, what the
# readers see in it, a contact sheet, an FFV1 copy, an H.264 stream stored in
# MP4, the sound as WAV, and two seconds recorded from the virtual camera and
# microphone (TARSEL_FAKE_DEVICES=1). Everything it makes is left in
# build-demo/demo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh
bash scripts/build.sh build-demo -DTARSEL_TESTS=OFF -DTARSEL_BENCH=OFF
TARSEL_FAKE_DEVICES=1 ./build-demo/tools/tarsel demo "$root/build-demo/demo"
