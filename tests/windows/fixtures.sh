# A short clip with video and audio, copied by the tests to non-ASCII names.
fixture windows_av.mp4 '$FF -f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i "sine=frequency=440:sample_rate=44100" -t 1 -c:v libx264 -pix_fmt yuv420p -c:a aac -b:a 64k "$OUT"'
