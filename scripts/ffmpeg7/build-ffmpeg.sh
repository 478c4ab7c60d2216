#!/usr/bin/env bash
# Builds FFmpeg 7.1 for Linux (shared libraries, with its ffmpeg and ffprobe
# tools) from Debian 13's source package into a prefix outside the repository,
# and prints that prefix as the last line of its output. The prefix is named
# after a hash of the configure line and the source version, so an unchanged
# build is reused.
#
# Only what the library and the tests' fixture commands use is built: the
# codecs, containers, parsers and filters below, libx264, libvpx, LAME, Vorbis and Opus from
# Debian 12 for the fixtures, and the file and network protocols. A fixture
# command that needs more fails with FFmpeg's own message ("Unknown encoder",
# "Unrecognized option", "No such filter"): add the component to the lists here.
#
# The source comes from Debian's archive through a private apt configuration
# (a deb-src entry for trixie), so the machine's own apt sources stay as they are.
#
# Usage: build-ffmpeg.sh            (installs its apt packages when missing)
# Environment:
#   TARSEL_FFMPEG_CACHE  folder holding the prefixes (default /var/cache/tarsel)
#   JOBS                 parallel make jobs (default: number of cores)
set -euo pipefail

cache=${TARSEL_FFMPEG_CACHE:-/var/cache/tarsel}
jobs=${JOBS:-$(nproc)}
suite=trixie
log() { echo "build-ffmpeg7: $*" >&2; }

SUDO=""
[[ $(id -u) -ne 0 ]] && SUDO=sudo

decoders=wrapped_avframe,h264,hevc,mpeg4,mpeg1video,mpeg2video,h263,flv,ffv1,huffyuv,mjpeg,rawvideo,vp8,vp9,gif
decoders+=,aac,aac_latm,mp3,mp3float,mp2,mp2float,ac3,flac,vorbis,opus,wavpack
decoders+=,pcm_s16le,pcm_s16be,pcm_s24le,pcm_s32le,pcm_f32le,pcm_f64le,pcm_u8,pcm_alaw,pcm_mulaw
encoders=libx264,ffv1,huffyuv,mpeg4,mpeg1video,mpeg2video,h263,flv,mjpeg,rawvideo,wrapped_avframe
encoders+=,libvpx_vp8,libvorbis,libopus,aac,libmp3lame,mp2,ac3,ac3_fixed,flac,wavpack
encoders+=,pcm_s16le,pcm_s16be,pcm_s24le,pcm_s32le,pcm_f32le,pcm_u8
muxers=mp4,mov,ipod,tgp,tg2,matroska,webm,avi,nut,mpegts,mpeg1system,adts,wav,flv,h264,mjpeg,rawvideo
muxers+=,matroska_audio,ogg,mp3,wv,flac,framemd5,md5,framecrc,null,pcm_s16le,image2
demuxers=mov,matroska,avi,nut,mpegts,mpegps,mpegvideo,aac,h264,hevc,m4v,wav,mp3,flv,mjpeg
demuxers+=,rawvideo,wv,flac,ogg,ac3,gif,pcm_s16le,concat,rtsp,sdp,rtp,image2
parsers=h264,hevc,aac,aac_latm,mpeg4video,mpegvideo,mpegaudio,mjpeg,vp8,vp9,ac3,flac,opus,vorbis
bsfs=h264_mp4toannexb,hevc_mp4toannexb,aac_adtstoasc,extract_extradata,vp9_superframe
bsfs+=,mpeg4_unpack_bframes,h264_metadata,null,setts
filters=testsrc,testsrc2,color,sine,aevalsrc,anullsrc,scale,aresample,format,aformat,null,anull
filters+=,hue,setsar,setdar,select,aselect,pan,geq,fps,trim,atrim,copy,settb,asettb,setpts,asetpts
protocols=file,pipe,concat,tcp,udp,rtp,http,rtmp
configure_args=(
  --enable-shared --disable-static --disable-doc --disable-debug --enable-rpath
  --disable-autodetect --enable-pthreads --disable-everything
  --enable-gpl --enable-libx264 --enable-libvpx --enable-libmp3lame --enable-libvorbis --enable-libopus
  --disable-ffplay --disable-postproc --enable-avdevice --enable-indev=lavfi
  --enable-decoder="$decoders" --enable-encoder="$encoders"
  --enable-muxer="$muxers" --enable-demuxer="$demuxers"
  --enable-parser="$parsers" --enable-bsf="$bsfs" --enable-filter="$filters"
  --enable-protocol="$protocols" --enable-network --enable-swscale --enable-swresample
)

install_packages() {
  local packages=(build-essential nasm pkg-config libx264-dev libvpx-dev libmp3lame-dev libvorbis-dev libopus-dev xz-utils dpkg-dev)
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

# apt with only a deb-src entry for the suite, its lists kept in the cache.
apt_dir=$cache/apt-$suite-src
apt_private() {
  local tool=$1
  shift
  "$tool" -o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null \
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache" "$@"
}
update_source_index() {
  local uri
  uri=$(awk '/^URIs:/ && $2 ~ /debian\/?$/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources \
          2>/dev/null || true)
  uri=${uri:-http://deb.debian.org/debian}
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri $suite main" \
    >"$apt_dir/sources.list"
  apt_private apt-get update -q >&2
}
source_version() {
  local version
  version=$(apt_private apt-cache showsrc ffmpeg | awk '/^Version:/ {print $2}' | sort -V | tail -1)
  [[ $version == *:7.1.* ]] || { log "no FFmpeg 7.1 source in $suite (found '$version')"; exit 1; }
  echo "$version"
}

install_packages
$SUDO mkdir -p "$cache"
[[ -w $cache ]] || $SUDO chown "$(id -u):$(id -g)" "$cache"
exec 8>"$cache/.lock-apt-$suite-src"
flock 8
update_source_index
version=$(source_version)
exec 8>&-

key=$(printf '%s\n' "$version" "${configure_args[@]}" | sha256sum | cut -c1-16)
prefix=$cache/ffmpeg7-linux-$key
if [[ -f $prefix/.complete ]]; then
  log "reusing $prefix (FFmpeg $version)"
  echo "$prefix"
  exit 0
fi
exec 9>"$cache/.lock-$key"
flock 9
if [[ -f $prefix/.complete ]]; then # built by another run while this one waited
  echo "$prefix"
  exit 0
fi

work=$cache/src-$key
rm -rf "$work" "$prefix"
mkdir -p "$work"
log "fetching FFmpeg $version source"
(cd "$work" && apt_private apt-get source -q "ffmpeg=$version" >&2)
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
