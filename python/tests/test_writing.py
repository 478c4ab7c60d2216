"""Writers read back, the packet decoder and the pixel converter, against the
ffmpeg tool."""

import subprocess

import numpy as np
import pytest
from conftest import FPS, SIZE, access_units, decoded, ffmpeg

import tarsel

WIDTH, HEIGHT = SIZE


def _ffv1(path, frames):
    with tarsel.FFV1Writer(path, WIDTH, HEIGHT, FPS) as writer:
        for frame in frames:
            writer.write(frame)


def _timed(path, frames):
    with tarsel.VideoWriter(path, WIDTH, HEIGHT, FPS, bit_rate=2_000_000) as writer:
        for frame in frames:
            writer.write(frame)
        assert writer.counters[0] == len(frames) and writer.counters[1] > 0


# The writers encode in YUV 4:2:0, so the pictures come back close, not equal.
@pytest.mark.parametrize("write, name, tolerance", [
    (_ffv1, "ffv1.mkv", 2.0),
    (_ffv1, "ffv1.avi", 2.0),
    (_timed, "timed.avi", 3.0),
])
def test_written_files_read_back(media, clip_frames, tmp_path, write, name, tolerance):
    frames = clip_frames[:20]
    write(tmp_path / name, frames)
    with tarsel.VideoReader(tmp_path / name) as reader:
        back = np.array([image for _, _, image in reader])
    assert np.array_equal(back, decoded(tmp_path / name, WIDTH, HEIGHT))
    assert back.shape == frames.shape
    assert np.abs(back.astype(int) - frames).mean() < tolerance


@pytest.mark.parametrize("writer", [tarsel.Mp4Writer, tarsel.Mp4Muxer])
@pytest.mark.parametrize("timed", [True, False])
def test_h264_stored_without_reencoding(media, tmp_path, writer, timed):
    sps, pps, pictures = access_units(media.stream.read_bytes())
    path = tmp_path / "stored.mp4"
    with writer(path, WIDTH, HEIGHT, FPS) as mp4:
        mp4.set_parameter_sets(sps, pps)
        for n, unit in enumerate(pictures):
            mp4.add(unit, n / FPS if timed else None)
    with tarsel.VideoReader(path) as reader:
        back = np.array([image for _, _, image in reader])
    assert np.array_equal(back, decoded(media.stream, WIDTH, HEIGHT))


def test_packets_decode_like_the_ffmpeg_tool(media):
    sps, pps, pictures = access_units(media.stream.read_bytes())
    out = np.zeros((HEIGHT, WIDTH, 3), np.uint8)
    with tarsel.H264Decoder() as decoder:
        first = decoder.decode(sps + pps + pictures[0])
        rest = [decoder.decode(unit, out=out).copy() for unit in pictures[1:]]
    assert np.array_equal(np.array([first] + rest), decoded(media.stream, WIDTH, HEIGHT))


def _ffmpeg_converted(tmp_path, picture, layout):
    source = tmp_path / "picture.bgr"
    source.write_bytes(picture.tobytes())
    ffmpeg("-f", "rawvideo", "-pix_fmt", "bgr24", "-s", "64x48", "-i", str(source),
           "-filter_threads", "1", "-sws_flags", "bicubic", "-f", "rawvideo", "-pix_fmt",
           layout, str(tmp_path / "converted"))
    return np.frombuffer((tmp_path / "converted").read_bytes(), np.uint8)


@pytest.mark.parametrize("layout, ffmpeg_name, shape", [
    ("NV12", "nv12", (64 * 48 * 3 // 2,)),
    ("YUV420P", "yuv420p", (64 * 48 * 3 // 2,)),
    ("RGB24", "rgb24", (48, 64, 3)),
    ("BGRA", "bgra", (48, 64, 4)),
])
def test_conversions_equal_the_ffmpeg_tools(tmp_path, layout, ffmpeg_name, shape):
    picture = _pattern()
    with tarsel.PixelConverter("BGR24", layout, 64, 48) as converter:
        converted = converter.convert(picture)
    assert converted.shape == shape
    assert np.array_equal(converted.reshape(-1), _ffmpeg_converted(tmp_path, picture, ffmpeg_name))


def _pattern():
    raw = subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                          "testsrc2=size=64x48", "-frames:v", "1", "-f", "rawvideo", "-pix_fmt",
                          "bgr24", "-"], check=True, capture_output=True).stdout
    return np.frombuffer(raw, np.uint8).reshape(48, 64, 3)


@pytest.mark.parametrize("layout, width, height, size", [
    ("YUV420P", 3, 3, 17), ("NV12", 4, 2, 12), ("YUYV422", 3, 2, 16), ("GRAY8", 5, 3, 15),
])
def test_picture_sizes_of_odd_layouts(layout, width, height, size):
    assert int(np.prod(tarsel.picture_shape(layout, width, height))) == size
    with tarsel.PixelConverter("BGR24", layout, width, height) as converter:
        assert converter.convert(np.zeros((height, width, 3), np.uint8)).nbytes == size
        with pytest.raises(ValueError):  # never fewer bytes than a picture
            converter.convert(np.zeros(3 * width * height - 1, np.uint8))
