"""Capture from the library's fake devices (TARSEL_FAKE_DEVICES=1) and encoding.

The fake camera writes its frame number into the first four bytes of each frame;
the fake microphone delivers 10 ms blocks of a 440 Hz sine at half scale. Waits
are generous: the machine may be busy.
"""

import sys
import threading
import time

import numpy as np
import pytest

import tarsel

WAIT = 60.0  # seconds, at most, for a few blocks


class Collector:
    """A callback that keeps what it is given and can wait for enough of it."""

    def __init__(self, fail_on=None):
        self.blocks = []
        self.fail_on = fail_on
        self.changed = threading.Condition()

    def __call__(self, number, timestamp, data):
        with self.changed:
            self.blocks.append((number, timestamp, data))
            self.changed.notify_all()
        if number == self.fail_on:
            raise RuntimeError(f"callback failed on block {number}")

    def wait(self, count):
        with self.changed:
            arrived = self.changed.wait_for(lambda: len(self.blocks) >= count, WAIT)
        assert arrived, f"{len(self.blocks)} of {count} blocks arrived"


def test_devices_and_formats():
    assert tarsel.Camera.devices()[:2] == ["Tarsel Virtual Camera", "Tarsel Caméra -"]
    with tarsel.Camera(1) as camera:
        assert camera.name == "Tarsel Caméra -"
        assert camera.formats[0][:6] == ("NV12", 320, 240, 30.0, 30, 1)
    with tarsel.Camera(0) as camera:
        names = [(f.name, f.width, f.height, f.frame_rate_num) for f in camera.formats]
        assert names == [("NV12", 640, 480, 30), ("YUY2", 640, 480, 30), ("I420", 640, 480, 30),
                         ("NV12", 1280, 720, 30), ("NV12", 320, 240, 60), ("RGB24", 160, 120, 0)]
    with pytest.raises(IndexError):
        tarsel.Camera(len(tarsel.Camera.devices()))


@pytest.mark.parametrize("pixel_format, frame_bytes", [("NV12", 320 * 240 * 3 // 2),
                                                       ("YUY2", 320 * 240 * 2)])
def test_callback_capture_delivers_frames_and_stops_cleanly(pixel_format, frame_bytes):
    collector = Collector()
    camera = tarsel.Camera(0)
    camera.start(320, 240, 30, pixel_format, collector)
    collector.wait(5)
    camera.stop()
    camera.close()
    count = len(collector.blocks)
    time.sleep(0.3)
    assert len(collector.blocks) == count  # nothing after close()
    numbers = [number for number, _, _ in collector.blocks]
    assert numbers == list(range(1, count + 1))
    frames = [int.from_bytes(data[:4].tobytes(), "little") for _, _, data in collector.blocks]
    assert all(b > a for a, b in zip(frames, frames[1:]))
    times = [timestamp for _, timestamp, _ in collector.blocks]
    assert all(b > a for a, b in zip(times, times[1:]))
    assert all(data.dtype == np.uint8 and data.shape == (frame_bytes,)
               for _, _, data in collector.blocks)
    assert camera.callback_error is None and camera.closed


def test_a_callback_may_close_its_camera():
    camera = tarsel.Camera(0)
    closed = threading.Event()

    def close_on_third(number, timestamp, data):
        if number == 3:
            camera.close()
            closed.set()

    camera.start(320, 240, 30, "NV12", close_on_third)
    assert closed.wait(WAIT) and camera.closed


def test_an_exception_in_the_callback_is_reported_and_capture_goes_on(monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)
    collector = Collector(fail_on=2)
    with tarsel.Camera(0) as camera:
        camera.start(320, 240, 30, "NV12", collector)
        collector.wait(4)
        error = camera.callback_error
    assert isinstance(error, RuntimeError) and str(error) == "callback failed on block 2"
    assert [hook.exc_value for hook in reported] == [error]


def test_polled_frames_and_controls():
    with tarsel.Camera(0, asynchronous=False) as camera:
        camera.start(640, 480, 30, "I420")
        first, data = camera.grab()
        second, _ = camera.grab()
        assert (first, data.shape) == (0, (640 * 480 * 3 // 2,)) and second > first
        assert camera.get_control("zoom")[:4] == (100, 400, 10, 100)
        camera.set_control("zoom", 250)
        camera.set_video_property("contrast", 70)
        assert camera.get_control("zoom").value == 250
        assert camera.get_video_property("contrast").value == 70
        with pytest.raises(tarsel.TarselError, match="Not supported"):
            camera.get_control(17)
        with pytest.raises(tarsel.TarselError, match="Error reading video sample"):
            with tarsel.Camera(0) as asynchronous:
                asynchronous.grab()


@pytest.mark.parametrize("format_index, shape", [(0, (480, 2)), (1, (441, 2)), (2, (160, 1))])
def test_microphone_blocks(format_index, shape):
    assert tarsel.Microphone.devices() == ["Tarsel Virtual Microphone"]
    collector = Collector()
    with tarsel.Microphone(0) as microphone:
        microphone.start(format_index, collector)
        collector.wait(3)
    assert [number for number, _, _ in collector.blocks] == list(
        range(1, len(collector.blocks) + 1))
    samples = collector.blocks[1][2]
    assert samples.dtype == np.int16 and samples.shape == shape
    assert 12000 < np.abs(samples).max() <= 16384  # a sine at half of full scale


def test_encoded_pictures_read_back(tmp_path):
    path = tmp_path / "encoded.mp4"
    width, height = 160, 120
    with tarsel.Encoder(path, width, height, 25) as encoder:
        for n in range(10):
            picture = np.full(width * height * 3 // 2, 128, np.uint8)
            picture[:width * height] = 16 + 20 * n  # luma rising by 20 a picture
            encoder.add_video(picture, n / 25)
    with tarsel.VideoReader(path) as reader:
        assert (reader.info.width, reader.info.height, len(reader)) == (width, height, 10)
        levels = [image.mean() for _, _, image in reader]
    assert all(b > a for a, b in zip(levels, levels[1:]))
    with pytest.raises(tarsel.TarselError) as failure:
        tarsel.Encoder(tmp_path / "missing" / "encoded.mp4", width, height)
    assert failure.value.function == "MFEncoder_Init" and failure.value.message
