# The capture families use the fake devices of the portable layer, and
# scripted V4L2 cameras whose MJPEG frames are these pictures. The NV12 file is
# the reference for the pictures the camera provider decodes, in video range
# (asked for: FFmpeg 7's tool would keep JPEG's full range).
fixture camera_640x480.jpg '$FF -f lavfi -i testsrc2=size=640x480 -frames:v 1 -update 1 -pix_fmt yuvj422p -q:v 3 "$OUT"'
fixture camera_1280x720.jpg '$FF -f lavfi -i testsrc2=size=1280x720 -frames:v 1 -update 1 -pix_fmt yuvj422p -q:v 3 "$OUT"'
fixture camera_640x480_nv12.yuv '$FF -i "$FIXTURES/camera_640x480.jpg" -vf scale=out_range=tv -pix_fmt nv12 -f rawvideo "$OUT"'
