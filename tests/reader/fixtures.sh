# Fixture media of the video reader's tests. References are the ffmpeg tool's own
# BGR24 pictures (raw, or one MD5 per picture), decoded with passthrough timing so
# that each picture appears once, in display order.
SRC='-f lavfi -i testsrc2=size=128x96:rate=25'
BGR='-f rawvideo -pix_fmt bgr24 -fps_mode passthrough'
MD5='-pix_fmt bgr24 -fps_mode passthrough -f framemd5'

# Opening and information.
fixture reader_250.mp4 '$FF -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 250 -c:v libx264 -pix_fmt yuv420p -preset ultrafast "$OUT"'
fixture reader_raw.h264 '$FF '"$SRC"' -frames:v 40 -c:v libx264 -pix_fmt yuv420p -bf 0 -f h264 "$OUT"'
fixture reader_raw.md5 '$FF -i "$FIXTURES/reader_raw.h264" '"$MD5"' "$OUT"'
# The container claims 500 fps, the source's rate; the pictures are 40 ms apart.
fixture reader_claims500.mkv '$FF -f lavfi -i testsrc2=size=128x96:rate=500 -vf "setpts=N*0.04/TB" -frames:v 50 -c:v libx264 -fps_mode passthrough "$OUT"'
fixture reader_sar43.mp4 '$FF -f lavfi -i testsrc2=size=720x576:rate=25 -frames:v 2 -vf setsar=4/3 -c:v libx264 -preset ultrafast "$OUT"'
fixture reader_sar1611.mp4 '$FF -f lavfi -i testsrc2=size=720x576:rate=25 -frames:v 2 -vf setsar=16/11 -c:v libx264 -preset ultrafast "$OUT"'
fixture reader_audio.m4a '$FF -f lavfi -i sine=frequency=440:duration=1 -c:a aac "$OUT"'

# Frame access: B-frames, a long GOP, a gap, odd widths, other containers.
fixture reader_bframes.mp4 '$FF '"$SRC"' -frames:v 100 -c:v libx264 -pix_fmt yuv420p -bf 3 -g 30 "$OUT"'
fixture reader_bframes.md5 '$FF -i "$FIXTURES/reader_bframes.mp4" '"$MD5"' "$OUT"'
fixture reader_bframes.bgr '$FF -i "$FIXTURES/reader_bframes.mp4" '"$BGR"' "$OUT"'
fixture reader_gop250.mp4 '$FF '"$SRC"' -frames:v 300 -c:v libx264 -pix_fmt yuv420p -bf 2 -g 250 -keyint_min 250 -sc_threshold 0 "$OUT"'
fixture reader_gop250.md5 '$FF -i "$FIXTURES/reader_gop250.mp4" '"$MD5"' "$OUT"'
# Picture 10 is missing: the timestamps jump by two frames there.
fixture reader_gap.mp4 '$FF '"$SRC"' -frames:v 30 -vf "select=not(eq(n\,10))" -fps_mode passthrough -c:v libx264 -bf 0 "$OUT"'
fixture reader_gap.bgr '$FF -i "$FIXTURES/reader_gap.mp4" '"$BGR"' "$OUT"'
fixture reader_854.mp4 '$FF -f lavfi -i testsrc2=size=854x480:rate=25 -frames:v 4 -c:v libx264 -preset ultrafast "$OUT"'
fixture reader_854.bgr '$FF -i "$FIXTURES/reader_854.mp4" '"$BGR"' "$OUT"'
fixture reader_1366.mp4 '$FF -f lavfi -i testsrc2=size=1366x768:rate=25 -frames:v 3 -c:v libx264 -preset ultrafast "$OUT"'
fixture reader_1366.bgr '$FF -i "$FIXTURES/reader_1366.mp4" '"$BGR"' "$OUT"'
fixture reader_422_202.mp4 '$FF -f lavfi -i testsrc2=size=202x60:rate=25 -frames:v 3 -c:v libx264 -pix_fmt yuv422p -preset ultrafast "$OUT"'
fixture reader_422_202.bgr '$FF -i "$FIXTURES/reader_422_202.mp4" '"$BGR"' "$OUT"'
fixture reader_jpeg_98.avi '$FF -f lavfi -i testsrc2=size=98x40:rate=25 -frames:v 3 -c:v mjpeg "$OUT"'
fixture reader_jpeg_98.bgr '$FF -i "$FIXTURES/reader_jpeg_98.avi" '"$BGR"' "$OUT"'
# MPEG-TS starts at 1.4 s; Matroska counts in milliseconds (60 fps is 16.67 ms).
fixture reader_bframes.ts '$FF '"$SRC"' -frames:v 100 -c:v libx264 -pix_fmt yuv420p -bf 3 -g 30 "$OUT"'
fixture reader_bframes_ts.md5 '$FF -i "$FIXTURES/reader_bframes.ts" '"$MD5"' "$OUT"'
fixture reader_60.mkv '$FF -f lavfi -i testsrc2=size=128x96:rate=60 -frames:v 120 -c:v libx264 -pix_fmt yuv420p -bf 3 -g 60 "$OUT"'
fixture reader_60_mkv.md5 '$FF -i "$FIXTURES/reader_60.mkv" '"$MD5"' "$OUT"'
fixture reader_mpeg4.avi '$FF '"$SRC"' -frames:v 100 -c:v mpeg4 -bf 2 -g 30 "$OUT"'
fixture reader_mpeg4_avi.md5 '$FF -i "$FIXTURES/reader_mpeg4.avi" '"$MD5"' "$OUT"'
# The picture size changes from 128x96 to 176x144 midway; the reader keeps the first.
fixture reader_part1.ts '$FF '"$SRC"' -frames:v 10 -c:v libx264 -bf 0 "$OUT"'
fixture reader_part2.ts '$FF -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 10 -c:v libx264 -bf 0 -output_ts_offset 0.4 "$OUT"'
fixture reader_sizechange.ts '$FF -i "concat:$FIXTURES/reader_part1.ts|$FIXTURES/reader_part2.ts" -c copy "$OUT"'
fixture reader_sizechange.bgr '$FF -i "$FIXTURES/reader_sizechange.ts" -vf scale=128:96:flags=bicubic '"$BGR"' "$OUT"'
# Cut in the middle of the stream.
fixture reader_truncated.ts 'head -c 40000 "$FIXTURES/reader_bframes.ts" > "$OUT"'
# What ffprobe reports about the 250-frame clip, as key=value lines.
fixture reader_250_probe.txt '{ ffprobe -v error -select_streams v:0 -show_entries stream=width,height,time_base,r_frame_rate,avg_frame_rate,duration_ts,duration,nb_frames,bit_rate -of default=noprint_wrappers=1 "$FIXTURES/reader_250.mp4"; ffprobe -v error -select_streams v:0 -show_entries packet=dts -of csv=p=0 "$FIXTURES/reader_250.mp4" | head -1 | sed "s/^/first_dts=/"; ffprobe -v error -select_streams v:0 -show_entries packet=pts -of csv=p=0 "$FIXTURES/reader_250.mp4" | tail -1 | sed "s/^/last_pts=/"; } > "$OUT"'
# An MJPEG camera address ends in "cgi"; live mode reads such inputs as MJPEG.
fixture reader_camera.cgi '$FF '"$SRC"' -frames:v 5 -c:v mjpeg -f mjpeg "$OUT"'
fixture reader_mp4.cgi 'cp "$FIXTURES/reader_bframes.mp4" "$OUT"'

# Colours: the stream's matrix and range, as the tool converts them.
fixture reader_bt709_tv.mp4 '$FF '"$SRC"' -frames:v 3 -vf scale=out_color_matrix=bt709:out_range=tv -c:v libx264 -pix_fmt yuv420p -colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv "$OUT"'
fixture reader_bt709_pc.mp4 '$FF '"$SRC"' -frames:v 3 -vf scale=out_color_matrix=bt709:out_range=pc -c:v libx264 -pix_fmt yuvj420p -colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range pc "$OUT"'
fixture reader_bt2020_10bit.mp4 '$FF '"$SRC"' -frames:v 3 -vf scale=out_color_matrix=bt2020 -c:v libx264 -pix_fmt yuv420p10le -colorspace bt2020nc -color_primaries bt2020 -color_trc bt2020-10 "$OUT"'
fixture reader_smpte240m_422.mp4 '$FF '"$SRC"' -frames:v 3 -vf scale=out_color_matrix=smpte240m -c:v libx264 -pix_fmt yuv422p -colorspace smpte240m "$OUT"'
for clip in bt709_tv bt709_pc bt2020_10bit smpte240m_422; do
  fixture reader_$clip.bgr '$FF -i "$FIXTURES/reader_'$clip'.mp4" '"$BGR"' "$OUT"'
done

# Pictures off a regular grid: one second cut out of 4 s at 25 fps; 25 pictures
# 40 ms apart, 25 at 20 ms, 25 at 80 ms; 30 fps jittered by up to 10 ms; a WebM
# starting at -0.5 s (key frames at -0.5, 0.5 and 1.5 s); 29.97 fps in Matroska's
# milliseconds.
CUT="select=not(between(n\,50\,74))"
VFR="select=if(lt(n\,50)\,not(mod(n\,2))\,if(lt(n\,75)\,1\,not(mod(n-75\,4))))"
# The jitter moves the packets' times after encoding, so the container still
# states 30 fps whichever ffmpeg tool makes the file.
JITTER="if(gt(N\,0)\,trunc(10*sin(N*2.1))\,0)"
for ext in mp4 mkv; do
  fixture reader_cut.$ext '$FF -f lavfi -i testsrc2=size=128x96:rate=25:duration=4 -vf "'"$CUT"'" -fps_mode passthrough -c:v libx264 -bf 0 "$OUT"'
  fixture reader_vfr.$ext '$FF -f lavfi -i testsrc2=size=128x96:rate=50:duration=3.5 -vf "'"$VFR"'" -fps_mode passthrough -c:v libx264 -bf 0 "$OUT"'
done
fixture reader_jitter.mkv '$FF '"${SRC/rate=25/rate=30}"' -frames:v 90 -enc_time_base 1/1000 -c:v libx264 -bf 0 -bsf:v "setts=pts=PTS+'"$JITTER"':dts=DTS+'"$JITTER"'" "$OUT"'
fixture reader_negative.webm '$FF '"$SRC"' -frames:v 75 -c:v libvpx -g 25 -deadline realtime -output_ts_offset -0.5 -avoid_negative_ts disabled "$OUT"'
fixture reader_2997.mkv '$FF '"${SRC/rate=25/rate=30000\/1001}"' -frames:v 90 -c:v libx264 -bf 2 -g 15 "$OUT"'
for clip in cut.mp4 cut.mkv vfr.mp4 vfr.mkv jitter.mkv negative.webm 2997.mkv; do
  fixture reader_${clip/./_}.md5 '$FF -i "$FIXTURES/reader_'$clip'" '"$MD5"' "$OUT"'
done

# Damaged files. patch_bytes FILE OFFSET HEX overwrites bytes in place;
# box_offset FILE TYPE is where the first box of that type has its type.
patch_bytes() { printf "$(echo "$3" | sed 's/../\\x&/g')" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
box_offset() { grep -obUa "$2" "$1" | head -1 | cut -d: -f1; }
zero_box() {
  local at size
  at=$(box_offset "$1" "$2")
  size=$(od -An -tu1 -j $((at - 4)) -N4 "$1" | awk '{print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4}')
  head -c $((size - 8)) /dev/zero | dd of="$1" bs=1 seek=$((at + 4)) conv=notrunc status=none
}
# Headers whole, pictures missing: the pixel format stays unknown.
fixture reader_truncated.mkv 'head -c 642 "$FIXTURES/reader_60.mkv" > "$OUT"'
fixture reader_zeroed.mp4 'cp "$FIXTURES/reader_bframes.mp4" "$OUT" && zero_box "$OUT" mdat'
# The stts table claims 2^31 frames.
fixture reader_claims2g.mp4 'cp "$FIXTURES/reader_bframes.mp4" "$OUT" && patch_bytes "$OUT" $(($(box_offset "$OUT" stts) + 12)) 80000000'
# One picture's timestamp gains 2^30 ms (12 days): its extended timestamp byte
# in the nth video tag (the first holds the parameter sets) is set to 0x40.
flip_flv_timestamp() {
  local file=$1 wanted=$2 at=13 seen=0 type s1 s2 s3 length
  length=$(stat -c %s "$file")
  while ((at + 11 <= length)); do
    read -r type s1 s2 s3 <<<"$(od -An -tu1 -j "$at" -N4 "$file")"
    if ((type == 9)) && ((++seen == wanted)); then
      patch_bytes "$file" $((at + 7)) 40
      return 0
    fi
    at=$((at + 11 + s1 * 65536 + s2 * 256 + s3 + 4))
  done
  return 1
}
fixture reader_plain.flv '$FF '"$SRC"' -frames:v 100 -c:v libx264 -bf 0 -g 25 "$OUT"'
fixture reader_plain_flv.md5 '$FF -i "$FIXTURES/reader_plain.flv" '"$MD5"' "$OUT"'
fixture reader_flipped.flv 'cp "$FIXTURES/reader_plain.flv" "$OUT" && flip_flv_timestamp "$OUT" 51'
fixture reader_sar12_4x4.mp4 '$FF -f lavfi -i testsrc2=size=4x4:rate=25 -frames:v 2 -vf setsar=1/2 -c:v libx264 "$OUT"'
# A large picture that compresses to almost nothing.
fixture reader_4096.mkv '$FF -f lavfi -i color=c=gray:size=4096x4096:rate=25 -frames:v 2 -c:v mjpeg "$OUT"'

# Network inputs, served by the scripts in tests/reader/servers. The clip is 10 s
# at 25 fps with a key frame each second; the faststart copy has its index first,
# the audio copy the same pictures with AAC. The camera is 6 s of MJPEG at 15 fps.
fixture net_clip.mp4 '$FF -f lavfi -i testsrc2=size=128x96:rate=25 -frames:v 250 -c:v libx264 -pix_fmt yuv420p -bf 0 -g 25 "$OUT"'
fixture net_clip_faststart.mp4 '$FF -i "$FIXTURES/net_clip.mp4" -c copy -movflags +faststart "$OUT"'
fixture net_clip_audio.mp4 '$FF -i "$FIXTURES/net_clip.mp4" -f lavfi -i sine=frequency=440:duration=10 -c:v copy -c:a aac -shortest "$OUT"'
# The same pictures at 100 fps, for streams that must open quickly.
fixture net_clip_audio_fast.mp4 '$FF -itsscale 0.25 -i "$FIXTURES/net_clip_audio.mp4" -c copy "$OUT"'
fixture net_clip.bgr '$FF -i "$FIXTURES/net_clip.mp4" '"$BGR"' "$OUT"'
fixture net_camera.mjpeg '$FF -f lavfi -i testsrc2=size=160x120:rate=15 -frames:v 90 -c:v mjpeg -q:v 4 -f mjpeg "$OUT"'
fixture net_camera.bgr '$FF -f mjpeg -i "$FIXTURES/net_camera.mjpeg" '"$BGR"' "$OUT"'
