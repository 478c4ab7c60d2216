"""Cameras (MFCamGrabber_) and microphones (MFAudioGrabber_).

Frames and sample blocks arrive on the library's capture thread. The Python
callback runs there, with a copy of the block; an exception it raises is handed
to ``sys.unraisablehook`` (and kept in ``callback_error``), never to the library,
and capture goes on. Every callback stays referenced until the grabber is closed,
and close() returns only after the last callback has finished.
"""

from __future__ import annotations

import ctypes
import operator
import threading
import uuid
from typing import Any, Callable, List, NamedTuple, Optional, Tuple, Union

import numpy as np

from . import _library as L

Callback = Callable[[int, int, np.ndarray], Any]
"""``callback(number, timestamp, data)``: block number (1 for the first after
start()), the source's timestamp in 100-ns units, and the block's data."""

_BASE_GUID = uuid.UUID("00000000-0000-0010-8000-00aa00389b71")
_VIDEO_SUBTYPES = {0x14: "RGB24", 0x15: "ARGB32", 0x16: "RGB32"}
_AUDIO_SUBTYPES = {0x1: "PCM", 0x3: "Float", 0x55: "MP3", 0x1610: "AAC"}
_NAME_SIZE = 1024
_PCM_SUBTYPE = uuid.UUID("00000001-0000-0010-8000-00aa00389b71")


def _guid(record: L.TarselGuid) -> uuid.UUID:
    return uuid.UUID(bytes_le=bytes(record))


def _subtype_name(subtype: uuid.UUID, known: dict) -> str:
    """NV12, YUY2, PCM, ...: a FourCC or a format tag on the platform's base GUID."""
    if subtype.bytes_le[4:] != _BASE_GUID.bytes_le[4:]:
        return str(subtype)
    tag = int.from_bytes(subtype.bytes_le[:4], "little")
    if tag in known:
        return known[tag]
    fourcc = subtype.bytes_le[:4]
    return fourcc.decode("ascii") if all(32 < c < 127 for c in fourcc) else str(subtype)


class CameraFormat(NamedTuple):
    """One capture format of a camera."""

    name: str
    """Pixel format: NV12, YUY2, I420, RGB24, ... (the subtype's FourCC)."""
    width: int
    height: int
    frame_rate: float
    """Highest frame rate of the format (NaN when the format has none)."""
    frame_rate_num: int
    frame_rate_den: int
    subtype: uuid.UUID


class AudioFormat(NamedTuple):
    """One capture format of an audio device."""

    name: str
    """PCM, Float, ..."""
    channels: int
    sample_rate: int
    bits_per_sample: int
    block_alignment: int
    bytes_per_second: int
    all_samples_independent: bool
    subtype: uuid.UUID


class Control(NamedTuple):
    """Range and state of a camera control or video property."""

    minimum: int
    maximum: int
    step: int
    default: int
    flags: int
    """1 automatic, 2 manual."""
    value: int


CAMERA_CONTROLS = {"pan": 0, "tilt": 1, "roll": 2, "zoom": 3, "exposure": 4, "iris": 5,
                   "focus": 6}
VIDEO_PROPERTIES = {"brightness": 0, "contrast": 1, "hue": 2, "saturation": 3, "sharpness": 4,
                    "gamma": 5, "color_enable": 6, "white_balance": 7,
                    "backlight_compensation": 8, "gain": 9}
PIXEL_FORMATS = {"NV12": 0, "YUY2": 1, "I420": 2}
"""The capture formats start() takes."""


class _Delivery:
    """What the capture thread calls: copies the block, converts it, calls the
    user's function and keeps the first exception it raised."""

    def __init__(self) -> None:
        self.error: Optional[BaseException] = None
        self.convert: Callable[[np.ndarray], np.ndarray] = lambda data: data

    def bridge(self, user: Callback) -> Any:
        def ready(number: int, timestamp: int, byte_count: int, block: Optional[int]) -> None:
            _delivering.depth = getattr(_delivering, "depth", 0) + 1
            try:
                data = np.empty(byte_count, np.uint8)
                if byte_count and block:
                    ctypes.memmove(L.address(data), block, byte_count)
                user(number, timestamp, self.convert(data))
            except BaseException as error:
                if self.error is None:
                    self.error = error
                raise  # ctypes hands it to sys.unraisablehook; the library never sees it
            finally:
                _delivering.depth -= 1
        return L.ReadyCallBack(ready)


# Callbacks run on capture threads. A grabber closed from inside its own
# callback must not free that callback while it still runs: such callbacks are
# kept here for the life of the process.
_delivering = threading.local()
_retired: List[Any] = []


class _Grabber(L.Handle):
    _PREFIX = ""  # the family's export prefix
    _OPEN = ""  # the export that opens a device
    _SET_CALLBACK = ""  # the callback registration, after the prefix
    _KIND = ""  # what a device is, for messages

    def __init__(self, index: int, asynchronous: bool) -> None:
        super().__init__()
        self._delivery = _Delivery()
        self._callbacks: List[Any] = []  # every callback handed out, kept until close()
        count = ctypes.c_uint32()
        self._open(self._PREFIX + "Init", ctypes.byref(count))
        try:
            names = self._names(self._handle, count.value)
            index = operator.index(index)
            if not 0 <= index < len(names):
                raise IndexError(f"no {self._KIND} {index}: {len(names)} found")
            self.name = names[index]
            """The device's name."""
            formats = ctypes.c_uint32()
            L.call(self._OPEN, self._handle, index, bool(asynchronous), ctypes.byref(formats))
            self.formats = [self._format(i) for i in range(formats.value)]
            """The device's native capture formats."""
        except BaseException:
            self.close()
            raise

    @classmethod
    def devices(cls) -> List[str]:
        """Names of the devices of this kind, in the order their indices follow."""
        handle, count, errors = ctypes.c_void_p(), ctypes.c_uint32(), L.error_buffer()
        init = cls._PREFIX + "Init"
        L.check(init, getattr(L.lib(), init)(ctypes.byref(handle), ctypes.byref(count), errors),
                errors)
        try:
            return cls._names(handle, count.value)
        finally:
            getattr(L.lib(), cls._CLEAR)(ctypes.byref(handle))

    @property
    def callback_error(self) -> Optional[BaseException]:
        """The first exception raised by a callback, if any."""
        return self._delivery.error

    def set_callback(self, callback: Optional[Callback]) -> None:
        """Registers the function called for each block (None stops the calls)."""
        pointer = (self._delivery.bridge(callback) if callback is not None
                   else L.null_callback(L.ReadyCallBack))
        self._callbacks.append(pointer)
        getattr(L.lib(), self._PREFIX + self._SET_CALLBACK)(self._live(), pointer)

    def stop(self) -> None:
        """Stops capture: no block is delivered after the one being delivered."""
        getattr(L.lib(), self._PREFIX + "StopGrabbing")(self._live())

    def close(self) -> None:
        """Stops capture and releases the device; returns after the last callback."""
        super().close()
        if getattr(_delivering, "depth", 0):
            _retired.extend(self._callbacks)
        self._callbacks = []

    @staticmethod
    def _name(handle: ctypes.c_void_p, index: int) -> bytes:
        raise NotImplementedError

    def _format(self, index: int) -> Any:
        raise NotImplementedError

    @classmethod
    def _names(cls, handle: ctypes.c_void_p, count: int) -> List[str]:
        names = []
        for index in range(count):
            # One byte for each UTF-16 unit of the device's name: its low byte.
            names.append(cls._name(handle, index).decode("latin-1"))
        return names


class Camera(_Grabber):
    """A camera, opened by index (see ``Camera.devices()``).

    Asynchronous (the default): ``start(width, height, fps, "NV12", callback)``
    and frames arrive on the callback until stop() or close(). Synchronous
    (``asynchronous=False``): start(), then grab() for each frame. Frames are
    the raw bytes of the chosen pixel format, as a flat ``uint8`` array; a
    :class:`tarsel.PixelConverter` turns NV12, YUY2 (YUYV422) and I420 (YUV420P)
    into BGR24.
    """

    _PREFIX = "MFCamGrabber_"
    _CLEAR = "MFCamGrabber_Clear"
    _OPEN = "MFCamGrabber_OpenCamera"
    _SET_CALLBACK = "SetFrameReadyCallBack"
    _KIND = "camera"

    def __init__(self, index: int = 0, asynchronous: bool = True) -> None:
        self._capacity = 0
        super().__init__(index, asynchronous)
        self._capacity = max([4 * f.width * f.height for f in self.formats] + [1 << 20])
        # The grabber takes each control interface on its first get or set and
        # does nothing else in that call: take both now, so that every call acts.
        errors, values = L.error_buffer(), [ctypes.c_int32() for _ in range(6)]
        for name in ("MFCamGrabber_GetCamCtrl", "MFCamGrabber_GetVideoProp"):
            getattr(L.lib(), name)(self._handle, 0, *map(ctypes.byref, values), errors)

    @staticmethod
    def _name(handle: ctypes.c_void_p, index: int) -> bytes:
        name, copied = ctypes.create_string_buffer(_NAME_SIZE), ctypes.c_uint32()
        L.lib().MFCamGrabber_GetDeviceName(handle, index, name, ctypes.byref(copied), _NAME_SIZE)
        return name.raw[:min(copied.value, _NAME_SIZE)]

    def _format(self, index: int) -> CameraFormat:
        record = L.CamConfig()
        L.call("MFCamGrabber_GetConfig", self._handle, index, ctypes.byref(record))
        subtype = _guid(record.subtype)
        return CameraFormat(_subtype_name(subtype, _VIDEO_SUBTYPES), record.width, record.height,
                            record.framesPerSecond, record.frameRateNumerator,
                            record.frameRateDenominator, subtype)

    def start(self, width: int, height: int, fps: int = 0, pixel_format: Union[str, int] = "NV12",
              callback: Optional[Callback] = None) -> None:
        """Starts capture at a size, a frame rate (0 keeps the camera's) and a pixel
        format (NV12, YUY2 or I420); registers ``callback`` first when given."""
        code = _property(PIXEL_FORMATS, pixel_format.upper() if isinstance(pixel_format, str)
                         else pixel_format)
        if callback is not None:
            self.set_callback(callback)
        L.call("MFCamGrabber_StartGrabbing", self._live(), operator.index(width),
               operator.index(height), operator.index(fps), code)
        self._capacity = max(self._capacity, 4 * width * height)

    def grab(self) -> Tuple[int, np.ndarray]:
        """Waits for the next frame (synchronous cameras); returns its time in
        100-ns units since the first frame, and its bytes."""
        buffer = np.empty(self._capacity, np.uint8)
        size = ctypes.c_uint32(buffer.size)
        timestamp = ctypes.c_int64()
        L.call("MFCamGrabber_GrabFrame", self._live(), L.address(buffer), ctypes.byref(size),
               ctypes.byref(timestamp))
        return timestamp.value, buffer[:size.value].copy()

    def get_control(self, control: Union[str, int]) -> Control:
        """A camera control (pan, tilt, roll, zoom, exposure, iris, focus)."""
        return self._read_range("MFCamGrabber_GetCamCtrl", CAMERA_CONTROLS, control)

    def set_control(self, control: Union[str, int], value: int, flags: int = 2) -> None:
        """Sets a camera control; flags 2 is manual, 1 automatic."""
        L.call("MFCamGrabber_SetCamCtrl", self._live(), _property(CAMERA_CONTROLS, control),
               operator.index(flags), operator.index(value))

    def get_video_property(self, prop: Union[str, int]) -> Control:
        """A video property (brightness, contrast, hue, saturation, ..., gain)."""
        return self._read_range("MFCamGrabber_GetVideoProp", VIDEO_PROPERTIES, prop)

    def set_video_property(self, prop: Union[str, int], value: int, flags: int = 2) -> None:
        """Sets a video property; flags 2 is manual, 1 automatic."""
        L.call("MFCamGrabber_SetVideoProp", self._live(), _property(VIDEO_PROPERTIES, prop),
               operator.index(flags), operator.index(value))

    def _read_range(self, name: str, names: dict, which: Union[str, int]) -> Control:
        values = [ctypes.c_int32() for _ in range(6)]
        L.call(name, self._live(), _property(names, which), *map(ctypes.byref, values))
        return Control(*(value.value for value in values))


def _property(names: dict, which: Union[str, int]) -> int:
    """The code of a name of the table, or a code as it is."""
    if isinstance(which, str):
        try:
            return names[which if which in names else which.lower()]
        except KeyError:
            raise ValueError(f"unknown name {which!r}; known: {', '.join(names)}") from None
    return operator.index(which)


class Microphone(_Grabber):
    """An audio capture device, opened by index (see ``Microphone.devices()``).

    ``start(format_index, callback)`` delivers blocks to the callback until stop()
    or close(): ``int16`` arrays of shape (samples, channels). A PCM format is
    delivered as captured (raw bytes when it is not 16-bit); any other format is
    converted to 16-bit stereo at 44,100 Hz.
    """

    _PREFIX = "MFAudioGrabber_"
    _CLEAR = "MFAudioGrabber_Clear"
    _OPEN = "MFAudioGrabber_OpenDevice"
    _SET_CALLBACK = "SetAudioReadyCallBack"
    _KIND = "audio capture device"

    def __init__(self, index: int = 0) -> None:
        super().__init__(index, True)

    @staticmethod
    def _name(handle: ctypes.c_void_p, index: int) -> bytes:
        name = ctypes.create_string_buffer(_NAME_SIZE + 1)  # no terminator is written
        L.lib().MFAudioGrabber_GetDeviceName(handle, index, name, _NAME_SIZE)
        return name.value

    def _format(self, index: int) -> AudioFormat:
        record = L.AudioConfig()
        L.call("MFAudioGrabber_GetConfig", self._handle, index, ctypes.byref(record))
        subtype = _guid(record.subtype)
        return AudioFormat(_subtype_name(subtype, _AUDIO_SUBTYPES), record.numChannels,
                           record.samplesPerSecond, record.bitsPerSample, record.blockAlignment,
                           record.avgBytesPerSecond, bool(record.allSamplesIndependent), subtype)

    def start(self, format_index: int = 0, callback: Optional[Callback] = None) -> None:
        """Starts capture in one of ``formats``; registers ``callback`` first when given."""
        index = operator.index(format_index)
        if 0 <= index < len(self.formats):
            chosen = self.formats[index]
            converted = chosen.subtype != _PCM_SUBTYPE
            channels = 2 if converted else chosen.channels
            sixteen_bit = converted or chosen.bits_per_sample == 16
            self._delivery.convert = (_int16_blocks(channels) if sixteen_bit and channels > 0
                                      else (lambda data: data))
        if callback is not None:
            self.set_callback(callback)
        L.call("MFAudioGrabber_StartGrabbing", self._live(), index)


def _int16_blocks(channels: int) -> Callable[[np.ndarray], np.ndarray]:
    def convert(data: np.ndarray) -> np.ndarray:
        usable = data.size - data.size % (2 * channels)
        return data[:usable].view("<i2").reshape(-1, channels)
    return convert
