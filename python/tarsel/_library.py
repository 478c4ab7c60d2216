"""Loading the shared library and declaring its exports.

Every export's result and argument types are declared once, in ``PROTOTYPES``.
Exports are resolved on first use, so the package works with a library that
lacks some of them (a build of only some families, or an older library); a
missing one raises ``NotImplementedError`` when it is called for.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from ctypes import (POINTER, Structure, c_bool, c_char_p, c_double, c_int, c_int32, c_int64,
                    c_uint8, c_uint16, c_uint32, c_void_p)
from typing import Any, Callable, Dict, List, Optional, Tuple

from ._errors import TarselError

ERROR_TEXT_SIZE = 200
_WINDOWS = sys.platform == "win32"

# ------------------------------------------------------------------ records


class VidInfo(Structure):
    _fields_ = [
        ("width", c_int32), ("height", c_int32), ("frameCount", c_int32),
        ("reserved", c_int32), ("duration", c_double), ("frameRate", c_double),
        ("bitRate", c_int64), ("gopSize", c_int32), ("codecId", c_int32),
        ("startTimestamp", c_int64), ("timeBaseNum", c_int32), ("timeBaseDen", c_int32),
        ("realFrameRateNum", c_int32), ("realFrameRateDen", c_int32),
        ("avgFrameRateNum", c_int32), ("avgFrameRateDen", c_int32),
        ("streamDuration", c_double), ("lastPacketTime", c_double),
        ("streamDurationTicks", c_int64), ("streamFrameCount", c_int64),
    ]


class TarselGuid(Structure):
    _fields_ = [("Data1", c_uint32), ("Data2", c_uint16), ("Data3", c_uint16),
                ("Data4", c_uint8 * 8)]


class CamConfig(Structure):
    _fields_ = [
        ("subtype", TarselGuid), ("width", c_uint32), ("height", c_uint32),
        ("frameRateNumerator", c_uint32), ("frameRateDenominator", c_uint32),
        ("framesPerSecond", c_double),
    ]


class AudioConfig(Structure):
    _fields_ = [
        ("subtype", TarselGuid), ("bitsPerSample", c_uint32), ("numChannels", c_uint32),
        ("samplesPerSecond", c_uint32), ("blockAlignment", c_uint32),
        ("avgBytesPerSecond", c_uint32), ("allSamplesIndependent", c_uint32),
    ]


class EncoderSettings(Structure):
    _fields_ = [
        ("width", c_uint32), ("height", c_uint32), ("frameRate", c_uint32),
        ("bitRateKbps", c_uint32), ("profile", c_uint32), ("level", c_uint32),
        ("hasAudio", c_uint32), ("numChannels", c_uint32), ("samplesPerSecond", c_uint32),
        ("bitsPerSample", c_uint32), ("reserved", c_uint32), ("blockAlignment", c_uint32),
        ("zeroDuration", c_uint8), ("padding", c_uint8 * 3), ("rateControlMode", c_uint32),
        ("quality", c_uint32), ("minQP", c_uint32),
    ]


for _record, _size in ((VidInfo, 112), (CamConfig, 40), (AudioConfig, 40), (EncoderSettings, 64)):
    assert ctypes.sizeof(_record) == _size, _record.__name__

# ---------------------------------------------------------------- callbacks

# The exports and the ready callbacks use the library's calling convention
# (stdcall on 32-bit Windows); the interrupt callback is a plain C function.
if sys.platform == "win32":
    _CALLBACK, _LOADER = ctypes.WINFUNCTYPE, ctypes.WinDLL
else:
    _CALLBACK, _LOADER = ctypes.CFUNCTYPE, ctypes.CDLL
VideoInterruptCallBack = ctypes.CFUNCTYPE(c_int, c_void_p)
ReadyCallBack = _CALLBACK(None, c_uint32, c_int64, c_uint32, c_void_p)


def null_callback(kind: Any) -> Any:
    """A null function pointer of a callback type."""
    return ctypes.cast(0, kind)

# ------------------------------------------------------------------ exports

_P = POINTER
_HANDLE_OUT = _P(c_void_p)
_TEXT = c_char_p  # the 200-byte error text buffer, or a zero-terminated string
_VIDEO_PICTURE = [c_void_p, c_void_p, c_int32]  # handle, pixels, stride
_POSITION = [_P(c_uint32), _P(c_double), _P(c_double), _TEXT]
_RANGE = [_P(c_int32)] * 6 + [_TEXT]  # minimum, maximum, step, default, flags, value

PROTOTYPES: Dict[str, Tuple[Any, List[Any]]] = {
    # Video reader.
    "VIDEO_Init": (c_int, [_HANDLE_OUT, c_char_p, c_uint8, c_uint8, VideoInterruptCallBack,
                           c_uint8, _TEXT]),
    "VIDEO_getVideoInfo": (c_int, [c_void_p, _P(c_int32), _P(c_int32), _P(c_int32),
                                   _P(c_double), _P(c_double), _TEXT]),
    "VIDEO_getVidInfoStruct": (c_int, [c_void_p, _P(VidInfo), _TEXT]),
    "VIDEO_getAudioInfo": (c_int, [c_void_p, _P(c_uint32), _TEXT]),
    "VIDEO_Clear": (c_int, [_HANDLE_OUT]),
    "VIDEO_getNextFrame": (c_int, _VIDEO_PICTURE + _POSITION),
    "VIDEO_getFrameWithTimeStamp": (c_int, _VIDEO_PICTURE + [c_double] + _POSITION),
    "VIDEO_getFrameWithIndex": (c_int, _VIDEO_PICTURE + [c_int32] + _POSITION),
    "VIDEO_Rewind": (c_int, [c_void_p, _TEXT]),
    "VIDEO_SkipFrames": (c_int, [c_void_p, c_int32, _TEXT]),
    "VIDEO_ReadAllFrames": (c_int, [c_void_p, _P(c_uint32), _P(c_int64), _P(c_int64),
                                    _P(c_uint32), _P(c_uint32), _TEXT]),
    "VIDEO_SetFrameRate": (c_int, [c_void_p, c_double, _TEXT]),
    "VIDEO_TEST": (c_int, [c_void_p, _TEXT]),
    # Audio reader and AAC packets.
    "AUDIO_Init": (c_int, [_HANDLE_OUT, c_char_p, _P(c_int32), _TEXT]),
    "AUDIO_GetAudioInfo": (c_int, [c_void_p, _P(c_int32), _P(c_int32), _P(c_int32),
                                   _P(c_int32), _P(c_double), _TEXT, _TEXT]),
    "AUDIO_GetNewAudioSamples": (c_int, [c_void_p, c_void_p, _P(c_int32), _P(c_int32),
                                         _P(c_double), _TEXT]),
    "AUDIO_JumpToTimeStamp": (c_int, [c_void_p, _P(c_double), _TEXT]),
    "AUDIO_Clear": (c_int, [_HANDLE_OUT]),
    "AACDECODER_Init": (c_int, [_HANDLE_OUT, c_int32, c_int32, c_int32, _TEXT]),
    "AACDECODER_DecodePacket": (c_int, [c_void_p, c_void_p, c_int32, _P(c_int32)]),
    "AACDECODER_GetDecodedData": (c_int, [c_void_p, c_void_p, c_int32]),
    "AACDECODER_Clear": (c_int, [_HANDLE_OUT]),
    # Writers.
    "LLWRITER_Init": (c_int, [_HANDLE_OUT, c_char_p, c_int32, c_int32, c_double, _TEXT]),
    "LLWRITER_WriteFrame": (c_int, [c_void_p, c_void_p, c_int32, c_double, _TEXT]),
    "LLWRITER_Clear": (c_int, [_HANDLE_OUT]),
    "VIDEO_TESTWriter": (c_int, [c_char_p]),
    "VIDWRITER_Init": (c_int, [_HANDLE_OUT, c_char_p, c_int32, c_int32, c_uint8, c_char_p,
                               c_int32, c_int32, c_int32, _TEXT]),
    "VIDWRITER_WriteFrame": (c_int, [c_void_p, c_void_p, c_int32, c_double, _TEXT]),
    "VIDWRITER_GetVideoInfo": (c_int, [c_void_p, _P(c_uint32), _P(c_uint32), _TEXT]),
    "VIDWRITER_Clear": (c_int, [_HANDLE_OUT]),
    # MP4 writer and muxer.
    "MP4WRITER_Init": (c_int, [_HANDLE_OUT, c_char_p, c_uint32, c_uint32, c_uint32, _TEXT]),
    "MP4WRITER_AddSPSPPS": (c_int, [c_void_p, c_void_p, c_int32, c_void_p, c_int32, _TEXT]),
    "MP4WRITER_AddFrame": (c_int, [c_void_p, c_void_p, c_int32, _TEXT]),
    "MP4WRITER_AddRawH264FrameWithTime": (c_int, [c_void_p, c_void_p, c_int32, c_double, _TEXT]),
    "MP4WRITER_Clear": (c_int, [_HANDLE_OUT]),
    "MP4Muxer_Init": (c_int, [_HANDLE_OUT, c_char_p, c_uint32, c_uint32, c_uint32, _TEXT]),
    "MP4Muxer_AddSPSPPS": (c_int, [c_void_p, c_void_p, c_int32, c_void_p, c_int32, _TEXT]),
    "MP4Muxer_AddFrame": (c_int, [c_void_p, c_void_p, c_int32, _TEXT]),
    "MP4Muxer_AddRawH264FrameWithTime": (c_int, [c_void_p, c_void_p, c_int32, c_double, _TEXT]),
    "MP4Muxer_AddAudio": (c_int, []),
    "MP4Muxer_Clear": (c_int, [_HANDLE_OUT]),
    # Packet decoder and pixel converters.
    "DECODER_Init": (c_int, [_HANDLE_OUT, _TEXT]),
    "DECODER_DecodeFrame": (c_int, [c_void_p, c_void_p, c_int32, _P(c_int32), _P(c_int32)]),
    "DECODER_GetBitmapData": (c_int, [c_void_p, c_void_p, _P(c_uint32)]),
    "DECODER_Clear": (c_int, [_HANDLE_OUT]),
    "PixConverter_Init": (c_int, [_HANDLE_OUT, c_uint32, c_uint32, c_int32, c_int32, _TEXT]),
    "PixConverter_Convert": (c_int, [c_void_p, c_void_p, c_void_p, _TEXT]),
    "PixConverter_Clear": (c_int, [_HANDLE_OUT]),
    "ConverterNV12_Init": (c_int, []),
    "ConverterNV12_ConvertBGR2NV12": (c_int, [c_void_p, c_void_p, c_void_p]),
    "ConverterNV12_ConvertBRGA2NV12": (c_int, [c_void_p, c_void_p, c_void_p]),
    "ConverterNV12_ConvertNV122BGR": (c_int, [c_void_p, c_void_p, c_void_p]),
    "ConverterNV12_Clear": (c_int, [_HANDLE_OUT]),
    # Cameras.
    "MFCamGrabber_Init": (c_int, [_HANDLE_OUT, _P(c_uint32), _TEXT]),
    "MFCamGrabber_GetDeviceName": (c_int, [c_void_p, c_int32, c_void_p, _P(c_uint32), c_int32]),
    "MFCamGrabber_OpenCamera": (c_int, [c_void_p, c_int32, c_bool, _P(c_uint32), _TEXT]),
    "MFCamGrabber_GetConfig": (c_int, [c_void_p, c_int32, _P(CamConfig), _TEXT]),
    "MFCamGrabber_StartGrabbing": (c_int, [c_void_p, c_uint32, c_uint32, c_int32, c_int32,
                                           _TEXT]),
    "MFCamGrabber_StopGrabbing": (c_int, [c_void_p]),
    "MFCamGrabber_SetFrameReadyCallBack": (c_int, [c_void_p, ReadyCallBack]),
    "MFCamGrabber_GrabFrame": (c_int, [c_void_p, c_void_p, _P(c_uint32), _P(c_int64), _TEXT]),
    "MFCamGrabber_Test": (None, [c_void_p]),
    "MFCamGrabber_Clear": (c_int, [_HANDLE_OUT]),
    "MFCamGrabber_GetCamCtrl": (c_int, [c_void_p, c_int32] + _RANGE),
    "MFCamGrabber_SetCamCtrl": (c_int, [c_void_p, c_int32, c_int32, c_int32, _TEXT]),
    "MFCamGrabber_GetVideoProp": (c_int, [c_void_p, c_int32] + _RANGE),
    "MFCamGrabber_SetVideoProp": (c_int, [c_void_p, c_int32, c_int32, c_int32, _TEXT]),
    # Microphones.
    "MFAudioGrabber_Init": (c_int, [_HANDLE_OUT, _P(c_uint32), _TEXT]),
    "MFAudioGrabber_GetDeviceName": (c_int, [c_void_p, c_int32, c_void_p, c_int32]),
    "MFAudioGrabber_OpenDevice": (c_int, [c_void_p, c_int32, c_bool, _P(c_uint32), _TEXT]),
    "MFAudioGrabber_GetConfig": (c_int, [c_void_p, c_int32, _P(AudioConfig), _TEXT]),
    "MFAudioGrabber_StartGrabbing": (c_int, [c_void_p, c_int32, _TEXT]),
    "MFAudioGrabber_StopGrabbing": (c_int, [c_void_p]),
    "MFAudioGrabber_SetAudioReadyCallBack": (c_int, [c_void_p, ReadyCallBack]),
    "MFAudioGrabber_GrabAudio": (c_int, []),
    "MFAudioGrabber_Clear": (c_int, [_HANDLE_OUT]),
    "TestAudioStuff": (c_int, []),
    # Encoder.
    "MFEncoder_Init": (c_int, [_HANDLE_OUT, c_void_p, _P(EncoderSettings), _TEXT]),
    "MFEncoder_AddVideoFrame": (c_int, [c_void_p, c_void_p, _P(c_uint32), c_double, _TEXT]),
    "MFEncoder_AddVideoFrame_Ticks": (c_int, [c_void_p, c_void_p, _P(c_uint32), c_int64,
                                              _TEXT]),
    "MFEncoder_AddAudioSamples": (c_int, [c_void_p, c_void_p, _P(c_uint32), c_double, _TEXT]),
    "MFEncoder_Clear": (c_int, [_HANDLE_OUT]),
}

# ------------------------------------------------------------------ loading

_LIBRARY_FILES = {
    "win32": ["tarsel.dll"],
    "darwin": ["libtarsel.dylib", "libtarsel.0.dylib"],
}.get(sys.platform, ["libtarsel.so", "libtarsel.so.0"])


def _candidates() -> List[str]:
    """Where the library is looked for, in order, after TARSEL_LIBRARY."""
    here = os.path.dirname(os.path.abspath(__file__))
    found = [os.path.join(here, file) for file in _LIBRARY_FILES]
    # The system's loader path (LD_LIBRARY_PATH, the linker cache, PATH on
    # Windows), then the usual installation folders, which the linker cache may
    # not list until ldconfig has run.
    system = ctypes.util.find_library("tarsel")
    if system:
        found.append(system)
    found += list(reversed(_LIBRARY_FILES))
    if not _WINDOWS:
        for folder in (os.path.join(sys.prefix, "lib"), "/usr/local/lib", "/usr/local/lib64"):
            found += [os.path.join(folder, file) for file in reversed(_LIBRARY_FILES)]
    return found


class Library:
    """The loaded library: each export becomes an attribute when first used."""

    def __init__(self, path: str) -> None:
        self._dll = _LOADER(path)
        self.path = path

    def has(self, name: str) -> bool:
        """Whether the library defines the export ``name``."""
        try:
            getattr(self._dll, name)
            return True
        except AttributeError:
            return False

    def __getattr__(self, name: str) -> Callable[..., Any]:
        if name not in PROTOTYPES:
            raise AttributeError(name)
        try:
            function = getattr(self._dll, name)
        except AttributeError:
            raise NotImplementedError(f"{name} is not defined by {self.path}") from None
        function.restype, function.argtypes = PROTOTYPES[name]
        setattr(self, name, function)
        return function


_library: Optional[Library] = None
_lock = threading.Lock()


def lib() -> Library:
    """The library, loaded on first use."""
    global _library
    if _library is None:
        with _lock:
            if _library is None:
                _library = _load()
    return _library


def _load() -> Library:
    explicit = os.environ.get("TARSEL_LIBRARY")
    if explicit:
        try:
            return Library(explicit)
        except OSError as error:
            raise OSError(f"TARSEL_LIBRARY={explicit} cannot be loaded: {error}") from None
    failures = []
    for candidate in _candidates():
        if os.path.isabs(candidate) and not os.path.exists(candidate):
            continue
        try:
            return Library(candidate)
        except OSError as error:
            failures.append(str(error))
    raise OSError("the Tarsel library was not found; set TARSEL_LIBRARY to its path"
                  + "".join(f"\n  {failure}" for failure in failures))


def has_export(name: str) -> bool:
    """Whether the loaded library defines the export ``name``."""
    return lib().has(name)

# ------------------------------------------------------------------ helpers


def error_buffer() -> ctypes.Array:
    return ctypes.create_string_buffer(ERROR_TEXT_SIZE)


def text(buffer: Any) -> str:
    """The zero-terminated text of a buffer, as the library wrote it."""
    return buffer.value.decode("utf-8", errors="replace")


def check(name: str, code: int, errors: Any) -> None:
    """Raises TarselError for a nonzero return code, with the export's message."""
    if code != 0:
        raise TarselError(text(errors), name, code)


def call(name: str, *args: Any) -> None:
    """Calls an export whose last parameter is the error text buffer; raises on failure."""
    errors = error_buffer()
    check(name, getattr(lib(), name)(*args, errors), errors)


def encode_path(path: "os.PathLike[str] | str | bytes") -> bytes:
    """A path as the library takes it: UTF-8 on Windows, the file system's bytes elsewhere."""
    if isinstance(path, bytes):
        return path
    path = os.fspath(path)
    if isinstance(path, bytes):
        return path
    return path.encode("utf-8") if _WINDOWS else os.fsencode(path)


def address(array: Any) -> int:
    """The address of a NumPy array's first element."""
    return array.__array_interface__["data"][0]


class Handle:
    """Base of every object that owns a library handle: a context manager whose
    close() calls the family's Clear, once."""

    _CLEAR = ""

    def __init__(self) -> None:
        self._handle = ctypes.c_void_p()

    def _open(self, init: str, *args: Any) -> None:
        errors = error_buffer()
        code = getattr(lib(), init)(ctypes.byref(self._handle), *args, errors)
        if code != 0:
            message = text(errors)
            self.close()  # some Inits hand out the handle before they open
            raise TarselError(message, init, code)

    def _live(self) -> ctypes.c_void_p:
        if not self._handle:
            raise ValueError(f"operation on a closed {type(self).__name__}")
        return self._handle

    @property
    def closed(self) -> bool:
        """Whether close() has run (or the object never opened)."""
        return not self._handle

    def close(self) -> None:
        """Releases the object; later calls do nothing."""
        if self._handle:
            getattr(lib(), self._CLEAR)(ctypes.byref(self._handle))

    def __enter__(self: Any) -> Any:
        return self

    def __exit__(self, *exc_info: Any) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # interpreter shutdown: the library may be gone
            pass
