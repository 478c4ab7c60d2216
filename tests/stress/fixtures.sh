# Small clips of the stress tests, one per container the readers meet, most
# with sound; and a raw H.264 stream for the MP4 writers and the decoder.
STRESS_V='-f lavfi -i testsrc2=size=96x64:rate=25:duration=0.8'
STRESS_A='-f lavfi -i sine=frequency=440:sample_rate=44100:duration=0.8'
export STRESS_V STRESS_A
fixture stress_h264_aac.mp4 '$FF $STRESS_V $STRESS_A -c:v libx264 -bf 2 -g 10 -c:a aac -shortest "$OUT"'
fixture stress_h264_opus.mkv '$FF $STRESS_V $STRESS_A -c:v libx264 -bf 0 -c:a libopus -shortest "$OUT"'
fixture stress_mpeg4_mp3.avi '$FF $STRESS_V $STRESS_A -c:v mpeg4 -bf 1 -c:a libmp3lame -shortest "$OUT"'
fixture stress_h264_aac.ts '$FF $STRESS_V $STRESS_A -c:v libx264 -c:a aac -shortest "$OUT"'
fixture stress_h264.flv '$FF $STRESS_V -c:v libx264 -bf 0 "$OUT"'
fixture stress_mjpeg_pcm.mov '$FF $STRESS_V $STRESS_A -c:v mjpeg -c:a pcm_s16le -shortest "$OUT"'
fixture stress_vp8_vorbis.webm '$FF $STRESS_V $STRESS_A -c:v libvpx -b:v 200k -c:a libvorbis -shortest "$OUT"'
fixture stress_mpeg2_mp2.mpg '$FF $STRESS_V $STRESS_A -c:v mpeg2video -c:a mp2 -shortest "$OUT"'
fixture stress_tone.wav '$FF $STRESS_A -c:a pcm_s16le "$OUT"'
fixture stress_tone.aac '$FF $STRESS_A -c:a aac -f adts "$OUT"'
fixture stress_96x64.h264 '$FF $STRESS_V -c:v libx264 -bf 0 -g 10 -f h264 "$OUT"'
