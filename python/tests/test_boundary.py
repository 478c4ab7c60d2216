"""Errors, the declared exports, and what open/close cycles leave behind."""

import gc
import os
import shutil
import subprocess
import sys

import numpy as np
import pytest
from conftest import ROOT, access_units

import tarsel
from tarsel import _library


def _write_before_a_key_frame(path):
    with tarsel.Mp4Writer(path, 64, 48, 25) as writer:
        writer.add(b"\0\0\0\1\x41\x9a\x00")


def _empty_parameter_set(path):
    with tarsel.Mp4Writer(path, 64, 48, 25) as writer:
        writer.set_parameter_sets(b"", b"\x68")


# One failure of each wrapper: the texts themselves are checked by the C++ tests.
ERRORS = [
    # (what, library message, export, return code)
    (lambda media, tmp: tarsel.VideoReader(tmp / "missing.mp4"),
     "No such file or directory", "VIDEO_Init", 1),
    (lambda media, tmp: tarsel.AudioReader(media.stream),
     "Could not find audio stream", "AUDIO_Init", 1),
    (lambda media, tmp: tarsel.FFV1Writer(tmp / "out.unknown", 64, 48, 25),
     "Could not init video format", "LLWRITER_Init", 1),
    (lambda media, tmp: tarsel.VideoWriter(tmp / "out.avi", 64, 48, format="nosuchformat"),
     "Could not find suitable output format", "VIDWRITER_Init", 1),
    (lambda media, tmp: tarsel.PixelConverter(0, 1, 4, 4),
     "pixel format type is not valid", "PixConverter_Init", 1),
    (lambda media, tmp: _write_before_a_key_frame(tmp / "out.mp4"),
     "Could not write data", "MP4WRITER_AddFrame", 1),
    (lambda media, tmp: _empty_parameter_set(tmp / "out.mp4"),
     "Nr of input bytes is smaller than 1", "MP4WRITER_AddSPSPPS", 1),
]


@pytest.mark.parametrize("action, message, function, code", ERRORS)
def test_failures_raise_the_librarys_message(media, tmp_path, action, message, function, code):
    with pytest.raises(tarsel.TarselError) as failure:
        action(media, tmp_path)
    error = failure.value
    assert (error.message, error.function, error.code) == (message, function, code)
    assert str(error) == f"{function}: {message}"


def test_wrong_arrays_are_refused_before_the_library_sees_them(media):
    with tarsel.VideoReader(media.clip) as reader:
        height, width, _ = reader.shape
        for out, error in [(np.zeros((height, width, 3), np.float32), TypeError),
                           (np.zeros((height, width - 1, 3), np.uint8), ValueError),
                           (np.zeros((height, width, 4), np.uint8)[..., :3], ValueError),
                           (np.zeros((height, width, 3), np.uint8)[:, ::-1], ValueError)]:
            with pytest.raises(error):
                reader.read(out=out)
        frozen = np.zeros(reader.shape, np.uint8)
        frozen.flags.writeable = False
        with pytest.raises(ValueError):
            reader.read(out=frozen)
    with pytest.raises(ValueError, match="closed VideoReader"):
        reader.read()
    with tarsel.FFV1Writer(media.folder / "refused.mkv", 64, 48, 25) as writer:
        with pytest.raises(ValueError):
            writer.write(np.zeros((48, 63, 3), np.uint8))


def _names(list_file):
    """Export names of a list: one a line, "NAME = TARGET" for a second name."""
    lines = (line.split("=")[0].strip() for line in list_file.read_text().splitlines())
    return {line for line in lines if line and not line.startswith("#")}


def test_every_export_is_declared_once():
    listed = _names(ROOT / "exports/tarsel.exports")
    assert set(_library.PROTOTYPES) == listed and len(listed) == 82
    for name in listed - _names(ROOT / "exports/pending.txt"):
        assert tarsel.has_export(name), name


@pytest.mark.parametrize("where", ["next to the package", "on the library path"])
def test_the_library_is_found_without_tarsel_library(tmp_path, where):
    library = os.environ["TARSEL_LIBRARY"]
    shutil.copytree(ROOT / "python/tarsel", tmp_path / "tarsel")
    environment = {key: value for key, value in os.environ.items() if key != "TARSEL_LIBRARY"}
    environment["PYTHONPATH"] = str(tmp_path)
    if where == "next to the package":
        os.symlink(library, tmp_path / "tarsel/libtarsel.so.0")
        expected = str(tmp_path / "tarsel/libtarsel.so.0")
    else:
        environment["LD_LIBRARY_PATH"] = os.path.dirname(library)
        expected = "libtarsel.so"  # or its versioned name: the loader's own search
    found = subprocess.run([sys.executable, "-c", "from tarsel import _library as L; "
                            "print(L.lib().path, L.has_export('VIDEO_Init'))"],
                           env=environment, check=True, capture_output=True, text=True).stdout
    path, defined = found.split()
    assert path.startswith(expected) and defined == "True"


def _resources():
    gc.collect()
    with open("/proc/self/statm") as statm:
        resident = int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    return resident, len(os.listdir("/proc/self/fd"))


def _video(media):
    with tarsel.VideoReader(media.tiny) as reader:
        reader.read()


def _audio(media):
    with tarsel.AudioReader(media.m4a) as reader:
        reader.read()


def _decoder(media):
    sps, pps, pictures = access_units(media.stream.read_bytes()[:4096])
    with tarsel.H264Decoder() as decoder, tarsel.PixelConverter("BGR24", "NV12", 64, 48) as c:
        decoder.decode(sps + pps + pictures[0])
        c.convert(np.zeros((48, 64, 3), np.uint8))


def _writer(media):
    with tarsel.FFV1Writer(media.folder / "cycle.mkv", 64, 48, 25) as writer:
        writer.write(np.zeros((48, 64, 3), np.uint8))


@pytest.mark.parametrize("cycle", [_video, _audio, _decoder, _writer])
def test_open_close_cycles_leave_nothing_behind(media, cycle):
    for _ in range(50):  # caches and pools settle first
        cycle(media)
    memory, files = _resources()
    for _ in range(1000):
        cycle(media)
    memory_after, files_after = _resources()
    assert files_after == files
    assert memory_after - memory < 4 << 20, f"grew by {(memory_after - memory) >> 10} KiB"
