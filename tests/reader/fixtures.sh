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
# The container claims 500 fps; the pictures are 40 ms apart.
fixture reader_claims500.mkv '$FF '"$SRC"' -frames:v 50 -c:v libx264 -fps_mode passthrough -r 500 "$OUT"'
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
