"""Writing video files: FFV1 (LLWRITER_), timed pictures in a container's default
codec (VIDWRITER_), and pre-encoded H.264 in MP4 (MP4WRITER_, MP4Muxer_)."""

from __future__ import annotations

import ctypes
import math
import operator
from typing import Any, Optional, Tuple

import numpy as np

from . import _library as L
from ._arrays import byte_source, picture_source
from .video import PathLike


class _PictureWriter(L.Handle):
    _WRITE = ""

    def __init__(self, width: int, height: int) -> None:
        super().__init__()
        self.width = operator.index(width)
        self.height = operator.index(height)

    def write(self, picture: Any, time: float = -1.0) -> None:
        picture = picture_source(picture, self.height, self.width)
        L.call(self._WRITE, self._live(), L.address(picture), 3 * self.width, float(time))


class FFV1Writer(_PictureWriter):
    """Writes BGR24 pictures as FFV1 video into the container the file name
    selects (.avi, .mkv, .nut, ...), frame after frame.

    ``write(picture)`` takes a ``uint8`` array of shape (height, width, 3); the
    file is finished by close(). Raises TarselError when the file cannot be made.
    """

    _CLEAR = "LLWRITER_Clear"
    _WRITE = "LLWRITER_WriteFrame"

    def __init__(self, path: PathLike, width: int, height: int, fps: float) -> None:
        super().__init__(width, height)
        self._open("LLWRITER_Init", L.encode_path(path), self.width, self.height, float(fps))

    def write(self, picture: Any, time: float = 0.0) -> None:
        """Encodes one picture; pictures are timed by their order alone."""
        super().write(picture, time)


class VideoWriter(_PictureWriter):
    """Writes timed BGR24 pictures at a constant frame rate with the container's
    default video codec (MPEG-4 in .avi, H.264 in .mp4 and .mkv, ...).

    ``format`` names the container (FFmpeg's short name); empty chooses it by
    the file name. ``write(picture, time)`` repeats or drops the picture so the
    file keeps up with ``time`` in seconds; without a time it writes exactly one
    frame.
    """

    _CLEAR = "VIDWRITER_Clear"
    _WRITE = "VIDWRITER_WriteFrame"

    def __init__(self, path: PathLike, width: int, height: int, fps: int = 25,
                 bit_rate: int = 4_000_000, gop_size: int = 12, format: str = "",
                 audio: bool = False) -> None:
        super().__init__(width, height)
        self._open("VIDWRITER_Init", L.encode_path(path), self.width, self.height, bool(audio),
                   format.encode("ascii"), operator.index(bit_rate), operator.index(fps),
                   operator.index(gop_size))

    def write(self, picture: Any, time: float = -1.0) -> None:
        """Writes the picture for ``time`` seconds (negative or absent: once)."""
        time = float(time)
        if not math.isfinite(time):
            raise ValueError("time must be a finite number")
        super().write(picture, time)

    @property
    def counters(self) -> Tuple[int, int]:
        """(frames written, encoded bytes) so far."""
        encoded, frames = ctypes.c_uint32(), ctypes.c_uint32()
        L.call("VIDWRITER_GetVideoInfo", self._live(), ctypes.byref(encoded),
               ctypes.byref(frames))
        return frames.value, encoded.value


class Mp4Writer(L.Handle):
    """Stores pre-encoded H.264 (Annex-B access units with 4-byte start codes) in
    the container the file name selects, without re-encoding.

    Give the parameter sets with ``set_parameter_sets(sps, pps)``, then each
    access unit with ``add(unit, time)``; nothing is written before the first key
    frame. close() finishes the file.
    """

    _PREFIX = "MP4WRITER_"
    _CLEAR = "MP4WRITER_Clear"

    def __init__(self, path: PathLike, width: int, height: int, fps: int = 25) -> None:
        super().__init__()
        self._open(self._PREFIX + "Init", L.encode_path(path), operator.index(width),
                   operator.index(height), operator.index(fps))

    def set_parameter_sets(self, sps: Any, pps: Any) -> None:
        """The sequence and picture parameter sets, stored as the stream's
        extradata (with or without their start codes)."""
        sps, pps = byte_source(sps), byte_source(pps)
        L.call(self._PREFIX + "AddSPSPPS", self._live(), _pointer(sps), sps.size,
               _pointer(pps), pps.size)

    def add(self, unit: Any, time: Optional[float] = None) -> None:
        """Adds one access unit; with ``time`` (seconds, the first timed unit being
        the origin) it is stamped, otherwise the container times it."""
        data = byte_source(unit)
        if time is None:
            L.call(self._PREFIX + "AddFrame", self._live(), _pointer(data), data.size)
        else:
            L.call(self._PREFIX + "AddRawH264FrameWithTime", self._live(), _pointer(data),
                   data.size, float(time))


class Mp4Muxer(Mp4Writer):
    """The MP4 writer with a declared (empty) AAC mono 16 kHz audio stream."""

    _PREFIX = "MP4Muxer_"
    _CLEAR = "MP4Muxer_Clear"


def _pointer(data: np.ndarray) -> Optional[int]:
    return L.address(data) if data.size else None
