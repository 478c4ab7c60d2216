# Fixture media of the tarsel tool's tests, with what ffprobe and the ffmpeg tool
# say about it.
# A clip with sound whose pictures differ strongly one from the next (the hue
# turns 47 degrees a picture), so that a picture taken for another one shows.
fixture tool_clip.mp4 '$FF -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 -t 4 -vf hue=h=47*n -c:v libx264 -pix_fmt yuv420p -g 25 -c:a aac -ac 2 "$OUT"'
fixture tool_clip.probe.json 'ffprobe -v error -of json -show_streams "$FIXTURES/tool_clip.mp4" >"$OUT"'
fixture tool_clip.md5 '$FF -i "$FIXTURES/tool_clip.mp4" -an -pix_fmt bgr24 -fps_mode passthrough -f framemd5 "$OUT"'
fixture tool_clip.aac.s16 '$FF -i "$FIXTURES/tool_clip.mp4" -f s16le "$OUT"'
# The same pictures with the sound as 16-bit PCM, which decodes exactly.
fixture tool_clip_pcm.mkv '$FF -i "$FIXTURES/tool_clip.mp4" -c:v copy -c:a pcm_s16le "$OUT"'
fixture tool_clip_pcm.s16 '$FF -i "$FIXTURES/tool_clip_pcm.mkv" -f s16le "$OUT"'
# H.264 streams as an encoder hands them over, without and with B-frames.
fixture tool_stream.h264 '$FF -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 50 -c:v libx264 -bf 0 -g 12 -pix_fmt yuv420p -f h264 "$OUT"'
fixture tool_stream.md5 '$FF -i "$FIXTURES/tool_stream.h264" -fps_mode passthrough -f framemd5 "$OUT"'
fixture tool_bframes.h264 '$FF -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 50 -c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p -f h264 "$OUT"'
