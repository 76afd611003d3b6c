#!/usr/bin/env python3
"""Serves a tile directory on 127.0.0.1 under the tile service's own path.

Usage: serve_tiles.py DIR. Binds a free port, prints it on one line, and
serves DIR/LAYER/Z/X/Y.EXT at /geowebcache/service/tms1.0.0/LAYER/Z/X/Y.EXT
until it is stopped.
"""
import functools
import http.server
import sys

SERVICE_PATH = "/geowebcache/service/tms1.0.0/"


class TileHandler(http.server.SimpleHTTPRequestHandler):
    def translate_path(self, path):
        if not path.startswith(SERVICE_PATH):
            return "/nonexistent"
        return super().translate_path("/" + path[len(SERVICE_PATH):])

    def log_message(self, *args):
        pass


class QuietServer(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        pass  # clients that hang up early (a failed render) are not news


def main():
    handler = functools.partial(TileHandler, directory=sys.argv[1])
    server = QuietServer(("127.0.0.1", 0), handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
