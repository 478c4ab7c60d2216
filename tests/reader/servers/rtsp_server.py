#!/usr/bin/python3
"""An RTSP server on loopback for the reader's network tests.

Serves the tracks of an MP4 file in real time, each client from the file's
start, at rtsp://127.0.0.1:PORT/<mount>:
  /video        the H.264 track
  /video_audio  the H.264 and AAC tracks
  /stall        the H.264 track, which stops after --stall-after pictures while
                the session stays open (RTCP goes on, as from a frozen camera)
  /fast/video, /fast/video_audio   the same from --fast-file, a copy of the
                file with its times shortened, which opens sooner

Reports "port N" in the port file once listening (see server_life.py).
"""
import argparse
import sys

import gi

import server_life

gi.require_version("Gst", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtspServer  # noqa: E402

VIDEO = "d.video_0 ! queue ! h264parse ! identity name=gate ! rtph264pay name=pay0 pt=96"
AUDIO = "d.audio_0 ! queue ! aacparse ! rtpmp4gpay name=pay1 pt=97"


def factory(path, tracks, stall_after=None):
    media = GstRtspServer.RTSPMediaFactory()
    media.set_launch(f"( filesrc location={path} ! qtdemux name=d {' '.join(tracks)} )")
    if stall_after is not None:
        media.connect("media-configure", lambda _f, m: stall(m, stall_after))
    return media


def stall(media, pictures):
    """Holds the stream back after the first pictures: no more data and no end,
    while the session and its RTCP go on."""
    sent = [0]

    def count(pad, _info):
        sent[0] += 1
        if sent[0] == pictures:
            pad.add_probe(Gst.PadProbeType.BLOCK | Gst.PadProbeType.BUFFER,
                          lambda *_: Gst.PadProbeReturn.OK)
        return Gst.PadProbeReturn.OK

    pad = media.get_element().get_by_name("gate").get_static_pad("src")
    pad.add_probe(Gst.PadProbeType.BUFFER, count)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--file", required=True, help="MP4 with an H.264 and an AAC track")
    parser.add_argument("--fast-file", help="the same tracks, faster")
    parser.add_argument("--stall-after", type=int, default=50)
    server_life.add_arguments(parser)
    args = parser.parse_args()
    server_life.end_when_stopped(args)

    Gst.init(None)
    loop = GLib.MainLoop()
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service("0")
    mounts = server.get_mount_points()
    mounts.add_factory("/video", factory(args.file, [VIDEO]))
    mounts.add_factory("/video_audio", factory(args.file, [VIDEO, AUDIO]))
    mounts.add_factory("/stall", factory(args.file, [VIDEO], args.stall_after))
    if args.fast_file:
        mounts.add_factory("/fast/video", factory(args.fast_file, [VIDEO]))
        mounts.add_factory("/fast/video_audio", factory(args.fast_file, [VIDEO, AUDIO]))
    if server.attach(None) == 0:
        sys.exit("cannot listen")
    server_life.report_ports(args, f"port {server.get_bound_port()}")
    loop.run()


if __name__ == "__main__":
    main()
