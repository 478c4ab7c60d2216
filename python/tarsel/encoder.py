"""Encoding NV12 pictures and PCM audio into H.264/AAC files (MFEncoder_)."""

from __future__ import annotations

import ctypes
import math
import operator
import os
from typing import Any, Union

import numpy as np

from . import _library as L
from ._arrays import byte_source


def _utf16(path: Union[str, "os.PathLike[str]"]) -> ctypes.Array:
    """The path as zero-terminated UTF-16, the library's wide text."""
    text = os.fsdecode(os.fspath(path))
    try:
        return ctypes.create_string_buffer(text.encode("utf-16-le") + b"\0\0")
    except UnicodeEncodeError:  # bytes that are not UTF-8 in a file name
        raise ValueError(f"{text!r} cannot be written as UTF-16") from None


class Encoder(L.Handle):
    """Encodes NV12 pictures into H.264, and optionally 16-bit PCM into AAC, in
    the file ``path`` (its extension names the container: .mp4, ...).

    Audio is added when ``channels`` is nonzero. ``add_video(picture, seconds)``
    takes one NV12 picture (width × height luma bytes, then the interleaved
    chroma rows); ``add_audio(samples, seconds)`` interleaved samples as the
    settings describe them. Pictures and audio may come from two threads at
    once. close() finishes the file.

    ``profile`` and ``level`` are H.264's numbers (66 baseline, 77 main, 100
    high; 40 for level 4.0); ``rate_control_mode`` 3 encodes at ``quality``
    with ``min_qp``.
    """

    _CLEAR = "MFEncoder_Clear"

    def __init__(self, path: Union[str, "os.PathLike[str]"], width: int, height: int,
                 fps: int = 30, bit_rate_kbps: int = 4000, profile: int = 100, level: int = 40,
                 channels: int = 0, sample_rate: int = 48000, bits_per_sample: int = 16,
                 zero_duration: bool = False, rate_control_mode: int = 0, quality: int = 0,
                 min_qp: int = 0) -> None:
        super().__init__()
        settings = L.EncoderSettings()
        settings.width, settings.height = operator.index(width), operator.index(height)
        settings.frameRate = operator.index(fps)
        settings.bitRateKbps = operator.index(bit_rate_kbps)
        settings.profile, settings.level = operator.index(profile), operator.index(level)
        if channels:
            settings.hasAudio = 1
            settings.numChannels = operator.index(channels)
            settings.samplesPerSecond = operator.index(sample_rate)
            settings.bitsPerSample = operator.index(bits_per_sample)
        settings.zeroDuration = bool(zero_duration)
        settings.rateControlMode = operator.index(rate_control_mode)
        settings.quality, settings.minQP = operator.index(quality), operator.index(min_qp)
        self._open("MFEncoder_Init", _utf16(path), ctypes.byref(settings))
        self.width, self.height = settings.width, settings.height
        self._sample_bits = settings.bitsPerSample
        self.block_alignment = settings.blockAlignment
        """Bytes of one sample frame of the audio (all channels), as the encoder set it."""

    @property
    def picture_size(self) -> int:
        """Bytes of one NV12 picture."""
        return self.width * self.height * 3 // 2

    def add_video(self, picture: Any, seconds: float) -> None:
        """Encodes one NV12 picture stamped ``seconds``."""
        seconds = float(seconds)
        if not math.isfinite(seconds):
            raise ValueError("time must be a finite number")
        self._add("MFEncoder_AddVideoFrame", self._picture(picture), seconds)

    def add_video_ticks(self, picture: Any, ticks: int) -> None:
        """Encodes one NV12 picture stamped ``ticks`` 100-ns units."""
        self._add("MFEncoder_AddVideoFrame_Ticks", self._picture(picture), operator.index(ticks))

    def add_audio(self, samples: Any, seconds: float) -> None:
        """Encodes a block of interleaved PCM (an array or bytes) stamped ``seconds``."""
        seconds = float(seconds)
        if not math.isfinite(seconds):
            raise ValueError("time must be a finite number")
        if isinstance(samples, (bytes, bytearray, memoryview)):
            data = byte_source(samples)
        else:
            array = np.ascontiguousarray(samples)
            if array.dtype.kind not in "iu" or array.dtype.itemsize * 8 != self._sample_bits:
                raise TypeError(f"samples must be {self._sample_bits}-bit integers")
            data = array.reshape(-1).view(np.uint8)
        if data.size:
            self._add("MFEncoder_AddAudioSamples", data, seconds)

    def _picture(self, picture: Any) -> Any:
        data = byte_source(picture)
        if not self.picture_size <= data.nbytes <= 4 * self.width * self.height:
            raise ValueError(f"an NV12 picture of {self.width}x{self.height} has "
                             f"{self.picture_size} bytes, not {data.nbytes}")
        return data

    def _add(self, name: str, data: Any, time: Any) -> None:
        count = ctypes.c_uint32(data.nbytes)
        L.call(name, self._live(), L.address(data), ctypes.byref(count), time)

