"""Decoding H.264 packets (DECODER_) and converting pixel layouts (PixConverter_)."""

from __future__ import annotations

import ctypes
import operator
from typing import Any, Dict, Optional, Tuple, Union

import numpy as np

from . import _library as L
from ._arrays import byte_source, picture_target
from ._errors import TarselError


class H264Decoder(L.Handle):
    """Decodes an H.264 stream fed one Annex-B packet at a time into BGR24 pictures.

    The parameter sets travel in the stream. One picture at most comes out per
    packet, in the decoder's order; streams that delay pictures keep their last
    ones in the decoder.
    """

    _CLEAR = "DECODER_Clear"

    def __init__(self) -> None:
        super().__init__()
        self._open("DECODER_Init")
        self._width, self._height = ctypes.c_int32(), ctypes.c_int32()

    def decode(self, packet: Any, out: Optional[np.ndarray] = None) -> Optional[np.ndarray]:
        """The picture the packet completed, ``uint8`` of shape (height, width, 3),
        or None when it completed none. Raises TarselError when the decoder
        refuses the packet; the decoder stays usable."""
        data = byte_source(packet)
        if data.size == 0:
            raise ValueError("empty packet")
        library = L.lib()
        code = library.DECODER_DecodeFrame(self._live(), L.address(data), data.size,
                                           ctypes.byref(self._width), ctypes.byref(self._height))
        if code != 0:
            raise TarselError("the decoder refused the packet", "DECODER_DecodeFrame", code)
        width, height = self._width.value, self._height.value
        if width <= 0 or height <= 0:
            return None
        if out is None:
            out = np.empty((height, width, 3), np.uint8)
        elif picture_target(out, height, width)[1] != 3 * width:
            raise ValueError("out must be a contiguous picture")
        size = ctypes.c_uint32()
        code = library.DECODER_GetBitmapData(self._handle, L.address(out), ctypes.byref(size))
        if code != 0 or size.value != 3 * width * height:
            raise TarselError("the picture could not be converted", "DECODER_GetBitmapData",
                              code or 1)
        return out


FORMATS: Dict[str, int] = {"BGR24": 1, "BGRA": 2, "NV12": 3, "YUYV422": 4, "RGB24": 5,
                           "GRAY8": 6, "YUV420P": 7, "RGBA": 8}
"""The pixel layouts a PixelConverter takes, by name and code."""

_CHANNELS = {1: 3, 2: 4, 5: 3, 6: 1, 8: 4}  # packed layouts: bytes per pixel


def picture_shape(layout: Union[str, int], width: int, height: int) -> Tuple[int, ...]:
    """Shape of one picture of a layout: (height, width, channels) for packed RGB
    layouts, (height, width) for GRAY8, a flat byte count for the YUV layouts
    (planes one after the other, chroma sizes rounded up)."""
    code = _code(layout)
    if code not in FORMATS.values():
        raise ValueError(f"unknown pixel layout {layout!r}")
    if code in _CHANNELS:
        channels = _CHANNELS[code]
        return (height, width, channels) if channels > 1 else (height, width)
    half_width, half_height = (width + 1) // 2, (height + 1) // 2
    if code == 4:  # YUYV422: 4 bytes for each pair of pixels
        return (4 * half_width * height,)
    return (width * height + 2 * half_width * half_height,)  # NV12, YUV420P


def _code(layout: Union[str, int]) -> int:
    if isinstance(layout, str):
        try:
            return FORMATS[layout.upper()]
        except KeyError:
            raise ValueError(f"unknown pixel layout {layout!r}; known: "
                             f"{', '.join(FORMATS)}") from None
    return operator.index(layout)


class PixelConverter(L.Handle):
    """Converts pictures of one size between two pixel layouts (names or codes of
    :data:`FORMATS`), e.g. ``PixelConverter("NV12", "BGR24", 640, 480)``.

    Raises TarselError ("pixel format type is not valid") for an unknown code.
    """

    _CLEAR = "PixConverter_Clear"

    def __init__(self, source: Union[str, int], destination: Union[str, int], width: int,
                 height: int) -> None:
        super().__init__()
        self.width, self.height = operator.index(width), operator.index(height)
        codes = _code(source), _code(destination)
        self._open("PixConverter_Init", *codes, self.width, self.height)
        self.source_shape = picture_shape(codes[0], max(self.width, 0), max(self.height, 0))
        self.destination_shape = picture_shape(codes[1], max(self.width, 0), max(self.height, 0))

    def convert(self, picture: Any, out: Optional[np.ndarray] = None) -> np.ndarray:
        """The picture in the destination layout. ``picture`` holds exactly one
        source picture (any shape, ``uint8``); ``out``, if given, is a writable
        C-contiguous ``uint8`` array of exactly one destination picture."""
        source = byte_source(picture)
        if source.nbytes != int(np.prod(self.source_shape)):
            raise ValueError(f"picture has {source.nbytes} bytes, a source picture has "
                             f"{int(np.prod(self.source_shape))}")
        if out is None:
            out = np.empty(self.destination_shape, np.uint8)
        elif (not isinstance(out, np.ndarray) or out.dtype != np.uint8
              or out.nbytes != int(np.prod(self.destination_shape))
              or not out.flags.c_contiguous or not out.flags.writeable):
            raise ValueError("out must be a writable contiguous uint8 array of "
                             f"{int(np.prod(self.destination_shape))} bytes")
        errors = L.error_buffer()
        code = L.lib().PixConverter_Convert(self._live(), L.address(source) if source.size else
                                            None, L.address(out) if out.size else None, errors)
        if code != 0:
            raise TarselError(L.text(errors) or "the converter has no valid size",
                              "PixConverter_Convert", code)
        return out
