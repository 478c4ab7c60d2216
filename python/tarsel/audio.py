"""Reading audio as 16-bit PCM (AUDIO_) and decoding single AAC packets (AACDECODER_)."""

from __future__ import annotations

import ctypes
import math
import operator
from dataclasses import dataclass
from typing import Any, Iterator, NamedTuple, Optional

import numpy as np

from . import _library as L
from ._arrays import byte_source
from ._errors import TarselError
from .video import PathLike

_PCM = np.dtype("<i2")  # interleaved signed 16-bit little-endian samples


def _pcm(buffer: np.ndarray, byte_count: int, channels: int) -> np.ndarray:
    """byte_count bytes of buffer as a fresh (samples, channels) int16 array."""
    usable = byte_count - byte_count % (2 * channels)
    return buffer[:usable].view(_PCM).reshape(-1, channels).astype(np.int16)


class AudioBlock(NamedTuple):
    """One decoded block: unpacks as ``time, samples``."""

    time: float
    """Time of the block in seconds."""
    samples: np.ndarray
    """``int16`` samples of shape (count, channels)."""


@dataclass(frozen=True)
class AudioInfo:
    """The audio stream as the reader reports it."""

    channels: int
    sample_rate: int
    buffer_size: int
    """The most bytes one block can hold."""
    duration: float
    codec_name: str


class AudioReader(L.Handle):
    """Reads the best audio stream of a file, block by block, as 16-bit PCM at the
    stream's own rate and channel count.

    Iterating yields :class:`AudioBlock` tuples ``(time, samples)`` from the
    current position to the end of the file. Raises TarselError when the file
    cannot be opened or has no audio stream.
    """

    _CLEAR = "AUDIO_Clear"

    def __init__(self, path: PathLike) -> None:
        super().__init__()
        index = ctypes.c_int32(-1)
        self._open("AUDIO_Init", L.encode_path(path), ctypes.byref(index))
        self.stream_index = index.value
        """Index of the audio stream in the file."""
        has_audio, channels, rate, size = [ctypes.c_int32() for _ in range(4)]
        duration = ctypes.c_double()
        codec = L.error_buffer()
        L.call("AUDIO_GetAudioInfo", self._handle, ctypes.byref(has_audio),
               ctypes.byref(channels), ctypes.byref(rate), ctypes.byref(size),
               ctypes.byref(duration), codec)
        self._info = AudioInfo(channels.value, rate.value, size.value, duration.value,
                               L.text(codec))
        self._buffer = np.empty(max(size.value, 0), np.uint8)
        self._read = L.lib().AUDIO_GetNewAudioSamples
        self._counts = (ctypes.c_int32(), ctypes.c_int32(), ctypes.c_double())
        self._errors = L.error_buffer()

    @property
    def info(self) -> AudioInfo:
        """Channels, sample rate, block size, duration and the decoder's name."""
        return self._info

    def read(self) -> Optional[AudioBlock]:
        """The next block, or None at the end of the file."""
        samples, byte_count, time = self._counts
        code = self._read(self._live(), L.address(self._buffer), ctypes.byref(samples),
                          ctypes.byref(byte_count), ctypes.byref(time), self._errors)
        if code != 0:
            if self._errors.value:
                message, self._errors.value = L.text(self._errors), b""
                raise TarselError(message, "AUDIO_GetNewAudioSamples", code)
            return None
        if not 0 <= byte_count.value <= self._buffer.size:
            raise TarselError("block larger than the reader's buffer",
                              "AUDIO_GetNewAudioSamples", 1)
        return AudioBlock(time.value, _pcm(self._buffer, byte_count.value, self._info.channels))

    def __iter__(self) -> Iterator[AudioBlock]:
        while True:
            block = self.read()
            if block is None:
                return
            yield block

    def jump(self, seconds: float) -> Optional[float]:
        """Moves to ``seconds``; returns the time reached (0.0 at the end of the
        file), or None when the time is at or beyond the duration."""
        seconds = float(seconds)
        if math.isnan(seconds):
            raise ValueError("time is not a number")
        time = ctypes.c_double(seconds)
        L.call("AUDIO_JumpToTimeStamp", self._live(), ctypes.byref(time))
        return None if time.value == -1.0 else time.value


class AacDecoder(L.Handle):
    """Decodes single AAC packets (raw or ADTS) into 16-bit PCM, resampled from
    ``in_rate`` to ``out_rate`` (the same rate when not given), in FFmpeg's
    default channel order for the channel count."""

    _CLEAR = "AACDECODER_Clear"
    _CAPACITY = 192000  # the most bytes one packet's output can be fetched in

    def __init__(self, channels: int, in_rate: int, out_rate: Optional[int] = None) -> None:
        super().__init__()
        self.channels = operator.index(channels)
        self.in_rate = operator.index(in_rate)
        self.out_rate = self.in_rate if out_rate is None else operator.index(out_rate)
        self._open("AACDECODER_Init", self.channels, self.in_rate, self.out_rate)
        self._buffer = np.empty(self._CAPACITY, np.uint8)

    def decode(self, packet: Any) -> np.ndarray:
        """PCM of one packet, ``int16`` of shape (samples, channels); no samples
        while the decoder still waits for more input. Raises TarselError when the
        decoder refuses the packet."""
        data = byte_source(packet)
        if data.size == 0:
            raise ValueError("empty packet")
        samples = ctypes.c_int32()
        library = L.lib()
        code = library.AACDECODER_DecodePacket(self._live(), L.address(data), data.size,
                                               ctypes.byref(samples))
        if code != 0:
            raise TarselError("the decoder refused the packet", "AACDECODER_DecodePacket", code)
        size = samples.value * self.channels * 2
        if not 0 <= size <= self._CAPACITY:
            raise TarselError("decoded block too large", "AACDECODER_DecodePacket", 1)
        if size:
            library.AACDECODER_GetDecodedData(self._handle, L.address(self._buffer), size)
        return _pcm(self._buffer, size, self.channels)
