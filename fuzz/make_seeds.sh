#!/usr/bin/env bash
# Makes the seed inputs of every fuzz target with the ffmpeg tool:
#   make_seeds.sh DIR   ->  DIR/<target>/<seed>
# Each seed is the target's leading option bytes followed by a small media
# file or stream (see the comment at the top of each *_fuzzer.cpp). Seeds that
# exist already are kept.
set -euo pipefail
out=${1:?usage: make_seeds.sh DIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
V=(-f lavfi -i testsrc2=size=64x48:rate=25)
A=(-f lavfi -i sine=frequency=440:sample_rate=44100:duration=0.3)
SIX='pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0'

# seed TARGET NAME HEADER_HEX FILE: writes the header bytes, then the file.
seed() {
  local target=$1 name=$2 header=$3 file=$4
  mkdir -p "$out/$target"
  [[ -s "$out/$target/$name" ]] && return 0
  { printf '%b' "$(sed 's/../\\x&/g' <<<"$header")"; cat "$file"; } >"$out/$target/$name"
}
# medium NAME ARGS...: one file made into $work/NAME by the ffmpeg tool.
medium() {
  local name=$1
  shift
  [[ -s "$work/$name" ]] || ffmpeg -nostdin -hide_banner -loglevel error -y "$@" "$work/$name"
}

# Video in the containers and codecs the reader meets.
medium v.mp4 "${V[@]}" -frames:v 10 -c:v libx264 -bf 2 -g 5
medium v.mov "${V[@]}" -frames:v 6 -c:v mjpeg
medium v.mkv "${V[@]}" -frames:v 10 -c:v libx264 -bf 0 -g 4
medium v.webm "${V[@]}" -frames:v 6 -c:v libvpx -b:v 100k
medium v9.webm "${V[@]}" -frames:v 6 -c:v libvpx-vp9 -b:v 100k
medium v.avi "${V[@]}" -frames:v 10 -c:v mpeg4 -bf 1
medium v.ts "${V[@]}" -frames:v 10 -c:v libx264 -bf 2
medium v.flv "${V[@]}" -frames:v 10 -c:v libx264 -bf 0
medium v.h264 "${V[@]}" -frames:v 10 -c:v libx264 -bf 0 -f h264
medium v.mpg "${V[@]}" -frames:v 10 -c:v mpeg2video
medium v.ogv "${V[@]}" -frames:v 6 -c:v libtheora
medium v.mjpeg "${V[@]}" -frames:v 4 -c:v mjpeg -f mjpeg
medium v.gif "${V[@]}" -frames:v 4
medium v_ffv1.mkv "${V[@]}" -frames:v 3 -c:v ffv1
medium v_av.mp4 "${V[@]}" "${A[@]}" -frames:v 8 -c:v libx264 -c:a aac -shortest
# The reader's flags: bit 0 live, 1 aspect, 2 sequential, 3 cgi name; bits 4 to 7
# pick the requests.
flags=(10 f2 f4 30 50 90 f0 13 f6 f1 20 40 80 f0 14)
i=0
for f in v.mp4 v.mov v.mkv v.webm v9.webm v.avi v.ts v.flv v.h264 v.mpg v.ogv v.gif v_ffv1.mkv v_av.mp4; do
  seed video_reader_fuzzer "$f" "${flags[i]}" "$work/$f"
  i=$((i + 1))
done
seed video_reader_fuzzer camera.cgi 19 "$work/v.mjpeg"

# Audio in the containers and codecs the audio reader meets.
medium a.wav "${A[@]}" -c:a pcm_s16le
medium a.aac "${A[@]}" -c:a aac -f adts
medium a.m4a "${A[@]}" -c:a aac
medium a.mp3 "${A[@]}" -c:a libmp3lame
medium a.ogg "${A[@]}" -c:a libvorbis
medium a.opus "${A[@]}" -c:a libopus
medium a.flac "${A[@]}" -c:a flac
medium a.mka "${A[@]}" -ac 2 -c:a pcm_f32le
medium a.ts "${A[@]}" -c:a aac -f mpegts
medium a6.m4a -f lavfi -i sine=frequency=300:sample_rate=48000:duration=0.2 -af "$SIX" -c:a aac
i=0
for f in a.wav a.aac a.m4a a.mp3 a.ogg a.opus a.flac a.mka a.ts a6.m4a v_av.mp4; do
  seed audio_reader_fuzzer "$f" "0$((i % 8))" "$work/$f"
  i=$((i + 1))
done

# Raw H.264: B-frames, slices, full range, 4:4:4, 10 bits, interlaced, two sizes.
medium h_b.h264 "${V[@]}" -frames:v 12 -c:v libx264 -bf 2 -g 6 -f h264
medium h_slices.h264 -f lavfi -i testsrc2=size=96x64:rate=25 -frames:v 6 -c:v libx264 -slices 3 -f h264
medium h_full.h264 "${V[@]}" -frames:v 6 -c:v libx264 -pix_fmt yuvj420p -f h264
medium h_444.h264 "${V[@]}" -frames:v 6 -c:v libx264 -pix_fmt yuv444p -f h264
medium h_10bit.h264 "${V[@]}" -frames:v 6 -c:v libx264 -pix_fmt yuv420p10le -f h264
medium h_gray.h264 "${V[@]}" -frames:v 4 -c:v libx264 -pix_fmt gray -f h264
medium h_rgb.h264 "${V[@]}" -frames:v 4 -c:v libx264rgb -f h264
medium h_interlaced.h264 "${V[@]}" -frames:v 6 -c:v libx264 -flags +ildct+ilme -x264opts tff=1 -f h264
medium h_small.h264 -f lavfi -i testsrc2=size=16x16:rate=25 -frames:v 4 -c:v libx264 -f h264
cat "$work/h_small.h264" "$work/v.h264" >"$work/h_sizes.h264"
i=0
for f in v.h264 h_b.h264 h_slices.h264 h_full.h264 h_444.h264 h_10bit.h264 h_gray.h264 h_rgb.h264 h_interlaced.h264 h_sizes.h264; do
  seed decoder_fuzzer "$f" "$(printf '%02x' $(((i * 37) % 128)))" "$work/$f"
  i=$((i + 1))
done

# MP4 writers: family, container, timing, size and rate before the stream.
# Byte 0: bit 0 muxer, bits 1-3 container (mp4 mkv ts avi h264 mov flv unknown),
# bits 4-5 timing, bit 6 bare parameter sets, bit 7 units as they are (without
# it every unit gets a 4-byte start code).
i=0
for choice in 00 01 02 04 06 08 0a 0c 0e 10 21 32 44 57 84 86; do
  f=v.h264
  ((i % 2)) && f=h_b.h264
  seed mp4_writer_fuzzer "w$choice.h264" "${choice}100c19" "$work/$f"
  i=$((i + 1))
done
seed mp4_writer_fuzzer nosize.h264 "00000019" "$work/v.h264"

# AAC packets: channels, input rate and output rate (big-endian), a fetch byte.
medium p2.aac -f lavfi -i sine=frequency=440:sample_rate=44100:duration=0.3 -ac 2 -c:a aac -f adts
medium p1.aac -f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.3 -c:a aac -f adts
medium p6.aac -f lavfi -i sine=frequency=300:sample_rate=48000:duration=0.2 -af "$SIX" -c:a aac -f adts
medium p8k.aac -f lavfi -i sine=frequency=300:sample_rate=8000:duration=0.3 -c:a aac -f adts
seed aac_decoder_fuzzer stereo_44_48 "000000020000ac440000bb8000" "$work/p2.aac"
seed aac_decoder_fuzzer mono_48_16 "000000010000bb8000003e8000" "$work/p1.aac"
seed aac_decoder_fuzzer six_48_48 "000000060000bb800000bb8000" "$work/p6.aac"
seed aac_decoder_fuzzer mono_8_96 "0000000100001f4000017700a0" "$work/p8k.aac"
seed aac_decoder_fuzzer wrong_layout "000000020000bb8000005622ff" "$work/p1.aac"

# Pixel converters: every pair of layout codes at a few small sizes, on a
# picture of the ffmpeg tool's test pattern.
medium pattern.bgr -f lavfi -i testsrc2=size=37x21 -frames:v 1 -f rawvideo -pix_fmt bgr24
for s in 1 2 3 4 5 6 7 8; do
  for d in 1 2 3 4 5 6 7 8; do
    seed pix_converter_fuzzer "p$s$d" "0${s}0${d}0$((s % 2))$(printf '%02x%02x' $((2 + s * 4 + d)) $((2 + d * 3)))" "$work/pattern.bgr"
  done
done
echo "seeds ready in $out"
