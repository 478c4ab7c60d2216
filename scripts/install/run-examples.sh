#!/usr/bin/env bash
# Runs the three example programs and checks what they make against the ffmpeg
# tool: the FFV1 file's stream and frame count, the PPM pictures against the
# tool's BGR24 decode of the same file, the WAV samples against the tool's
# decode of the same input (FLAC, whose decode is exact everywhere).
# Usage: run-examples.sh WORK_DIR BIN_DIR [RUNNER...]
#   BIN_DIR holds read_frames, read_audio and write_ffv1 (with any suffix of
#   the platform); RUNNER prefixes each run (a Wine runner for Windows
#   programs, which then see WORK_DIR through the drive Z:).
set -euo pipefail
work=$1 bin=$2
shift 2
runner=("$@")
FF=(ffmpeg -nostdin -hide_banner -loglevel error -y)
fail() { echo "examples: $*" >&2; exit 1; }

mkdir -p "$work"
work=$(cd "$work" && pwd)
seen=$work
((${#runner[@]})) && seen=Z:$work  # the path as a Windows program sees it
program() { local p; for p in "$bin/$1" "$bin/$1.exe"; do [[ -x $p || -f $p ]] && { echo "$p"; return; }; done
            fail "no $1 in $bin"; }
run() { local name=$1; shift; "${runner[@]}" "$(program "$name")" "$@"; }

rm -rf "$work/frames" && mkdir -p "$work/frames"
run write_ffv1 "$seen/clip.mkv" 30 >"$work/write_ffv1.log" || fail "write_ffv1 failed: $(cat "$work/write_ffv1.log")"
stream=$(ffprobe -v error -count_frames -select_streams v:0 \
  -show_entries stream=codec_name,width,height,nb_read_frames -of csv=p=0 "$work/clip.mkv")
[[ $stream == "ffv1,320,240,30" ]] || fail "clip.mkv: expected ffv1,320,240,30 frames, got '$stream'"

run read_frames "$seen/clip.mkv" "$seen/frames" 3 >"$work/read_frames.log" ||
  fail "read_frames failed: $(cat "$work/read_frames.log")"
for n in 0 1 2; do
  picture=$(printf '%s/frames/frame_%04d.ppm' "$work" "$n")
  [[ -f $picture ]] || fail "read_frames wrote no $picture"
  "${FF[@]}" -i "$picture" -f rawvideo -pix_fmt bgr24 "$work/got.bgr"
  "${FF[@]}" -i "$work/clip.mkv" -vf "select=eq(n\,$n)" -fps_mode passthrough -frames:v 1 \
    -f rawvideo -pix_fmt bgr24 "$work/expected.bgr"
  cmp -s "$work/got.bgr" "$work/expected.bgr" || fail "picture $n differs from the ffmpeg tool's"
done

"${FF[@]}" -f lavfi -i 'aevalsrc=0.5*sin(2*PI*440*t)|0.3*sin(2*PI*660*t):s=44100:d=1.5' \
  -c:a flac "$work/tone.flac"
run read_audio "$seen/tone.flac" "$seen/tone.wav" >"$work/read_audio.log" ||
  fail "read_audio failed: $(cat "$work/read_audio.log")"
"${FF[@]}" -i "$work/tone.wav" -f s16le "$work/got.s16"
"${FF[@]}" -i "$work/tone.flac" -f s16le "$work/expected.s16"
cmp -s "$work/got.s16" "$work/expected.s16" || fail "tone.wav differs from the ffmpeg tool's decode"
echo "examples: all three ran and matched the ffmpeg tool (in $work)"
