# Raw H.264 streams (Annex B, parameter sets in the stream) and the ffmpeg tool's
# BGR24 decode of each, the references of the packet decoder.
fixture convert_176x144.h264 \
  '$FF -f lavfi -i testsrc2=size=176x144:rate=25 -t 0.8 -c:v libx264 -pix_fmt yuv420p -bf 0 -g 10 -f h264 "$OUT"'
fixture convert_176x144.bgr '$FF -i "$FIXTURES/convert_176x144.h264" -f rawvideo -pix_fmt bgr24 "$OUT"'
fixture convert_96x64.h264 \
  '$FF -f lavfi -i testsrc2=size=96x64:rate=25 -t 0.4 -c:v libx264 -pix_fmt yuv420p -bf 0 -g 10 -f h264 "$OUT"'
fixture convert_96x64.bgr '$FF -i "$FIXTURES/convert_96x64.h264" -f rawvideo -pix_fmt bgr24 "$OUT"'
# Two streams of different sizes one after the other.
fixture convert_sizes.h264 'cat "$FIXTURES/convert_176x144.h264" "$FIXTURES/convert_96x64.h264" >"$OUT"'
# B-frames: pictures come out later than their packets.
fixture convert_bframes_160x120.h264 \
  '$FF -f lavfi -i testsrc2=size=160x120:rate=25 -t 0.8 -c:v libx264 -pix_fmt yuv420p -bf 2 -g 20 -f h264 "$OUT"'
fixture convert_bframes_160x120.bgr \
  '$FF -i "$FIXTURES/convert_bframes_160x120.h264" -f rawvideo -pix_fmt bgr24 "$OUT"'
# Full-range (JPEG) levels, as IP cameras send them.
fixture convert_full_range_64x48.h264 \
  '$FF -f lavfi -i testsrc2=size=64x48:rate=25 -t 0.4 -c:v libx264 -pix_fmt yuvj420p -bf 0 -f h264 "$OUT"'
fixture convert_full_range_64x48.bgr \
  '$FF -i "$FIXTURES/convert_full_range_64x48.h264" -f rawvideo -pix_fmt bgr24 "$OUT"'
fixture convert_640x480.h264 \
  '$FF -f lavfi -i testsrc2=size=640x480:rate=25 -t 0.12 -c:v libx264 -pix_fmt yuv420p -bf 0 -f h264 "$OUT"'
fixture convert_640x480.bgr '$FF -i "$FIXTURES/convert_640x480.h264" -f rawvideo -pix_fmt bgr24 "$OUT"'
# A picture and the ffmpeg tool's bicubic conversions of it, in one thread (the
# BGR24-to-YUV420P shortcut gives other last rows for every slice a thread takes).
fixture convert_pattern_64x48.bgr \
  '$FF -f lavfi -i testsrc2=size=64x48 -frames:v 1 -f rawvideo -pix_fmt bgr24 "$OUT"'
fixture convert_pattern_64x48.nv12 \
  '$FF -f rawvideo -pix_fmt bgr24 -s 64x48 -i "$FIXTURES/convert_pattern_64x48.bgr" -filter_threads 1 -sws_flags bicubic -f rawvideo -pix_fmt nv12 "$OUT"'
fixture convert_pattern_64x48.yuv420p \
  '$FF -f rawvideo -pix_fmt bgr24 -s 64x48 -i "$FIXTURES/convert_pattern_64x48.bgr" -filter_threads 1 -sws_flags bicubic -f rawvideo -pix_fmt yuv420p "$OUT"'
# BT.709-tagged pictures, limited and full range: converted with that matrix.
fixture convert_bt709_64x48.h264 \
  '$FF -f lavfi -i testsrc2=size=64x48:rate=25 -t 0.2 -vf scale=out_color_matrix=bt709 -c:v libx264 -pix_fmt yuv420p -colorspace bt709 -bf 0 -f h264 "$OUT"'
fixture convert_bt709_64x48.bgr '$FF -i "$FIXTURES/convert_bt709_64x48.h264" -f rawvideo -pix_fmt bgr24 "$OUT"'
fixture convert_bt709_full_64x48.h264 \
  '$FF -f lavfi -i testsrc2=size=64x48:rate=25 -t 0.2 -vf scale=out_color_matrix=bt709:out_range=pc -c:v libx264 -pix_fmt yuvj420p -colorspace bt709 -bf 0 -f h264 "$OUT"'
fixture convert_bt709_full_64x48.bgr '$FF -i "$FIXTURES/convert_bt709_full_64x48.h264" -f rawvideo -pix_fmt bgr24 "$OUT"'
