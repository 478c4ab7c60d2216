#!/usr/bin/env bash
# Builds FFmpeg 5.1 for Windows x64 (shared DLLs, mingw-w64) from Debian's
# source package into a prefix outside the repository, and prints that prefix
# as the last line of its output. The prefix is named after a hash of the
# configure line and the source version, so an unchanged build is reused.
#
# Usage: build-ffmpeg.sh            (installs its apt packages when missing)
# Environment:
#   TARSEL_FFMPEG_CACHE  folder holding the prefixes (default /var/cache/tarsel)
#   JOBS                 parallel make jobs (default: number of cores)
set -euo pipefail

cache=${TARSEL_FFMPEG_CACHE:-/var/cache/tarsel}
jobs=${JOBS:-$(nproc)}
log() { echo "build-ffmpeg: $*" >&2; }

SUDO=""
[[ $(id -u) -ne 0 ]] && SUDO=sudo

# What FFmpeg must hold: the codecs and containers the library and its tests
# read and write. Everything else is left out to keep the build short.
decoders=h264,hevc,mpeg4,mpeg1video,mpeg2video,h263,flv,ffv1,huffyuv,mjpeg,rawvideo,vp8,vp9,gif
decoders+=,aac,aac_latm,mp3,mp3float,mp2,mp2float,ac3,flac,vorbis,opus,wavpack
decoders+=,pcm_s16le,pcm_s16be,pcm_s24le,pcm_s32le,pcm_f32le,pcm_f64le,pcm_u8,pcm_alaw,pcm_mulaw
encoders=ffv1,huffyuv,mpeg4,mpeg1video,mpeg2video,h263,flv,mjpeg,rawvideo,h264_mf
encoders+=,aac,aac_mf,mp2,ac3,ac3_fixed,wavpack,pcm_s16le,pcm_s16be,pcm_s24le,pcm_f32le,pcm_u8
muxers=mp4,mov,ipod,matroska,webm,avi,nut,mpegts,mpeg1system,adts,wav,flv,h264,mjpeg,rawvideo,mp3,wv
demuxers=mov,matroska,avi,nut,mpegts,mpegps,mpegvideo,aac,h264,hevc,m4v,wav,mp3,flv,mjpeg,rawvideo,wv,flac,ogg,ac3,gif
# Network inputs of the video reader: RTSP (with its RTP depacketisers), HTTP
# files and MJPEG cameras.
demuxers+=,rtsp,rtp,sdp,mpjpeg
protocols=file,tcp,udp,rtp,http,httpproxy
parsers=h264,hevc,aac,aac_latm,mpeg4video,mpegvideo,mpegaudio,mjpeg,vp8,vp9,ac3,flac,opus,vorbis
bsfs=h264_mp4toannexb,hevc_mp4toannexb,aac_adtstoasc,extract_extradata,vp9_superframe
bsfs+=,mpeg4_unpack_bframes,h264_metadata
configure_args=(
  --target-os=mingw32 --arch=x86_64 --cross-prefix=x86_64-w64-mingw32-
  --enable-shared --disable-static --disable-programs --disable-doc --disable-debug
  --disable-avdevice --disable-avfilter --disable-postproc --enable-network
  --disable-autodetect --enable-w32threads --enable-mediafoundation --disable-everything
  --enable-decoder="$decoders" --enable-encoder="$encoders"
  --enable-muxer="$muxers" --enable-demuxer="$demuxers"
  --enable-parser="$parsers" --enable-bsf="$bsfs"
  --enable-protocol="$protocols" --enable-swscale --enable-swresample
)

install_packages() {
  local packages=(g++-mingw-w64-x86-64 mingw-w64-tools nasm wine64 gstreamer1.0-plugins-base
                  dpkg-dev xz-utils make pkg-config)
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    log "installing: ${missing[*]}"
    $SUDO apt-get update -q >&2
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends \
      "${missing[@]}" >&2
  fi
}

# A deb-src entry for the archive the binary packages come from.
add_source_entry() {
  local entry=/etc/apt/sources.list.d/tarsel-deb-src.sources
  [[ -f $entry ]] && return 0
  local binary=/etc/apt/sources.list.d/debian.sources
  if [[ ! -f $binary ]]; then
    log "no $binary to copy a deb-src entry from; add one for ffmpeg by hand"
    exit 1
  fi
  sed -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb-src/' "$binary" | $SUDO tee "$entry" >/dev/null
  $SUDO apt-get update -q >&2
}

# The source version: the one of the Linux FFmpeg packages from the same archive.
source_version() {
  local version
  version=$(apt-cache policy libavcodec-dev | awk '/Candidate:/ {print $2}')
  [[ -n $version && $version != "(none)" ]] || { log "cannot tell FFmpeg's source version"; exit 1; }
  echo "$version"
}

install_packages
version=$(source_version)
key=$(printf '%s\n' "$version" "${configure_args[@]}" | sha256sum | cut -c1-16)
prefix=$cache/ffmpeg-win64-$key
if [[ -f $prefix/.complete ]]; then
  log "reusing $prefix (FFmpeg $version)"
  echo "$prefix"
  exit 0
fi

$SUDO mkdir -p "$cache"
[[ -w $cache ]] || $SUDO chown "$(id -u):$(id -g)" "$cache"
exec 9>"$cache/.lock-$key"
flock 9
if [[ -f $prefix/.complete ]]; then # built by another run while this one waited
  echo "$prefix"
  exit 0
fi

add_source_entry
work=$cache/src-$key
rm -rf "$work" "$prefix"
mkdir -p "$work"
log "fetching FFmpeg $version source"
(cd "$work" && apt-get source -q "ffmpeg=$version" >&2)
source_dir=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'ffmpeg-*' | head -1)
[[ -n $source_dir ]] || { log "apt-get source gave no ffmpeg-* folder"; exit 1; }

start=$SECONDS
log "configuring into $prefix"
(cd "$source_dir" && ./configure --prefix="$prefix" "${configure_args[@]}" >"$work/configure.log" 2>&1) ||
  { tail -30 "$work/configure.log" >&2; log "configure failed ($work/configure.log)"; exit 1; }
grep -i 'warning' "$work/configure.log" >&2 || true
log "building with $jobs jobs"
(cd "$source_dir" && make -j"$jobs" >"$work/make.log" 2>&1 && make install >>"$work/make.log" 2>&1) ||
  { tail -30 "$work/make.log" >&2; log "make failed ($work/make.log)"; exit 1; }
cp "$work/configure.log" "$prefix/configure.log"
printf '%s\n' "FFmpeg $version" "${configure_args[@]}" >"$prefix/.complete"
log "built in $((SECONDS - start)) s"
rm -rf "$work"
echo "$prefix"
