"""Fixture media made with the ffmpeg tool, and the references it decodes.

The tests run on Linux with the ffmpeg command-line tool; TARSEL_LIBRARY names
the library under test (by default the one of ./build in the source tree).
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path
from typing import List, Tuple

import numpy as np
import pytest

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
sys.path.insert(0, str(HERE.parent))
os.environ.setdefault("TARSEL_FAKE_DEVICES", "1")  # read when devices are listed
if "TARSEL_LIBRARY" not in os.environ and (ROOT / "build/src/libtarsel.so").exists():
    os.environ["TARSEL_LIBRARY"] = str(ROOT / "build/src/libtarsel.so")

if not sys.platform.startswith("linux") or not shutil.which("ffmpeg"):
    pytest.skip("the Python tests need Linux and the ffmpeg tool", allow_module_level=True)

SIZE = (176, 144)  # width, height of the main clip
FPS = 25
TONE = "aevalsrc=0.5*sin(2*PI*440*t)|0.4*sin(2*PI*660*t):s=44100:d=2"


def ffmpeg(*args: str) -> None:
    subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", *args],
                   check=True)


def decoded(path: Path, width: int, height: int, *options: str) -> np.ndarray:
    """The ffmpeg tool's BGR24 pictures of a file, shape (count, height, width, 3)."""
    raw = subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-i", str(path), *options,
                          "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "bgr24", "-"],
                         check=True, capture_output=True).stdout
    return np.frombuffer(raw, np.uint8).reshape(-1, height, width, 3)


def pcm(path: Path, channels: int, *options: str) -> np.ndarray:
    """The ffmpeg tool's 16-bit decode of a file, shape (samples, channels)."""
    raw = subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-i", str(path), *options,
                          "-f", "s16le", "-"], check=True, capture_output=True).stdout
    return np.frombuffer(raw, "<i2").reshape(-1, channels)


def nal_units(stream: bytes) -> List[bytes]:
    """The NAL units of an Annex-B stream, each with a 4-byte start code."""
    starts = []
    position = stream.find(b"\0\0\1")
    while position >= 0:
        starts.append(position + 3)
        position = stream.find(b"\0\0\1", position + 3)
    # A unit never ends in a zero byte: zeros before a start code belong to it.
    return [b"\0\0\0\1" + stream[begin:end - 3].rstrip(b"\0")
            for begin, end in zip(starts, starts[1:] + [len(stream) + 3])]


def access_units(stream: bytes) -> Tuple[bytes, bytes, List[bytes]]:
    """SPS, PPS and the picture slices (one a picture) of a stream."""
    units = nal_units(stream)
    kind = [unit[4] & 0x1F for unit in units]
    return (units[kind.index(7)], units[kind.index(8)],
            [unit for unit, k in zip(units, kind) if k in (1, 5)])


class Media:
    """Paths of the fixture files."""

    def __init__(self, folder: Path) -> None:
        self.folder = folder
        self.clip = folder / "clip.mp4"  # H.264 with B-frames, 50 frames
        self.tiny = folder / "tiny.mp4"
        self.stream = folder / "stream.h264"  # Annex B, no B-frames, 20 frames
        self.wav = folder / "tone.wav"
        self.m4a = folder / "tone.m4a"
        self.adts = folder / "tone.aac"


@pytest.fixture(scope="session")
def media(tmp_path_factory: pytest.TempPathFactory) -> Media:
    files = Media(tmp_path_factory.mktemp("media"))
    source = f"testsrc2=size={SIZE[0]}x{SIZE[1]}:rate={FPS}"
    ffmpeg("-f", "lavfi", "-i", source, "-frames:v", "50", "-c:v", "libx264", "-pix_fmt",
           "yuv420p", "-bf", "2", "-g", "12", str(files.clip))
    ffmpeg("-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25", "-frames:v", "5", "-c:v",
           "libx264", "-pix_fmt", "yuv420p", str(files.tiny))
    ffmpeg("-f", "lavfi", "-i", source, "-frames:v", "20", "-c:v", "libx264", "-pix_fmt",
           "yuv420p", "-bf", "0", "-g", "10", "-f", "h264", str(files.stream))
    ffmpeg("-f", "lavfi", "-i", TONE, "-c:a", "pcm_s16le", str(files.wav))
    ffmpeg("-f", "lavfi", "-i", TONE, "-c:a", "aac", "-b:a", "128k", str(files.m4a))
    ffmpeg("-i", str(files.m4a), "-c", "copy", "-f", "adts", str(files.adts))
    return files


@pytest.fixture(scope="session")
def clip_frames(media: Media) -> np.ndarray:
    return decoded(media.clip, *SIZE)
