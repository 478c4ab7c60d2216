#!/usr/bin/env bash
# Installs what building and testing Tarsel needs on Debian 12, with apt-get.
# Does nothing when everything is there already.
set -euo pipefail
packages=(build-essential cmake pkg-config ffmpeg libavformat-dev libavcodec-dev
          libavutil-dev libswscale-dev libswresample-dev libgtest-dev binutils
          python3-numpy python3-pytest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO=sudo
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
