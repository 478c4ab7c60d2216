"""Video and audio reading, checked against the ffmpeg tool's decode."""

import os
import shlex
import subprocess
import sys

import numpy as np
import pytest
from conftest import FPS, ROOT, SIZE, pcm

import tarsel

WIDTH, HEIGHT = SIZE


def _fresh(reader):
    return [(index, time, image.copy()) for index, time, image in reader]


def _reused(reader):
    out = np.zeros(reader.shape, np.uint8)
    frames = [(index, time, image.copy()) for index, time, image in reader.frames(out)]
    assert all(image is out for _, _, image in reader.frames(out))  # nothing left, same array
    return frames


def _bottom_up(reader):
    buffer = np.zeros(reader.shape, np.uint8)
    frames = []
    while (frame := reader.read(out=buffer[::-1])) is not None:
        frames.append((frame.index, frame.time, buffer[::-1].copy()))
    return frames


def _padded_rows(reader):
    padded = np.zeros((HEIGHT, 3 * WIDTH + 64), np.uint8)
    view = padded[:, :3 * WIDTH].reshape(HEIGHT, WIDTH, 3)
    frames = []
    while (frame := reader.read(out=view)) is not None:
        frames.append((frame.index, frame.time, view.copy()))
    assert not padded[:, 3 * WIDTH:].any()  # bytes between rows untouched
    return frames


@pytest.mark.parametrize("read", [_fresh, _reused, _bottom_up, _padded_rows])
def test_every_frame_equals_the_ffmpeg_tools_decode(media, clip_frames, read):
    with tarsel.VideoReader(media.clip) as reader:
        assert len(reader) == reader.info.frame_count == len(clip_frames) == 50
        frames = read(reader)
    assert [index for index, _, _ in frames] == list(range(50))
    assert [time for _, time, _ in frames] == pytest.approx([i / FPS for i in range(50)])
    for (index, _, image), expected in zip(frames, clip_frames):
        assert np.array_equal(image, expected), f"frame {index}"


def test_information_of_the_clip(media):
    with tarsel.VideoReader(media.clip) as reader:
        info = reader.info
    assert (info.width, info.height, info.frame_count) == (WIDTH, HEIGHT, 50)
    assert (info.duration, info.frame_rate) == (pytest.approx(2.0), pytest.approx(25.0))
    assert (info.avg_frame_rate_num, info.avg_frame_rate_den) == (25, 1)
    assert info.codec_id == 27  # H.264
    assert info.stream_frame_count == 50
    assert reader.shape == (HEIGHT, WIDTH, 3) and reader.closed


@pytest.mark.parametrize("index", [0, 1, 11, 12, 13, 30, 49, -1, -50])
def test_index_access_equals_iteration(media, clip_frames, index):
    with tarsel.VideoReader(media.clip) as reader:
        assert np.array_equal(reader[index], clip_frames[index])
        after = reader.read()  # reading goes on after the picture asked for
    assert (after.index if after else 50) == index % 50 + 1


@pytest.mark.parametrize("index", [50, -51, 10**12])
def test_index_beyond_the_count(media, index):
    with tarsel.VideoReader(media.clip) as reader, pytest.raises(IndexError):
        reader[index]


def test_positioning(media, clip_frames):
    with tarsel.VideoReader(media.clip) as reader:
        steps = [
            (lambda: reader.at(0.0), 0),
            (lambda: reader.at(1.0), 25),
            (lambda: reader.at(1.01), 26),
            (lambda: reader.read(), 27),
            (lambda: (reader.rewind(), reader.read())[1], 0),
            (lambda: (reader.skip(10), reader.read())[1], 11),
            (lambda: reader.read_index(49), 49),
        ]
        for action, expected in steps:
            frame = action()
            assert frame.index == expected
            assert np.array_equal(frame.image, clip_frames[expected])
        assert reader.read() is None and reader.at(2.0) is None
        assert reader.read_index(50) is None
        assert reader.read_all() == (50, 0, 49 * 512, 1, 12800)
        assert reader.read() is None
        reader.set_frame_rate(12.5)
        assert len(reader) == 25


def test_audio_blocks_equal_the_ffmpeg_tools_decode(media):
    expected = pcm(media.m4a, 2)
    with tarsel.AudioReader(media.m4a) as reader:
        info = reader.info
        blocks = list(reader)
    assert (info.channels, info.sample_rate, info.buffer_size) == (2, 44100, 192064)
    assert info.duration == pytest.approx(2.0, abs=0.05) and "AAC" in info.codec_name
    assert all(block.samples.dtype == np.int16 and block.samples.shape == (1024, 2)
               for block in blocks[:-1])
    times = [block.time for block in blocks]
    assert np.allclose(np.diff(times), 1024 / 44100)
    samples = np.concatenate([block.samples for block in blocks])
    assert samples.shape == expected.shape
    assert np.abs(samples.astype(int) - expected).max() <= 1


def test_audio_jump(media):
    expected = pcm(media.wav, 2)
    with tarsel.AudioReader(media.wav) as reader:
        assert reader.jump(5.0) is None  # beyond the duration
        reached = reader.jump(1.0)
        block = reader.read()
    assert reached == pytest.approx(1.0, abs=0.05) and block.time == pytest.approx(reached)
    first = round(reached * 44100)
    assert np.array_equal(block.samples, expected[first:first + len(block.samples)])


def _adts_frames(data: bytes):
    """The frames of an ADTS stream, headers included."""
    frames, position = [], 0
    while position + 7 <= len(data):
        length = (data[position + 3] & 3) << 11 | data[position + 4] << 3 | data[position + 5] >> 5
        frames.append(data[position:position + length])
        position += length
    return frames


@pytest.mark.parametrize("out_rate", [44100, 48000])
def test_aac_packets_decode_like_the_ffmpeg_tool(media, out_rate):
    expected = pcm(media.adts, 2, "-ar", str(out_rate))
    with tarsel.AacDecoder(2, 44100, out_rate) as decoder:
        blocks = [decoder.decode(frame) for frame in _adts_frames(media.adts.read_bytes())]
    samples = np.concatenate(blocks)
    assert samples.dtype == np.int16 and samples.shape[1] == 2
    # The resampler keeps its last samples; the ffmpeg tool flushes them.
    assert 0 <= len(expected) - len(samples) <= 64
    assert np.abs(samples.astype(int) - expected[:len(samples)]).max() <= 1


def test_the_interrupt_callable_aborts_blocking_reads(media):
    calls = []
    with tarsel.VideoReader(media.clip, interrupt=lambda: calls.append(1)) as reader:
        assert len(list(reader)) == 50 and calls  # asked, never true: nothing aborted
    with pytest.raises(tarsel.TarselError, match="Immediate exit requested"):
        tarsel.VideoReader(media.clip, interrupt=lambda: True)

    def failing():
        raise KeyError("from the callable")

    with pytest.raises(KeyError, match="from the callable"):  # its own exception, not the abort
        tarsel.VideoReader(media.clip, interrupt=failing)


def test_the_readme_example_works_as_written(tmp_path):
    readme = (ROOT / "README.md").read_text().split("## Python", 1)[1]
    shell = readme.split("```sh\n", 1)[1].split("```", 1)[0]
    example = readme.split("```python\n", 1)[1].split("```", 1)[0]
    make_clip = next(line for line in shell.splitlines() if line.startswith("ffmpeg "))
    command = shlex.split(make_clip)
    subprocess.run(command[:1] + ["-nostdin", "-loglevel", "error"] + command[1:], cwd=tmp_path,
                   check=True)
    environment = dict(os.environ, PYTHONPATH=str(ROOT / "python"))
    printed = subprocess.run([sys.executable, "-c", example], cwd=tmp_path, env=environment,
                             check=True, capture_output=True, text=True).stdout.splitlines()
    assert len(printed) == 50 and printed[0].startswith("0 0.00 s (240, 320, 3)")
