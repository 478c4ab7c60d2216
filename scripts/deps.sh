#!/usr/bin/env bash
# Installs what building and testing Tarsel needs on Debian 12, with apt-get.
# Does nothing when everything is there already.
set -euo pipefail
packages=(build-essential cmake pkg-config ffmpeg libavformat-dev libavcodec-dev
          libavutil-dev libswscale-dev libswresample-dev libasound2-dev libgtest-dev binutils
          python3-numpy python3-pytest dpkg-dev file
          # the loopback servers of the reader's network tests (RTSP, HTTP)
          python3-gi gir1.2-gst-rtsp-server-1.0 gstreamer1.0-plugins-good
          gstreamer1.0-plugins-bad
          # the tarsel tool, and its tests
          libcli11-dev libspng-dev nlohmann-json3-dev jq
          # the fuzz targets (libFuzzer)
          clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "run this as root, or install sudo" >&2; exit 1; }
    SUDO=sudo
  fi
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
