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
# Broken inputs: empty and one-byte files, cut and bit-flipped files of every
# audio container, absurd header fields and time bases.
fixture audio_bad_ogg_source.ogg '$FF -f lavfi -i "$TONE2" -c:a libvorbis "$OUT"'
fixture audio_bad_flac_source.flac '$FF -f lavfi -i "$TONE2" -c:a flac "$OUT"'
fixture audio_bad_mka_source.mka '$FF -f lavfi -i "$TONE2" -c:a libopus "$OUT"'
fixture audio_bad_faststart_source.m4a '$FF -i "$FIXTURES/audio_stereo44.m4a" -c copy -movflags +faststart "$OUT"'
fixture audio_bad_empty.wav ': >"$OUT"'
fixture audio_bad_one_byte.m4a 'printf "\\0" >"$OUT"'
fixture audio_bad_header_cut.wav 'cut_at "$FIXTURES/audio_s16.wav" 30'
fixture audio_bad_data_cut.wav 'cut_at "$FIXTURES/audio_s16.wav" 100001'
fixture audio_bad_cut.mp3 'cut_at "$FIXTURES/audio_stereo.mp3" 9001'
fixture audio_bad_cut.ogg 'cut_at "$FIXTURES/audio_bad_ogg_source.ogg" 6001'
fixture audio_bad_cut.flac 'cut_at "$FIXTURES/audio_bad_flac_source.flac" 20001'
fixture audio_bad_cut.mka 'cut_at "$FIXTURES/audio_bad_mka_source.mka" 5001'
fixture audio_bad_cut.ts 'cut_at "$FIXTURES/audio_start.ts" 10001'
fixture audio_bad_cut_faststart.m4a 'cut_at "$FIXTURES/audio_bad_faststart_source.m4a" 12001'
fixture audio_bad_no_channels.wav 'poke "$FIXTURES/audio_s16.wav" 22 0000'
fixture audio_bad_65535_channels.wav 'poke "$FIXTURES/audio_s16.wav" 22 ffff'
fixture audio_bad_no_rate.wav 'poke "$FIXTURES/audio_s16.wav" 24 00000000'
fixture audio_bad_huge_rate.wav 'poke "$FIXTURES/audio_s16.wav" 24 ffffff7f'
fixture audio_bad_bits.wav 'poke "$FIXTURES/audio_s16.wav" 34 ff00'
fixture audio_bad_data_size.wav 'poke "$FIXTURES/audio_s16.wav" $(($(offset_of "$FIXTURES/audio_s16.wav" data) + 4)) ffffffff'
fixture audio_bad_adts_rate.aac 'poke "$FIXTURES/audio_stereo44.aac" 2 7c'
fixture audio_bad_adts_flip.aac 'flip "$FIXTURES/audio_stereo44.aac" 3'
fixture audio_bad_esds_flip.m4a 'flip "$FIXTURES/audio_bad_faststart_source.m4a" $(($(offset_of "$FIXTURES/audio_bad_faststart_source.m4a" esds) + 30))'
fixture audio_bad_stsz_flip.m4a 'flip "$FIXTURES/audio_bad_faststart_source.m4a" $(($(offset_of "$FIXTURES/audio_bad_faststart_source.m4a" stsz) + 14))'
# The track's time base (mdhd timescale) 1/1 and 1/(2^31 - 1).
fixture audio_bad_timescale_1.m4a 'poke "$FIXTURES/audio_bad_faststart_source.m4a" $(($(offset_of "$FIXTURES/audio_bad_faststart_source.m4a" mdhd) + 16)) 00000001'
fixture audio_bad_timescale_max.m4a 'poke "$FIXTURES/audio_bad_faststart_source.m4a" $(($(offset_of "$FIXTURES/audio_bad_faststart_source.m4a" mdhd) + 16)) 7fffffff'
fixture audio_bad_ogg_flip.ogg 'flip "$FIXTURES/audio_bad_ogg_source.ogg" 60'
fixture audio_bad_mp3_noise.mp3 'head -c 3000 /dev/zero | tr "\\0" "\\377" | cat - "$FIXTURES/audio_stereo.mp3" >"$OUT"'
# What the ffmpeg tool decodes from the damaged files that still open.
for damaged in audio_bad_adts_flip.aac audio_bad_adts_rate.aac audio_bad_cut.mka audio_bad_cut.mp3 \
  audio_bad_cut.ts audio_bad_cut_faststart.m4a audio_bad_data_cut.wav audio_bad_data_size.wav \
  audio_bad_esds_flip.m4a audio_bad_huge_rate.wav audio_bad_mp3_noise.mp3 \
  audio_bad_timescale_1.m4a audio_bad_timescale_max.m4a; do
  fixture "$damaged.s16" "\$FF -i \"\$FIXTURES/$damaged\" -f s16le \"\$OUT\""
done
