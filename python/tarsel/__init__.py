"""Tarsel for Python: video and audio media through the Tarsel library.

    import tarsel
    with tarsel.VideoReader("clip.mp4") as reader:
        print(reader.info.frame_count, "frames of", reader.shape)
        for index, time, image in reader:   # image: BGR uint8 (height, width, 3)
            ...

The shared library is looked for in TARSEL_LIBRARY (a path), next to this
package, then on the system's library path. Failures the library reports raise
:class:`TarselError` with its message and the export's name.
"""

from ._errors import TarselError
from ._library import has_export
from .audio import AacDecoder, AudioBlock, AudioInfo, AudioReader
from .capture import (AudioFormat, Camera, CameraFormat, Control, Microphone)
from .convert import FORMATS, H264Decoder, PixelConverter, picture_shape
from .encoder import Encoder
from .video import Frame, StreamScan, VideoInfo, VideoReader
from .writers import FFV1Writer, Mp4Muxer, Mp4Writer, VideoWriter

__version__ = "0.1.0"

__all__ = [
    "AacDecoder", "AudioBlock", "AudioFormat", "AudioInfo", "AudioReader", "Camera",
    "CameraFormat", "Control", "Encoder", "FFV1Writer", "FORMATS", "Frame", "H264Decoder",
    "Microphone", "Mp4Muxer", "Mp4Writer", "PixelConverter", "StreamScan", "TarselError",
    "VideoInfo", "VideoReader", "VideoWriter", "has_export", "picture_shape",
]
