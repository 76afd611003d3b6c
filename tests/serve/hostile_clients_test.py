#!/usr/bin/python3
"""zarvo-serve against hostile clients on loopback: each case is an attack
that once took the service down or past its memory, and each now gets a
bounded answer at once while ordinary requests go on. Every socket has a
timeout, so that a fault fails a case instead of hanging it.

Environment: ZARVO_SERVE, ZARVO_DEMO_TILES.
"""
import os
import random
import socket
import sys
import unittest
import urllib.parse
import xml.dom.minidom
import xml.parsers.expat

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from serve_harness import ZarvoServe  # noqa: E402

SERVE = os.environ["ZARVO_SERVE"]
TILES = os.environ["ZARVO_DEMO_TILES"]
CAPABILITIES = "/wms?SERVICE=WMS&REQUEST=GetCapabilities"
GETMAP = ("/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png&CRS=CRS:84"
          "&BBOX=-180,-85,180,85&WIDTH=256&HEIGHT=121")


class Connection:
    """A raw HTTP/1.1 connection that reads answers by Content-Length."""

    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=30)
        self.pending = b""

    def send(self, data):
        self.socket.sendall(data if isinstance(data, bytes) else data.encode())

    def get(self, path, extra=""):
        self.send(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\n{extra}\r\n")

    def answer(self, limit=64 << 20):
        """(status, headers as a dict of lower-case names, body); None when
        the connection ended first. Reads no more than `limit` bytes."""
        while b"\r\n\r\n" not in self.pending:
            if not self._fill(limit):
                return None
        head, _, self.pending = self.pending.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        headers = {k.strip().lower(): v.strip() for k, _, v in (line.partition(":") for line in lines[1:])}
        length = int(headers.get("content-length", "0"))
        while len(self.pending) < length:
            if not self._fill(limit):
                return None
        body, self.pending = self.pending[:length], self.pending[length:]
        return int(lines[0].split()[1]), headers, body

    def closed(self):
        return not self.pending and not self._fill(1)

    def _fill(self, limit):
        if len(self.pending) > limit:
            raise AssertionError("an answer beyond %d bytes" % limit)
        try:
            data = self.socket.recv(1 << 16)
        except ConnectionResetError:
            return False
        self.pending += data
        return bool(data)

    def close(self):
        self.socket.close()


class HostileClients(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = ZarvoServe(SERVE, TILES).__enter__()

    @classmethod
    def tearDownClass(cls):
        code, errors = cls.server.stop()
        assert code == 0, errors

    def connect(self, server=None):
        connection = Connection((server or self.server).port)
        self.addCleanup(connection.close)
        return connection

    def test_many_ranges_get_one_whole_answer(self):
        ranges = "Range: bytes=" + ",".join(["0-"] * 2700) + "\r\n"
        for path in ("/main.js", GETMAP):
            with self.subTest(path=path):
                c = self.connect()
                c.get(path)
                plain = c.answer()
                c.get(path, ranges)
                status, headers, body = c.answer(limit=len(plain[2]) + 4096)
                self.assertIn(status, (200, 404))
                self.assertEqual(body, plain[2])
                self.assertNotIn("content-range", headers)

    def test_heads_past_their_bounds_are_refused_and_closed(self):
        flood = "".join("X-Flood-%d: %s\r\n" % (i, "f" * 64) for i in range(3000))
        cases = [
            ("header flood", "GET / HTTP/1.1\r\nHost: h\r\n" + flood + "\r\n", (431,), b"headers"),
            ("long query", "GET /wms?" + "A" * 9000 + " HTTP/1.1\r\nHost: h\r\n\r\n", (414,), b"too long"),
            ("POST with a body", "POST /wms HTTP/1.1\r\nHost: h\r\nContent-Length: 1000000\r\n\r\n" + "b" * 1000,
             (405,), b"GET and HEAD"),
            # 404 where the server was built without its map page.
            ("NUL in a path", "GET /main.js%00.html HTTP/1.1\r\nHost: h\r\n\r\n", (400, 404), b""),
            # Behind a proxy that frames the body otherwise, it would be a request of its own.
            ("a body framed by neither length nor chunks",
             "GET /healthz HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: gzip\r\n\r\nGET /healthz HTTP/1.1\r\nHost: h\r\n\r\n",
             (400,), b"chunked"),
            ("two hosts", "GET /healthz HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", (400,), b"Host"),
        ]
        for name, request, statuses, words in cases:
            with self.subTest(name):
                c = self.connect()
                c.send(request)
                answer = c.answer()
                self.assertIn(answer[0], statuses)
                self.assertIn(words, answer[2])
                self.assertNotIn("text/html", answer[1].get("content-type", ""))
                self.assertTrue(c.closed())

    def test_pipelined_requests_are_answered_in_order(self):
        c = self.connect()
        c.send("".join(f"GET {p} HTTP/1.1\r\nHost: h\r\n\r\n" for p in (GETMAP, CAPABILITIES, GETMAP + "&x")))
        kinds = [c.answer()[1]["content-type"] for _ in range(3)]
        self.assertEqual(kinds, ["image/png", "text/xml", "image/png"])

    def test_idle_keep_alive_connections_starve_no_one(self):
        with ZarvoServe(SERVE, TILES, "--max-connections", "151") as server:
            for _ in range(150):  # far beyond the workers
                c = self.connect(server)
                c.get(CAPABILITIES)
                self.assertEqual(c.answer()[0], 200)
            fresh = self.connect(server)
            fresh.get(GETMAP)
            self.assertEqual(fresh.answer()[0], 200)
            # Past the connection limit: told so at once, not dropped.
            for _ in range(20):
                status, headers, _ = self.connect(server).answer()
                self.assertEqual((status, headers.get("retry-after")), (503, "1"))

    def test_error_documents_stay_xml_whatever_bytes_are_quoted(self):
        chooser = random.Random(24)
        c = self.connect()
        for case in range(300):
            junk = bytes(chooser.randrange(256) for _ in range(chooser.randrange(1, 90)))
            name = ("LAYERS", "CRS", "STYLES")[case % 3]
            query = {"SERVICE": "WMS", "VERSION": "1.3.0", "REQUEST": "GetMap", "LAYERS": "map", "STYLES": "",
                     "FORMAT": "image/png", "CRS": "CRS:84", "BBOX": "0,0,1,1", "WIDTH": "8", "HEIGHT": "8"}
            query[name] = junk if name != "STYLES" else b"x" + junk
            c.get("/wms?" + urllib.parse.urlencode(query))
            status, _, body = c.answer()
            self.assertEqual(status, 400, junk)
            try:
                xml.dom.minidom.parseString(body)
            except xml.parsers.expat.ExpatError as e:
                self.fail("%r quoted as %r: %s" % (junk, body, e))


if __name__ == "__main__":
    unittest.main(verbosity=2)
