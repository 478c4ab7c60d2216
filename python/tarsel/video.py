"""Reading decoded video frames as BGR24 NumPy arrays (the VIDEO_ family)."""

from __future__ import annotations

import ctypes
import math
import operator
import os
from dataclasses import dataclass
from typing import Any, Callable, Iterator, NamedTuple, Optional, Tuple, Union

import numpy as np

from . import _library as L
from ._arrays import picture_target
from ._errors import TarselError

PathLike = Union[str, bytes, "os.PathLike[str]"]


class Frame(NamedTuple):
    """One delivered picture: unpacks as ``index, time, image``."""

    index: int  # type: ignore[assignment]  # the field, not tuple.index
    """The reader's frame number."""
    time: float
    """Presentation time in seconds."""
    image: np.ndarray
    """The picture, ``uint8`` of shape (height, width, 3), blue-green-red."""


@dataclass(frozen=True)
class VideoInfo:
    """Everything the reader reports about its stream (the ``VidInfo`` record)."""

    width: int
    height: int
    frame_count: int
    duration: float
    frame_rate: float
    bit_rate: int
    gop_size: int
    codec_id: int
    start_timestamp: int
    time_base_num: int
    time_base_den: int
    real_frame_rate_num: int
    real_frame_rate_den: int
    avg_frame_rate_num: int
    avg_frame_rate_den: int
    stream_duration: float
    last_packet_time: float
    stream_duration_ticks: int
    stream_frame_count: int

    @classmethod
    def _from_record(cls, record: L.VidInfo) -> "VideoInfo":
        return cls(*(getattr(record, name) for name, _ in L.VidInfo._fields_
                     if name != "reserved"))


class StreamScan(NamedTuple):
    """What read_all() found: picture count and the first and last raw timestamps."""

    count: int  # type: ignore[assignment]  # the field, not tuple.count
    first_pts: int
    last_pts: int
    time_base_num: int
    time_base_den: int


class _Interrupt:
    """Bridges the optional interrupt callable; an exception it raises aborts the
    operation and is raised again on the caller's side."""

    def __init__(self, function: Callable[[], Any]) -> None:
        self.function = function
        self.error: Optional[BaseException] = None
        self.pointer = L.VideoInterruptCallBack(self._call)

    def _call(self, _opaque: Any) -> int:
        if self.error is not None:
            return 1
        try:
            return 1 if self.function() else 0
        except BaseException as error:  # never into the library's code
            self.error = error
            return 1

    def raise_pending(self) -> None:
        error, self.error = self.error, None
        if error is not None:
            raise error


def _signed(value: int) -> int:
    return value - 2**32 if value >= 2**31 else value


class VideoReader(L.Handle):
    """Reads a video file or stream frame by frame, by index or by time.

    ``VideoReader(path, live=False, apply_aspect=False, sequential=False)``

    - ``live``: forward-only reading for cameras and network streams (no index,
      time or rewind; RTSP over UDP, an address ending in "cgi" read as MJPEG).
    - ``apply_aspect``: stretch the width by the stream's sample aspect ratio.
    - ``sequential``: deliver pictures in decoder order and trust the
      container's frame count.
    - ``interrupt``: an optional callable, asked during blocking network reads;
      a true result aborts them.

    Use it as a context manager, or call close(). Iterating yields
    :class:`Frame` tuples ``(index, time, image)`` from the current position to
    the end; ``reader[i]`` is the picture with index i; ``len(reader)`` is the
    frame count. Pictures are fresh arrays unless an ``out`` array is given,
    which is then filled in place (any ``uint8`` array of shape (height, width,
    3) with packed pixels; ``out[::-1]`` receives the picture bottom-up).

    Raises TarselError when the file cannot be opened.
    """

    _CLEAR = "VIDEO_Clear"

    def __init__(self, path: PathLike, live: bool = False, apply_aspect: bool = False,
                 sequential: bool = False,
                 interrupt: Optional[Callable[[], Any]] = None) -> None:
        super().__init__()
        self._interrupt = _Interrupt(interrupt) if interrupt is not None else None
        library = L.lib()
        try:
            self._open("VIDEO_Init", L.encode_path(path), bool(live), bool(apply_aspect),
                       self._interrupt.pointer if self._interrupt
                       else L.null_callback(L.VideoInterruptCallBack), bool(sequential))
        except TarselError as error:
            if self._interrupt and self._interrupt.error is not None:
                pending, self._interrupt.error = self._interrupt.error, None
                raise pending from error  # the callable's own failure comes first
            raise
        if self._interrupt:
            self._interrupt.raise_pending()
        self._next = library.VIDEO_getNextFrame
        self._at_index = library.VIDEO_getFrameWithIndex
        self._at_time = library.VIDEO_getFrameWithTimeStamp
        self._index = ctypes.c_uint32()
        self._time = ctypes.c_double()
        self._time_again = ctypes.c_double()
        self._errors = L.error_buffer()
        self._position = (ctypes.byref(self._index), ctypes.byref(self._time),
                          ctypes.byref(self._time_again), self._errors)
        info = self.info  # also settles the duration that at() checks against
        self._height, self._width = info.height, info.width

    # -- information

    @property
    def info(self) -> VideoInfo:
        """The stream's information, read anew (set_frame_rate changes the count)."""
        record = L.VidInfo()
        L.call("VIDEO_getVidInfoStruct", self._live(), ctypes.byref(record))
        return VideoInfo._from_record(record)

    @property
    def shape(self) -> Tuple[int, int, int]:
        """Shape of every picture: (height, width, 3)."""
        return (self._height, self._width, 3)

    def __len__(self) -> int:
        return max(0, self.info.frame_count)

    # -- frames

    def read(self, out: Optional[np.ndarray] = None) -> Optional[Frame]:
        """The next frame, or None at the end of the stream (or of the frame count)."""
        image, pixels, stride = self._target(out)
        code = self._next(self._live(), pixels, stride, *self._position)
        return self._result("VIDEO_getNextFrame", code, image)

    def frames(self, out: Optional[np.ndarray] = None) -> Iterator[Frame]:
        """Yields every frame from the current position on; with ``out``, every
        frame is written into that one array."""
        while True:
            frame = self.read(out)
            if frame is None:
                return
            yield frame

    def __iter__(self) -> Iterator[Frame]:
        return self.frames()

    def read_index(self, index: int, out: Optional[np.ndarray] = None) -> Optional[Frame]:
        """The frame with the given index (0 to len - 1), or None when there is none.
        Reading goes on from there."""
        index = operator.index(index)
        if not 0 <= index < 2**31:
            return None
        image, pixels, stride = self._target(out)
        code = self._at_index(self._live(), pixels, stride, index, *self._position)
        return self._result("VIDEO_getFrameWithIndex", code, image)

    def __getitem__(self, index: int) -> np.ndarray:
        index = operator.index(index)
        count = len(self)
        if index < 0:
            index += count
        if not 0 <= index < count:
            raise IndexError(f"frame index {index} out of range (0 to {count - 1})")
        frame = self.read_index(index)
        if frame is None:
            raise TarselError(f"no picture could be decoded for index {index}",
                              "VIDEO_getFrameWithIndex", 1)
        return frame.image

    def at(self, seconds: float, out: Optional[np.ndarray] = None) -> Optional[Frame]:
        """The first frame at or after ``seconds``, or None (at or beyond the
        duration, or in live mode)."""
        seconds = float(seconds)
        if math.isnan(seconds):
            raise ValueError("time is not a number")
        image, pixels, stride = self._target(out)
        code = self._at_time(self._live(), pixels, stride, seconds, *self._position)
        return self._result("VIDEO_getFrameWithTimeStamp", code, image)

    # -- position

    def rewind(self) -> None:
        """Goes back to the first frame (nothing happens in live mode)."""
        L.call("VIDEO_Rewind", self._live())

    def skip(self, count: int) -> None:
        """Moves the position ``count`` frames on without delivering them; the next
        read() decodes up to the frame wanted."""
        count = operator.index(count)
        if not 0 <= count < 2**31:
            raise ValueError("count must be from 0 to 2**31 - 1")
        L.call("VIDEO_SkipFrames", self._live(), count)

    def read_all(self) -> StreamScan:
        """Decodes the whole stream, counting its pictures; the reader is then at
        the end (rewind() to read again)."""
        count, first, last = ctypes.c_uint32(), ctypes.c_int64(), ctypes.c_int64()
        num, den = ctypes.c_uint32(), ctypes.c_uint32()
        L.call("VIDEO_ReadAllFrames", self._live(), *(ctypes.byref(value) for value in
                                                      (count, first, last, num, den)))
        return StreamScan(count.value, first.value, last.value, num.value, den.value)

    def set_frame_rate(self, fps: float) -> None:
        """Imposes a frame rate; the frame count and numbering follow it."""
        fps = float(fps)
        if not (fps > 0 and math.isfinite(fps)):
            raise ValueError("the frame rate must be a positive number")
        L.call("VIDEO_SetFrameRate", self._live(), fps)

    # -- internals

    def _target(self, out: Optional[np.ndarray]) -> Tuple[np.ndarray, int, int]:
        if out is None:
            image = np.empty((self._height, self._width, 3), np.uint8)
            return image, L.address(image), 3 * self._width
        pixels, stride = picture_target(out, self._height, self._width)
        return out, pixels, stride

    def _result(self, name: str, code: int, image: np.ndarray) -> Optional[Frame]:
        if self._interrupt:
            self._interrupt.raise_pending()
        if code != 0:
            if self._errors.value:  # these exports write a text only for a real failure
                message, self._errors.value = L.text(self._errors), b""
                raise TarselError(message, name, code)
            return None
        return Frame(_signed(self._index.value), self._time.value, image)

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"{self._width}x{self._height}"
        return f"<tarsel.VideoReader {state}>"
