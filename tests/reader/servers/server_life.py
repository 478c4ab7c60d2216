"""What the test servers share: they write their ports into a file once
listening, and end at once when the test stops them (a stop file appears, or
their standard input closes when they watch it) or when their lifetime is over.
They are started by test programs on Linux and under Wine alike; Wine starts
them detached, without pipes, so the files are the common way to talk."""
import os
import sys
import threading
import time


def add_arguments(parser):
    parser.add_argument("--port-file", required=True, help="written once listening")
    parser.add_argument("--stop-file", required=True, help="the server ends when it appears")
    parser.add_argument("--watch-stdin", action="store_true", help="end when stdin closes")
    parser.add_argument("--lifetime", type=float, default=300, help="seconds at most")


def report_ports(args, text):
    temporary = args.port_file + ".tmp"
    with open(temporary, "w") as f:
        f.write(text + "\n")
    os.replace(temporary, args.port_file)


def end_when_stopped(args):
    def watch_files():
        deadline = time.monotonic() + args.lifetime
        while time.monotonic() < deadline and not os.path.exists(args.stop_file):
            time.sleep(0.1)
        os._exit(0)

    def watch_stdin():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=watch_files, daemon=True).start()
    if args.watch_stdin:
        threading.Thread(target=watch_stdin, daemon=True).start()
