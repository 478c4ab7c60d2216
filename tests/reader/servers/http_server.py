#!/usr/bin/python3
"""An HTTP server on loopback for the reader's network tests.

  /camera/<options>/video.cgi  an MJPEG camera: the pictures of --camera as a
      multipart stream, paced in real time. Options, joined by "_": "fpsN" sends
      N pictures a second (default 15), "stallN" stops sending after N pictures
      and holds the connection open, "truncateN" sends picture N (from 0) cut to
      half its bytes. The pictures repeat from the first when they run out.
  /range/<name>   a file of --dir, with byte ranges (206 answers)
  /plain/<name>   the same file without byte ranges: every answer is the whole
      file, and no Accept-Ranges header is sent
  silent port     accepts connections and never answers

Reports "port N silent M" in the port file once listening (see server_life.py).
"""
import argparse
import http.server
import os
import re
import socket
import threading
import time

import server_life

BOUNDARY = "frame"


def split_jpegs(data):
    """The pictures of a raw MJPEG stream, each from its SOI to its EOI marker."""
    pictures, start = [], 0
    while True:
        start = data.find(b"\xff\xd8", start)
        if start < 0:
            return pictures
        at = start + 2
        # Marker segments carry their length; the entropy-coded scan ends at the
        # first marker that is neither a stuffed 0xFF00 nor a restart marker.
        while at + 4 <= len(data):
            marker, length = data[at + 1], int.from_bytes(data[at + 2:at + 4], "big")
            at += 2 + length
            if marker == 0xDA:
                while not (data[at] == 0xFF and data[at + 1] not in (0x00, *range(0xD0, 0xD8))):
                    at += 1
                if data[at + 1] == 0xD9:
                    at += 2
                    break
        pictures.append(data[start:at])
        start = at


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def do_GET(self):
        parts = self.path.strip("/").split("/")
        try:
            if len(parts) == 3 and parts[0] == "camera" and parts[2] == "video.cgi":
                self.camera(parts[1])
            elif len(parts) == 2 and parts[0] in ("range", "plain"):
                self.file(os.path.join(self.server.args.dir, os.path.basename(parts[1])),
                          parts[0] == "range")
            else:
                self.send_error(404)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def camera(self, options):
        settings = {"fps": 15, "stall": None, "truncate": None}
        for option in options.split("_"):
            match = re.fullmatch(r"([a-z]+)(\d+)", option)
            if match and match.group(1) in settings:
                settings[match.group(1)] = int(match.group(2))
        self.send_response(200)
        self.send_header("Content-Type", f"multipart/x-mixed-replace; boundary={BOUNDARY}")
        self.end_headers()
        pictures, start = self.server.pictures, time.monotonic()
        for number in range(1_000_000):
            if number == settings["stall"]:
                threading.Event().wait()
            picture = pictures[number % len(pictures)]
            if number == settings["truncate"]:
                picture = picture[:len(picture) // 2]
            delay = start + number / settings["fps"] - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            self.wfile.write(f"--{BOUNDARY}\r\nContent-Type: image/jpeg\r\n"
                             f"Content-Length: {len(picture)}\r\n\r\n".encode())
            self.wfile.write(picture + b"\r\n")
            self.wfile.flush()

    def file(self, path, ranges):
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError:
            self.send_error(404)
            return
        first, last = 0, len(data) - 1
        match = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("Range", ""))
        if ranges and match and int(match.group(1)) < len(data):
            first = int(match.group(1))
            last = min(last, int(match.group(2))) if match.group(2) else last
            self.send_response(206)
            self.send_header("Content-Range", f"bytes {first}-{last}/{len(data)}")
        else:
            self.send_response(200)
        if ranges:
            self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(last - first + 1))
        self.end_headers()
        self.wfile.write(data[first:last + 1])


def silent(listener):
    held = []
    while True:
        held.append(listener.accept()[0])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True, help="folder of the files served")
    parser.add_argument("--camera", required=True, help="raw MJPEG file of the camera")
    server_life.add_arguments(parser)
    args = parser.parse_args()
    server_life.end_when_stopped(args)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.args = args
    with open(args.camera, "rb") as f:
        server.pictures = split_jpegs(f.read())
    listener = socket.create_server(("127.0.0.1", 0))
    threading.Thread(target=silent, args=(listener,), daemon=True).start()
    server_life.report_ports(args, f"port {server.server_address[1]} silent "
                                   f"{listener.getsockname()[1]}")
    server.serve_forever()


if __name__ == "__main__":
    main()
