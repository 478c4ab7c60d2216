# A smooth 64x48 BGR24 gradient, the picture the writer tests encode.
fixture writers_gradient_64x48.bgr \
  '$FF -f lavfi -i "color=c=black:s=64x48:d=1,format=rgb24,geq=r=4*X:g=5*Y:b=128+2*X-2*Y" -frames:v 1 -f rawvideo -pix_fmt bgr24 "$OUT"'
# The same picture after the ffmpeg tool took it through YUV420P and back (bicubic
# both ways): what a lossless YUV420P encode of it decodes to.
fixture writers_gradient_64x48_yuv420p.bgr \
  '$FF -f rawvideo -pix_fmt bgr24 -s 64x48 -i "$FIXTURES/writers_gradient_64x48.bgr" -vf format=yuv420p -f rawvideo -pix_fmt bgr24 "$OUT"'
