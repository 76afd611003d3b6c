#!/usr/bin/env python3
"""Serves made-up tiles of any zoom on 127.0.0.1, for renders too large for
the bundled tile sets.

Usage: synthetic_tile_server.py. Binds a free port, prints it on one line,
and answers /Z/X/Y.png for any Z, X and Y with a 256 x 256 PNG: a gradient
across the tile, grid lines every 64 pixels and a blue level that varies
from tile to tile, so that a misplaced or swapped tile shows. The PNGs are
made once, at start, so any number of tiles costs no more than serving them.
"""
import http.server
import re
import struct
import sys
import zlib

VARIANTS = 64
PATH = re.compile(r"^/(\d{1,2})/(\d{1,8})/(\d{1,8})\.png$")


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def make_png(variant):
    blue = (variant * 29) % 256
    rows = []
    for y in range(256):
        row = bytearray(b"\x00")
        for x in range(256):
            if x % 64 == 0 or y % 64 == 0:
                row += b"\xff\xff\xff"
            else:
                row += bytes((x, y, blue))
        rows.append(bytes(row))
    header = struct.pack(">IIBBBBB", 256, 256, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) +
            chunk(b"IEND", b""))


TILES = [make_png(v) for v in range(VARIANTS)]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        match = PATH.match(self.path)
        if not match:
            self.send_error(404)
            return
        z, x, y = (int(g) for g in match.groups())
        if x >= 1 << z or y >= 1 << z:
            self.send_error(404)
            return
        body = TILES[(x * 7 + y * 13 + z) % VARIANTS]
        self.send_response(200)
        self.send_header("Content-Type", "image/png")
        self.send_header("Content-Length", str(len(body)))
        # Head and body in one write: two would wait on the peer's delayed ACK.
        self._headers_buffer.append(b"\r\n")
        self.wfile.write(b"".join(self._headers_buffer) + body)
        self._headers_buffer = []

    def log_message(self, *args):
        pass


class QuietServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass


def main():
    server = QuietServer(("127.0.0.1", int(sys.argv[1]) if len(sys.argv) > 1 else 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
