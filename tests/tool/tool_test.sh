#!/usr/bin/env bash
# Runs the tarsel tool as a user would and checks what it prints and writes
# against ffprobe and the ffmpeg tool. One group of cases per run:
#   tool_test.sh GROUP TARSEL FIXTURES SCRATCH
set -uo pipefail
group=$1 TARSEL=$2 FIX=$3
WORK=$4/tool_$group
rm -rf "$WORK" && mkdir -p "$WORK"
CLIP=$FIX/tool_clip.mp4
STREAM=$FIX/tool_stream.h264
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# run EXIT ARGS...: runs the tool; its stdout is then in $out, its stderr in $err.
run() {
  local want=$1 got
  shift
  out=$("$TARSEL" "$@" 2>"$WORK/stderr")
  got=$?
  err=$(<"$WORK/stderr")
  [[ $got == "$want" ]] || fail "tarsel $*: exit $got, expected $want; stderr: $err"
  # A sanitizer's report fails the case whatever the exit code.
  [[ $err != *Sanitizer* && $err != *"runtime error"* ]] || fail "tarsel $*: $err"
}
# expect TEXT REGEX WHAT
expect() { [[ $1 =~ $2 ]] || fail "$3: '$1' does not match '$2'"; }
# The MD5 of picture N (from 0) in a framemd5 listing.
md5_of() { grep -v '^#' "$1" | sed -n "$(($2 + 1))p" | awk -F', *' '{print $6}'; }
# The MD5 of a picture file's BGR24 pixels, as the ffmpeg tool decodes it.
picture_md5() { ffmpeg -v error -i "$1" -pix_fmt bgr24 -f framemd5 - | md5_of /dev/stdin 0; }
probe() { ffprobe -v error -select_streams "${3:-v:0}" -count_frames -show_entries "$2" -of default=nw=1:nk=1 "$1" | paste -sd,; }
# Mean PSNR in RGB of two inputs, picture by picture from their first, as the
# ffmpeg tool measures it: psnr A B [FILTERS_A FILTERS_B]
psnr() {
  local a="${3:+$3,}setpts=PTS-STARTPTS" b="${4:+$4,}setpts=PTS-STARTPTS"
  [[ $a == *extractplanes* ]] || a+=",format=rgb24" b+=",format=rgb24"
  ffmpeg -v info -nostdin -i "$1" -i "$2" -lavfi "[0:v]$a[a];[1:v]$b[b];[a][b]psnr" -f null - 2>&1 |
    sed -n 's/.*PSNR.* average:\([0-9.inf]*\).*/\1/p'
}
at_least() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a == "inf" || a + 0 >= b) }'; }

case_info() {
  run 0 info "$CLIP" --json
  echo "$out" >"$WORK/info.json"
  # Every field ffprobe also reports, field by field; seconds to a microsecond.
  jq -r --slurpfile p "$FIX/tool_clip.probe.json" '
    def same(a; b): if (a | type) == "number" and (b | type) == "number"
                    then ((a - b) | fabs) < 1e-5 else a == b end;
    .[0] as $t
    | ($p[0].streams[] | select(.codec_type == "video")) as $v
    | ($p[0].streams[] | select(.codec_type == "audio")) as $a
    | [["codec", $t.video.codec, $v.codec_name],
       ["width", $t.video.width, $v.width],
       ["height", $t.video.height, $v.height],
       ["frameCount", $t.video.frameCount, ($v.nb_frames | tonumber)],
       ["streamFrameCount", $t.video.streamFrameCount, ($v.nb_frames | tonumber)],
       ["duration", $t.video.duration, ($v.duration | tonumber)],
       ["streamDuration", $t.video.streamDuration, ($v.duration | tonumber)],
       ["streamDurationTicks", $t.video.streamDurationTicks, $v.duration_ts],
       ["bitRate", $t.video.bitRate, ($v.bit_rate | tonumber)],
       ["timeBase", "\($t.video.timeBaseNum)/\($t.video.timeBaseDen)", $v.time_base],
       ["realFrameRate", "\($t.video.realFrameRateNum)/\($t.video.realFrameRateDen)", $v.r_frame_rate],
       ["avgFrameRate", "\($t.video.avgFrameRateNum)/\($t.video.avgFrameRateDen)", $v.avg_frame_rate],
       ["frameRate", $t.video.frameRate, ($v.avg_frame_rate | split("/") | map(tonumber) | .[0] / .[1])],
       ["audio codec", $t.audio.codec, $a.codec_long_name],
       ["audio streamIndex", $t.audio.streamIndex, $a.index],
       ["audio channels", $t.audio.channels, $a.channels],
       ["audio sampleRate", $t.audio.sampleRate, ($a.sample_rate | tonumber)],
       ["audio duration", $t.audio.duration, ($a.duration | tonumber)]]
    | map(select(same(.[1]; .[2]) | not)) | .[] | "\(.[0]): tarsel \(.[1]), ffprobe \(.[2])"' \
    "$WORK/info.json" >"$WORK/mismatches" || fail "info --json: not JSON: $out"
  [[ -s $WORK/mismatches ]] && fail "info --json against ffprobe: $(paste -sd';' "$WORK/mismatches")"

  run 0 info "$CLIP" "$STREAM"
  expect "$out" "video +h264, 320 x 240, 25 fps, 100 frames, 4 s" "info text"
  expect "$out" "audio +AAC \(Advanced Audio Coding\), 2 channels, 44100 Hz" "info text"
  expect "$out" "tool_stream.h264.*video +h264, 176 x 144.*audio +none" "info of a raw stream"
  # One input that cannot be read: the others are still shown, the exit code is 1.
  run 1 info "$CLIP" /nonexistent/clip.mp4 --json
  [[ $(jq -r '.[1].error' <<<"$out") == "/nonexistent/clip.mp4: No such file or directory" ]] ||
    fail "info --json of a missing file: $out"
  [[ $(jq -r '.[0].video.width' <<<"$out") == 320 ]] || fail "info --json before a failure: $out"
}

case_frames() {
  run 0 frames "$CLIP" -o "$WORK/indexed" --index 0 37 99 -q
  expect "$out" "^3 pictures written to " "frames --index"
  for n in 0 37 99; do
    [[ $(picture_md5 "$WORK/indexed/frame_$(printf %06d $n).png") == $(md5_of "$FIX/tool_clip.md5" $n) ]] ||
      fail "frames --index: picture $n differs from the ffmpeg tool's"
  done
  # The first picture at or after each time: 25 starts at 1.0 s, 63 at 2.52 s.
  run 0 frames "$CLIP" -o "$WORK/timed" --time 1.0 2.5
  [[ $(ls "$WORK/timed" | paste -sd' ') == "frame_000025.png frame_000063.png" ]] ||
    fail "frames --time 1.0 2.5: $(ls "$WORK/timed")"
  [[ $(picture_md5 "$WORK/timed/frame_000063.png") == $(md5_of "$FIX/tool_clip.md5" 63) ]] ||
    fail "frames --time 2.5: not picture 63"
  run 0 frames "$CLIP" -o "$WORK/every" --every 30 --format bmp
  [[ $(ls "$WORK/every" | paste -sd' ') == "frame_000000.bmp frame_000030.bmp frame_000060.bmp frame_000090.bmp" ]] ||
    fail "frames --every 30: $(ls "$WORK/every")"
  [[ $(picture_md5 "$WORK/every/frame_000060.bmp") == $(md5_of "$FIX/tool_clip.md5" 60) ]] ||
    fail "frames --format bmp: picture 60 differs"
  run 0 frames "$CLIP" -o "$WORK/all" -q
  [[ $(ls "$WORK/all" | wc -l) == 100 ]] || fail "frames: $(ls "$WORK/all" | wc -l) pictures, expected 100"
}

case_sheet() {
  run 0 sheet "$CLIP" -o "$WORK/sheet.png" --columns 3 --rows 2 --width 600 --json -q
  [[ $(probe "$WORK/sheet.png" stream=width,height) == "600,$(jq .height <<<"$out")" ]] ||
    fail "sheet size: $(probe "$WORK/sheet.png" stream=width,height), map: $(jq -c '[.width,.height]' <<<"$out")"
  # The middle picture of each sixth of the 100.
  [[ $(jq -c '[.tiles[].index]' <<<"$out") == "[8,25,41,58,75,91]" ]] ||
    fail "sheet pictures: $(jq -c '[.tiles[].index]' <<<"$out")"
  while read -r index x y w h; do
    local value
    value=$(psnr "$WORK/sheet.png" "$CLIP" "crop=$w:$h:$x:$y" "select=eq(n\,$index),format=rgb24,scale=$w:$h:flags=area")
    at_least "$value" 40 || fail "sheet tile $index: PSNR $value dB against the ffmpeg tool's picture"
  done < <(jq -r '.tiles[] | "\(.index) \(.x) \(.y) \(.width) \(.height)"' <<<"$out")
}

case_transcode() {
  run 0 transcode "$CLIP" -o "$WORK/copy.mkv" --ffv1 -q
  [[ $(probe "$WORK/copy.mkv" stream=codec_name,width,height,nb_read_frames) == "ffv1,320,240,100" ]] ||
    fail "transcode --ffv1: $(probe "$WORK/copy.mkv" stream=codec_name,width,height,nb_read_frames)"
  local value
  value=$(psnr "$WORK/copy.mkv" "$CLIP")
  at_least "$value" 40 || fail "transcode --ffv1: PSNR $value dB against the input"
  run 0 transcode "$CLIP" -o "$WORK/small.mp4" --fps 10 --gop 5 --bitrate 300000 -q
  [[ $(probe "$WORK/small.mp4" stream=codec_name,avg_frame_rate,nb_read_frames) == "h264,10/1,40" ]] ||
    fail "transcode --fps 10: $(probe "$WORK/small.mp4" stream=codec_name,avg_frame_rate,nb_read_frames)"
  run 0 transcode "$CLIP" -o "$WORK/copy.avi" -q
  [[ $(probe "$WORK/copy.avi" stream=codec_name,nb_read_frames) == "mpeg4,100" ]] ||
    fail "transcode to AVI: $(probe "$WORK/copy.avi" stream=codec_name,nb_read_frames)"
  expect "$err" "the sound is not copied" "transcode of a clip with sound"
}

case_audio() {
  run 0 audio "$FIX/tool_clip_pcm.mkv" -o "$WORK/pcm.wav"
  expect "$out" "2 channels, 44100 Hz, 177152 samples" "audio summary"
  [[ $(probe "$WORK/pcm.wav" stream=codec_name,sample_rate,channels a:0) == "pcm_s16le,44100,2" ]] ||
    fail "audio WAV header: $(probe "$WORK/pcm.wav" stream=codec_name,sample_rate,channels a:0)"
  cmp -s <(tail -c +45 "$WORK/pcm.wav") "$FIX/tool_clip_pcm.s16" || fail "audio: WAV samples differ"
  run 0 audio "$CLIP" -o "$WORK/aac.wav"
  [[ $(($(stat -c %s "$WORK/aac.wav") - 44)) == $(stat -c %s "$FIX/tool_clip.aac.s16") ]] ||
    fail "audio of AAC: $(stat -c %s "$WORK/aac.wav") bytes"
}

case_mux() {
  run 0 mux "$STREAM" -o "$WORK/stream.mp4" --fps 25
  expect "$out" "50 frames of 176 x 144 at 25 fps \(2 s\), 5 key frames" "mux summary"
  [[ $(probe "$WORK/stream.mp4" stream=codec_name,avg_frame_rate,nb_read_frames) == "h264,25/1,50" ]] ||
    fail "mux: $(probe "$WORK/stream.mp4" stream=codec_name,avg_frame_rate,nb_read_frames)"
  local errors
  errors=$(ffmpeg -v error -nostdin -i "$WORK/stream.mp4" -f null - 2>&1)
  [[ -z $errors ]] || fail "mux: the ffmpeg tool reports: $errors"
  cmp -s <(ffmpeg -v error -i "$WORK/stream.mp4" -fps_mode passthrough -f framemd5 - | awk -F', *' '!/^#/ {print $6}') \
    <(awk -F', *' '!/^#/ {print $6}' "$FIX/tool_stream.md5") || fail "mux: pictures differ from the stream's"
  run 1 mux "$FIX/tool_bframes.h264" -o "$WORK/bframes.mp4"
  expect "$err" "tool_bframes.h264: the stream has B-frames" "mux of B-frames"
  [[ ! -e $WORK/bframes.mp4 ]] || fail "mux of B-frames left a file"
}

case_devices() {
  TARSEL_FAKE_DEVICES=1 run 0 devices --json
  jq -e '.cameras[0].name == "Tarsel Virtual Camera" and (.cameras[0].formats | length) == 6
         and (.cameras[0].formats[1] | [.subtype, .width, .height, .framesPerSecond]) == ["YUY2", 640, 480, 30]
         and (.cameras[0].formats[5] | [.subtype, .width, .frameRateDenominator]) == ["RGB24", 160, 0]
         and .cameras[1].name == "Tarsel Caméra -"
         and .microphones[0].name == "Tarsel Virtual Microphone"
         and (.microphones[0].formats | map([.subtype, .bitsPerSample, .channels, .samplesPerSecond]))
             == [["PCM", 16, 2, 48000], ["Float", 32, 2, 48000], ["PCM", 16, 1, 16000]]' \
    <<<"$out" >/dev/null || fail "devices --json: $out"
  TARSEL_FAKE_DEVICES=1 run 0 devices
  expect "$out" "1   YUY2    640 x 480    30" "devices table"
  TARSEL_FAKE_DEVICES=0 run 0 devices
  expect "$out" "Cameras
  none
Microphones
  none" "devices without devices"
}

case_record() {
  export TARSEL_FAKE_DEVICES=1
  # The virtual camera's 320 x 240 format at 60 fps, and its microphone.
  run 0 record -o "$WORK/both.mp4" --format 4 --seconds 1 -q
  # Sound starts when the microphone's first block arrives, up to a few blocks late.
  expect "$out" "pictures of 320 x 240 \(NV12\), (1|0\.9[0-9]*) s of sound \(2 channels, 48000 Hz\)" \
    "record summary"
  [[ $(probe "$WORK/both.mp4" stream=codec_name,width,height) == "h264,320,240" ]] ||
    fail "record: $(probe "$WORK/both.mp4" stream=codec_name,width,height)"
  # Pictures are timed by the camera: a busy machine may lose some, never add any.
  local pictures
  pictures=$(probe "$WORK/both.mp4" stream=nb_read_frames)
  ((pictures >= 30 && pictures <= 60)) || fail "record: $pictures pictures in 1 s at 60 fps"
  awk -v d="$(probe "$WORK/both.mp4" stream=duration a:0)" 'BEGIN { exit !(d > 0.9 && d < 1.1) }' ||
    fail "record: sound lasts $(probe "$WORK/both.mp4" stream=duration a:0) s"
  [[ $(probe "$WORK/both.mp4" stream=codec_name,sample_rate,channels a:0) == "aac,48000,2" ]] ||
    fail "record: sound $(probe "$WORK/both.mp4" stream=codec_name,sample_rate,channels a:0)"
  # The camera's NV12, YUY2 and I420 formats show the same luma: the first
  # picture of each recording is the camera's picture 0.
  for format in 0 1 2; do
    run 0 record -o "$WORK/format$format.mp4" --format "$format" --seconds 0.2 --no-sound -q
  done
  for format in 1 2; do
    local value
    value=$(psnr "$WORK/format0.mp4" "$WORK/format$format.mp4" "trim=end_frame=1,extractplanes=y" \
      "trim=end_frame=1,extractplanes=y")
    at_least "$value" 40 || fail "record --format $format: luma PSNR $value dB against NV12"
  done
  run 1 record -o "$WORK/rgb.mp4" --format 5
  expect "$err" "camera format 5 is RGB24; recording takes NV12, YUY2 or I420 formats" "record RGB24"
  run 1 record -o /nonexistent/r.mp4 --seconds 0.2
  expect "$err" "^tarsel: /nonexistent/r.mp4: " "record into a missing folder"
  unset TARSEL_FAKE_DEVICES
}

case_demo() {
  TARSEL_FAKE_DEVICES=1 run 0 demo "$WORK/demo" -q
  for file in sample.mp4 sample-sheet.png sample-ffv1.mkv sample.h264 sample-muxed.mp4 \
    sample.wav recording.mp4; do
    [[ -s $WORK/demo/$file ]] || fail "demo: no $file"
  done
  expect "$out" "100 pictures of 640 x 360 at 25 fps and 4.00 s of sound read back" "demo: the sample"
  expect "$out" "100 pictures, identical to sample.h264's" "demo: the muxed stream"
  expect "$out" "tones of 440 and 660 Hz" "demo: the sound"
  # The sound ends with the block that crosses 2 s, in whole AAC frames.
  expect "$out" "pictures of 640 x 480 at 30 fps and (1\.9|2\.0)[0-9] s of sound read back" \
    "demo: the recording"
  [[ $(probe "$WORK/demo/sample-sheet.png" stream=width) == 1280 ]] || fail "demo: sheet width"
  # Without devices the recording is left out and the rest still runs.
  TARSEL_FAKE_DEVICES=0 run 0 demo "$WORK/plain" -q
  expect "$out" "recording.mp4 .*skipped: no camera" "demo without devices"
}

# Failures and the command line: exit code | stdout and stderr match | arguments.
case_errors() {
  local port=$((20000 + RANDOM % 20000)) command
  for command in info frames sheet transcode audio mux devices record demo; do
    run 0 "$command" --help
    expect "$out$err" "Usage: tarsel $command" "tarsel $command --help"
  done
  printf 'not a video\n' >"$WORK/text.mp4"
  head -c 20000 "$CLIP" >"$WORK/cut.mp4"
  while IFS='|' read -r code pattern args; do
    [[ -z $code || $code == \#* ]] && continue
    code=${code// /} pattern=${pattern# } pattern=${pattern% }
    eval "set -- $args"
    run "$code" "$@"
    expect "$out$err" "$pattern" "tarsel $args"
  done <<EOF_TABLE
0 | Usage: tarsel \[OPTIONS\] \[SUBCOMMAND\].*Exit codes | --help
0 | ^tarsel [0-9]+\.[0-9]+\.[0-9]+$ | --version
2 | Usage: tarsel | 
2 | not expected: bogus | bogus
1 | ^tarsel: /nonexistent/clip.mp4: No such file or directory$ | info /nonexistent/clip.mp4
1 | ^tarsel: .*text.mp4: Invalid data found when processing input$ | info "$WORK/text.mp4"
# FFmpeg's own complaint about the cut file stays silent: this line only.
1 | ^tarsel: [^ ]*cut.mp4: Invalid data found when processing input$ | info "$WORK/cut.mp4"
1 | tool_clip.mp4/pictures: Not a directory | frames "$CLIP" -o "$CLIP/pictures"
1 | /nonexistent/s.png: No such file or directory | sheet "$CLIP" -o /nonexistent/s.png -q
1 | /nonexistent/c.mkv: No such file or directory | transcode "$CLIP" -o /nonexistent/c.mkv --ffv1
1 | /nonexistent/c.mp4: No such file or directory | transcode "$CLIP" -o /nonexistent/c.mp4
1 | /nonexistent/a.wav: No such file or directory | audio "$CLIP" -o /nonexistent/a.wav
1 | /nonexistent/m.mp4: No such file or directory | mux "$STREAM" -o /nonexistent/m.mp4
1 | tool_clip.mp4: is the input | transcode "$CLIP" -o "$CLIP"
1 | \.mkv, \.avi or \.nut | transcode "$CLIP" -o "$WORK/x.mp4" --ffv1
1 | no picture 100 \(the video has 100\) | frames "$CLIP" -o "$WORK/f" --index 99 100
1 | tool_stream.h264: Could not find audio stream | audio "$STREAM" -o "$WORK/a.wav"
1 | tool_clip.mp4: not an H.264 Annex-B stream | mux "$CLIP" -o "$WORK/m.mp4"
2 | --every: Value abc | frames "$CLIP" -o "$WORK/f" --every abc
2 | --every: Value 0 | frames "$CLIP" -o "$WORK/f" --every 0
2 | not a number of seconds: nan | frames "$CLIP" -o "$WORK/f" --time nan
2 | not a number of seconds: -1 | info "$CLIP" --timeout -1
2 | --every excludes --index | frames "$CLIP" -o "$WORK/f" --every 2 --index 3
2 | --output is required | frames "$CLIP"
2 | --columns: Value 0 | sheet "$CLIP" -o "$WORK/s.png" --columns 0
2 | no room for 40 columns | sheet "$CLIP" -o "$WORK/s.png" --columns 40 --width 400
2 | --fps: Value 0 | transcode "$CLIP" -o "$WORK/x.mp4" --fps 0
2 | --ffv1 excludes --fps | transcode "$CLIP" -o "$WORK/x.mkv" --ffv1 --fps 10
1 | no camera 0 \(0 found; TARSEL_FAKE_DEVICES=1 adds a virtual one\) | record -o "$WORK/r.mp4"
2 | --mic excludes --no-sound | record -o "$WORK/r.mp4" --no-sound --mic 1
2 | --seconds: Value 0 | record -o "$WORK/r.mp4" --seconds 0
3 | no answer within 1 s | info "tcp://127.0.0.1:$port?listen=1" --timeout 1
3 | no answer within 1 s | audio "tcp://127.0.0.1:$((port + 1))?listen=1" --timeout 1 -o "$WORK/n.wav"
EOF_TABLE
  # Ctrl-C while a network input keeps a reader waiting: each reader stops at once.
  local silent pid code
  for silent in $((port + 2)) $((port + 3)); do
    args="info tcp://127.0.0.1:$silent?listen=1 --timeout 0"
    ((silent % 2)) && args="audio tcp://127.0.0.1:$silent?listen=1 -o $WORK/i.wav"
    # shellcheck disable=SC2086
    "$TARSEL" $args 2>"$WORK/stderr" &
    pid=$!
    # Once the tool listens, it has its Ctrl-C handler and waits.
    for _ in $(seq 300); do
      grep -q ":$(printf %04X "$silent") 00000000:0000 0A" /proc/net/tcp && break
      sleep 0.1
    done
    kill -INT "$pid"
    wait "$pid"
    code=$?
    [[ $code == 130 && $(<"$WORK/stderr") == "tarsel: interrupted" ]] ||
      fail "tarsel $args, then Ctrl-C: exit $code, $(<"$WORK/stderr")"
  done
}

"case_$group"
if ((failures)); then
  echo "$group: $failures failed" >&2
  exit 1
fi
echo "$group: passed"
