# Raw H.264 streams as an encoder hands them over, and their decoded pictures.
fixture mp4_ip_176x144.h264 '$FF -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 50 -c:v libx264 -preset veryfast -bf 0 -g 12 -pix_fmt yuv420p -f h264 "$OUT"'
fixture mp4_ip_176x144.yuv '$FF -i "$FIXTURES/mp4_ip_176x144.h264" -fps_mode passthrough -f rawvideo -pix_fmt yuv420p "$OUT"'
fixture mp4_b_176x144.h264 '$FF -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 50 -c:v libx264 -preset veryfast -bf 2 -g 12 -pix_fmt yuv420p -f h264 "$OUT"'
fixture mp4_b_176x144.yuv '$FF -i "$FIXTURES/mp4_b_176x144.h264" -fps_mode passthrough -f rawvideo -pix_fmt yuv420p "$OUT"'
