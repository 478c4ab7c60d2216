#!/usr/bin/env python3
"""How fast tarsel.VideoReader hands 1080p H.264 frames to Python as NumPy arrays,
side by side with OpenCV's VideoCapture.read() and PyAV's to_ndarray("bgr24").

    /usr/bin/python3 bench/python_reader.py [seconds]

Sequential reading: frames per second and processor time per frame (all threads
of the process; steadier than the clock on a shared machine), best of two
alternating runs. Random access: fixed random indices on a clip with 250-frame
GOPs, against OpenCV's CAP_PROP_POS_FRAMES, each answer compared with the same
library's own sequential picture. OpenCV and PyAV are skipped with a note when
they are not installed (Debian: python3-opencv, python3-av). The library is
found as the package finds it (TARSEL_LIBRARY, or build/src/libtarsel.so here).
"""

import hashlib
import os
import random
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "python"))
if "TARSEL_LIBRARY" not in os.environ and (ROOT / "build/src/libtarsel.so").exists():
    os.environ["TARSEL_LIBRARY"] = str(ROOT / "build/src/libtarsel.so")

import numpy as np  # noqa: E402

import tarsel  # noqa: E402

RATE = 30
ACCESSES = 30

try:
    import cv2
except ImportError:
    cv2 = None
try:
    import av
except ImportError:
    av = None


def make_clip(path, seconds, *options):
    subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f",
                    "lavfi", "-i", f"testsrc2=size=1920x1080:rate={RATE}", "-t", str(seconds),
                    "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", *options,
                    str(path)], check=True)


def timed(read):
    """(frames per second, processor ms per frame) of a function returning a count."""
    start, cpu = time.perf_counter(), time.process_time()
    count = read()
    return count / (time.perf_counter() - start), (time.process_time() - cpu) * 1000 / count


def tarsel_fresh(path):
    with tarsel.VideoReader(path) as reader:
        return sum(1 for _ in reader)


def tarsel_reused(path):
    with tarsel.VideoReader(path) as reader:
        return sum(1 for _ in reader.frames(out=np.empty(reader.shape, np.uint8)))


def opencv_read(path):
    capture = cv2.VideoCapture(str(path))
    count = 0
    while capture.read()[0]:
        count += 1
    capture.release()
    return count


def pyav_read(path):
    with av.open(str(path)) as container:
        stream = container.streams.video[0]
        stream.thread_type = "AUTO"  # frame and slice threads, as the others use
        return sum(1 for frame in container.decode(stream) if frame.to_ndarray(format="bgr24")
                   is not None)


def md5(image):
    return hashlib.md5(np.ascontiguousarray(image).tobytes()).hexdigest()


def tarsel_random(path, indices):
    with tarsel.VideoReader(path) as reader:
        sums = [md5(image) for _, _, image in reader]
        start, cpu = time.perf_counter(), time.process_time()
        got = [md5(reader[i]) for i in indices]
        return (time.perf_counter() - start, time.process_time() - cpu,
                sum(g == sums[i] for g, i in zip(got, indices)))


def opencv_random(path, indices):
    capture = cv2.VideoCapture(str(path))
    sums = []
    while True:
        ok, frame = capture.read()
        if not ok:
            break
        sums.append(md5(frame))
    start, cpu = time.perf_counter(), time.process_time()
    got = []
    for i in indices:
        capture.set(cv2.CAP_PROP_POS_FRAMES, i)
        ok, frame = capture.read()
        got.append(md5(frame) if ok else "")
    elapsed, processor = time.perf_counter() - start, time.process_time() - cpu
    capture.release()
    return elapsed, processor, sum(g == sums[i] for g, i in zip(got, indices) if i < len(sums))


def main():
    seconds = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    print(f"machine load (1, 5, 15 min): {' '.join(f'{x:.1f}' for x in os.getloadavg())}, "
          f"{os.cpu_count()} cores")
    with tempfile.TemporaryDirectory(prefix="tarsel_python_bench_") as folder:
        clip, long_gop = Path(folder) / "clip.mp4", Path(folder) / "gop250.mp4"
        make_clip(clip, seconds)
        make_clip(long_gop, seconds, "-g", "250", "-keyint_min", "250", "-sc_threshold", "0")

        readers = {"tarsel VideoReader": tarsel_fresh, "tarsel VideoReader, out=": tarsel_reused}
        if cv2 is not None:
            readers["OpenCV read()"] = opencv_read
        if av is not None:
            readers["PyAV to_ndarray(bgr24)"] = pyav_read
        best = {name: (0.0, 0.0) for name in readers}
        for _ in range(2):
            for name, read in readers.items():
                fps, cpu_ms = timed(lambda: read(clip))
                if fps > best[name][0]:
                    best[name] = (fps, cpu_ms)
        print(f"\nSequential reading, {seconds} s of 1080p H.264 at {RATE} fps, best of 2")
        for name, (fps, cpu_ms) in best.items():
            print(f"  {name:26} {fps:7.1f} fps  {cpu_ms:6.2f} ms processor time per frame")
        ours = best["tarsel VideoReader"]
        for name, note in (("OpenCV read()", "python3-opencv"),
                           ("PyAV to_ndarray(bgr24)", "python3-av")):
            if name in best:
                theirs = best[name]
                print(f"  tarsel / {name.split()[0]} = {ours[0] / theirs[0]:.2f} by frames per "
                      f"second, {theirs[1] / ours[1]:.2f} by processor time (target > 1)")
            else:
                print(f"  {name.split()[0]}: not installed ({note}), skipped")

        rng = random.Random(2024)
        indices = [rng.randrange(seconds * RATE) for _ in range(ACCESSES)]
        print(f"\nRandom access, {ACCESSES} fixed indices, 1080p with 250-frame GOPs")
        elapsed, cpu, exact = tarsel_random(long_gop, indices)
        print(f"  tarsel reader[i]           {elapsed * 1000 / ACCESSES:7.1f} ms per access "
              f"({cpu * 1000 / ACCESSES:.1f} ms processor time), {exact} of {ACCESSES} exact")
        if cv2 is not None:
            elapsed_cv, cpu_cv, exact_cv = opencv_random(long_gop, indices)
            print(f"  OpenCV POS_FRAMES + read() {elapsed_cv * 1000 / ACCESSES:7.1f} ms per access "
                  f"({cpu_cv * 1000 / ACCESSES:.1f} ms processor time), {exact_cv} of {ACCESSES} "
                  "exact")
            print(f"  OpenCV / tarsel time per access = {elapsed_cv / elapsed:.2f} by the clock, "
                  f"{cpu_cv / cpu:.2f} by processor time (target > 1, and every access exact)")
        else:
            print("  OpenCV: not installed (python3-opencv), skipped")
    print(f"machine load after: {' '.join(f'{x:.1f}' for x in os.getloadavg())}")


if __name__ == "__main__":
    main()
