# Audio reader and AAC packet decoder fixtures, each with an s16le reference
# decoded by the ffmpeg tool where the tests compare samples.
TONE2='aevalsrc=0.5*sin(2*PI*440*t)|0.4*sin(2*PI*660*t):s=44100:d=2'
export TONE2
fixture audio_stereo44.m4a '$FF -f lavfi -i "$TONE2" -c:a aac -b:a 128k "$OUT"'
fixture audio_stereo44.m4a.s16 '$FF -i "$FIXTURES/audio_stereo44.m4a" -f s16le "$OUT"'
fixture audio_stereo44.aac '$FF -f lavfi -i "$TONE2" -c:a aac -b:a 128k -f adts "$OUT"'
fixture audio_stereo44.aac.s16 '$FF -i "$FIXTURES/audio_stereo44.aac" -f s16le "$OUT"'
fixture audio_stereo44_to48.s16 '$FF -i "$FIXTURES/audio_stereo44.aac" -ar 48000 -f s16le "$OUT"'
fixture audio_mono48.aac '$FF -f lavfi -i "sine=frequency=300:sample_rate=48000:duration=1.5" -c:a aac -b:a 64k -f adts "$OUT"'
fixture audio_mono48.aac.s16 '$FF -i "$FIXTURES/audio_mono48.aac" -f s16le "$OUT"'
fixture audio_mono48.m4a '$FF -i "$FIXTURES/audio_mono48.aac" -c copy "$OUT"'
fixture audio_mono48.m4a.s16 '$FF -i "$FIXTURES/audio_mono48.m4a" -f s16le "$OUT"'
fixture audio_6ch.m4a '$FF -f lavfi -i "aevalsrc=0.3*sin(2*PI*200*t)|0.3*sin(2*PI*300*t)|0.3*sin(2*PI*400*t)|0.3*sin(2*PI*50*t)|0.3*sin(2*PI*600*t)|0.3*sin(2*PI*700*t):s=48000:d=1:c=5.1" -c:a aac -b:a 256k "$OUT"'
fixture audio_6ch.m4a.s16 '$FF -i "$FIXTURES/audio_6ch.m4a" -f s16le "$OUT"'
fixture audio_6ch.aac '$FF -i "$FIXTURES/audio_6ch.m4a" -c copy -f adts "$OUT"'
fixture audio_s16.wav '$FF -f lavfi -i "$TONE2" -c:a pcm_s16le "$OUT"'
fixture audio_s16.wav.s16 '$FF -i "$FIXTURES/audio_s16.wav" -f s16le "$OUT"'
fixture audio_6ch.wav '$FF -i "$FIXTURES/audio_6ch.m4a" -c:a pcm_s16le "$OUT"'
fixture audio_6ch.wav.s16 '$FF -i "$FIXTURES/audio_6ch.wav" -f s16le "$OUT"'
fixture audio_stereo.mp3 '$FF -f lavfi -i "$TONE2" -c:a libmp3lame -b:a 128k "$OUT"'
fixture audio_stereo.mp3.s16 '$FF -i "$FIXTURES/audio_stereo.mp3" -f s16le "$OUT"'
# WavPack frames of 6 channels hold 24000 samples: 288000 bytes as s16, more
# than one block of the reader's buffer.
fixture audio_6ch.wv '$FF -i "$FIXTURES/audio_6ch.wav" -c:a wavpack "$OUT"'
fixture audio_6ch.wv.s16 '$FF -i "$FIXTURES/audio_6ch.wv" -f s16le "$OUT"'
# AAC in MPEG-TS, whose timestamps start at 1.4 s.
fixture audio_start.ts '$FF -f lavfi -i "$TONE2" -c:a aac -b:a 128k -f mpegts "$OUT"'
# The first 40% of an m4a whose index is at its end, and of an ADTS stream.
fixture audio_cut.m4a 'head -c $(( $(stat -c %s "$FIXTURES/audio_stereo44.m4a") * 4 / 10 )) "$FIXTURES/audio_stereo44.m4a" >"$OUT"'
fixture audio_cut.aac 'head -c $(( $(stat -c %s "$FIXTURES/audio_stereo44.aac") * 4 / 10 + 3 )) "$FIXTURES/audio_stereo44.aac" >"$OUT"'
fixture audio_video_only.mp4 '$FF -f lavfi -i testsrc2=size=160x120:rate=10 -t 1 -c:v mpeg4 "$OUT"'
fixture audio_6ch.aac.s16 '$FF -i "$FIXTURES/audio_6ch.aac" -f s16le "$OUT"'
# Eight channels at 8 kHz decoded to 96 kHz: 12288 samples per frame, more than
# one fetch (12000 samples of 8 channels) holds.
fixture audio_8ch8k.aac '$FF -f lavfi -i "sine=frequency=500:sample_rate=8000:duration=1" -af "pan=7.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0|c6=c0|c7=c0" -c:a aac -b:a 96k -f adts "$OUT"'
# Stream properties and the first packet's time, as ffprobe reports them.
for probed in audio_stereo44.m4a audio_mono48.m4a audio_6ch.m4a audio_s16.wav audio_stereo.mp3 audio_6ch.wv audio_start.ts; do
  fixture "$probed.probe" "ffprobe -v error -select_streams a:0 -show_entries stream=channels,sample_rate,duration,codec_long_name,start_time:packet=pts_time -read_intervals %+#1 -of default=nw=1 \"\$FIXTURES/$probed\" >\"\$OUT\""
done
# Many channels without a declared layout, as 24-bit and float samples, so they
# go through the converter: 10 channels have no default layout in FFmpeg, 16
# have one beyond the low 16 bits of the mask.
TONES10='aevalsrc=0.2*sin(2*PI*100*t)|0.2*sin(2*PI*200*t)|0.2*sin(2*PI*300*t)|0.2*sin(2*PI*400*t)|0.2*sin(2*PI*500*t)|0.2*sin(2*PI*600*t)|0.2*sin(2*PI*700*t)|0.2*sin(2*PI*800*t)|0.2*sin(2*PI*900*t)|0.2*sin(2*PI*1000*t):s=22050:d=0.3'
TONES16=${TONES10%%:s=*}'|0.2*sin(2*PI*1100*t)|0.2*sin(2*PI*1200*t)|0.2*sin(2*PI*1300*t)|0.2*sin(2*PI*1400*t)|0.2*sin(2*PI*1500*t)|0.2*sin(2*PI*1600*t):s=22050:d=0.3'
export TONES10 TONES16
fixture audio_10ch.wav '$FF -f lavfi -i "$TONES10" -c:a pcm_s24le "$OUT"'
fixture audio_10ch.wav.s16 '$FF -i "$FIXTURES/audio_10ch.wav" -f s16le "$OUT"'
fixture audio_16ch.wav '$FF -f lavfi -i "$TONES16" -c:a pcm_f32le "$OUT"'
fixture audio_16ch.wav.s16 '$FF -i "$FIXTURES/audio_16ch.wav" -f s16le "$OUT"'
# Interleaved 16-bit samples in packets of 30000 samples of 6 channels (360000
# bytes), copied out without conversion over several blocks.
fixture audio_6ch_s16_big.mkv '$FF -f lavfi -i "aevalsrc=0.3*sin(2*PI*200*t)|0.3*sin(2*PI*300*t)|0.3*sin(2*PI*400*t)|0.3*sin(2*PI*50*t)|0.3*sin(2*PI*600*t)|0.3*sin(2*PI*700*t):s=48000:d=0.7:c=5.1:n=30000" -c:a pcm_s16le "$OUT"'
fixture audio_6ch_s16_big.mkv.s16 '$FF -i "$FIXTURES/audio_6ch_s16_big.mkv" -f s16le "$OUT"'
# An ADTS stream whose rate changes from 44.1 kHz to 48 kHz half-way.
fixture audio_stereo48.aac '$FF -f lavfi -i "aevalsrc=0.5*sin(2*PI*440*t)|0.4*sin(2*PI*660*t):s=48000:d=0.5" -c:a aac -b:a 128k -f adts "$OUT"'
fixture audio_rate_change.aac 'cat "$FIXTURES/audio_stereo44.aac" "$FIXTURES/audio_stereo48.aac" >"$OUT"'
