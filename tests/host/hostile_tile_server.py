#!/usr/bin/env python3
"""A tile server on 127.0.0.1 that misbehaves on request, for the host's tests.

Usage: hostile_tile_server.py DIR. Binds a free port, prints it on one line,
and answers /MODE/LAYER/Z/X/Y.EXT by MODE:

  ok         DIR/LAYER/Z/X/Y.EXT (also at the tile service's own path)
  missing    404
  error      500, always
  flaky      500 the first time a path is asked for, then the file
  endless    200 and a body that never ends
  oversized  200 declaring 100 MB, and sending it
  stall      200, a few bytes, then nothing
  connection 200 and the number of the connection it came on, kept open
             (HTTP/1.1 keep-alive) for the next request
  slowS      the file after S seconds (slow3: three)
  together   the file once four requests wait at once (503 if they never do)

Every answer ends within STALL_SECONDS even when the client never hangs
up, so a broken client cannot keep the server busy for long.
"""
import functools
import http.server
import os
import sys
import threading
import time

SERVICE_PATH = "/geowebcache/service/tms1.0.0/"
STALL_SECONDS = 20
CHUNK = b"\0" * 65536


class HostileHandler(http.server.BaseHTTPRequestHandler):
    asked = set()
    asked_lock = threading.Lock()
    connections = 0
    gathering = threading.Barrier(4, timeout=STALL_SECONDS)

    def __init__(self, *args, directory, **kwargs):
        self.tiles = directory
        with self.asked_lock:
            HostileHandler.connections += 1
            self.number = HostileHandler.connections
        super().__init__(*args, **kwargs)

    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path.startswith(SERVICE_PATH):
            mode, tile = "ok", self.path[len(SERVICE_PATH):]
        else:
            mode, _, tile = self.path.lstrip("/").partition("/")
        if mode != "connection":
            self.protocol_version = "HTTP/1.0"
            self.close_connection = True
        if mode == "flaky":
            with self.asked_lock:
                first = self.path not in self.asked
                self.asked.add(self.path)
            mode = "error" if first else "ok"
        if mode.startswith("slow") and mode[4:].isdigit():
            time.sleep(min(int(mode[4:]), STALL_SECONDS))
            mode = "ok"
        handler = getattr(self, "answer_" + mode, None)
        if handler is None:
            self.send_error(400)
            return
        handler(tile)

    def answer_ok(self, tile):
        path = os.path.join(self.tiles, *[p for p in tile.split("/") if p not in ("", "..")])
        try:
            with open(path, "rb") as f:
                body = f.read()
        except OSError:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def answer_connection(self, tile):
        body = str(self.number).encode()
        self.protocol_version = "HTTP/1.1"
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "keep-alive")
        self.end_headers()
        self.wfile.write(body)

    def answer_together(self, tile):
        try:
            self.gathering.wait()
        except threading.BrokenBarrierError:
            self.gathering.reset()
            self.send_error(503)
            return
        self.answer_ok(tile)

    def answer_missing(self, tile):
        self.send_error(404)

    def answer_error(self, tile):
        self.send_error(500)

    def stream(self, declared_length=None):
        self.send_response(200)
        if declared_length is not None:
            self.send_header("Content-Length", str(declared_length))
        self.end_headers()
        ends = time.monotonic() + STALL_SECONDS
        while time.monotonic() < ends:
            self.wfile.write(CHUNK)

    def answer_endless(self, tile):
        self.stream()

    def answer_oversized(self, tile):
        self.stream(100 * 1024 * 1024)

    def answer_stall(self, tile):
        self.send_response(200)
        self.send_header("Content-Length", "1000")
        self.end_headers()
        self.wfile.write(b"\x89PNG")
        self.wfile.flush()
        time.sleep(STALL_SECONDS)


class QuietServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # clients hang up on purpose here


def main():
    handler = functools.partial(HostileHandler, directory=sys.argv[1])
    server = QuietServer(("127.0.0.1", 0), handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
