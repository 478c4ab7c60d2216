# A small clip every family may use.
fixture common_320x240_25fps_2s.mp4 \
  '$FF -f lavfi -i testsrc2=size=320x240:rate=25 -t 2 -c:v libx264 -pix_fmt yuv420p -g 25 "$OUT"'
