#!/usr/bin/python3
"""zarvo-serve when things go wrong: an upstream tile server that fails,
resets, stalls or sends junk, clients that hang up mid-answer, and a stop
while a request is in flight. The server answers each with an exception
report or carries on, and always stays up.

Environment: ZARVO_SERVE, ZARVO_DEMO_TILES.
"""
import json
import os
import shutil
import signal
import socket
import sqlite3
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import xml.etree.ElementTree as ET
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from serve_harness import TileUpstream, ZarvoServe  # noqa: E402

SERVE = os.environ["ZARVO_SERVE"]
TILES = os.environ["ZARVO_DEMO_TILES"]


def get_map(layer, bbox, width, height, fmt="image/png"):
    return (f"/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS={layer}&STYLES=&FORMAT={fmt}&CRS=CRS:84"
            f"&BBOX={bbox}&WIDTH={width}&HEIGHT={height}")


# Drawn at zoom 3 (service zoom 2) and zoom 1 (service zoom 0).
ZOOM3 = ("0,0,90,45", 256, 128)
ZOOM1 = ("-180,-85,180,85", 256, 121)


def pool_thread(function, *args):
    thread = threading.Thread(target=function, args=args, daemon=True)
    thread.start()
    return thread


class UpstreamFaults(unittest.TestCase):
    def test_each_fault_is_an_exception_report_and_the_server_carries_on(self):
        cases = [
            ("map", "500", "HTTP status 500"),
            ("aerial", "reset", ""),
            ("hybrid", "huge", "body larger than"),
        ]
        with TileUpstream(TILES) as upstream:
            for layer, fault, _ in cases:
                upstream.faults[(layer, "2")] = fault
            with ZarvoServe(SERVE, upstream.address, "--max-zoom", "6") as server:
                for layer, fault, words in cases:
                    with self.subTest(fault=fault):
                        status, content_type, _, body = server.get(get_map(layer, *ZOOM3))
                        self.assertEqual((status, content_type), (502, "text/xml"))
                        self.assertIn(b"<ServiceException>cannot have tile http://", body)
                        self.assertIn(f"/{layer}/2/".encode(), body)
                        self.assertIn(words.encode(), body)
                        status, content_type, _, _ = server.get(get_map(layer, *ZOOM1))
                        self.assertEqual((status, content_type), (200, "image/png"))
                # A failure is not remembered: the next request asks again.
                path = "/map/2/"
                first = sum(upstream.hits_for(path).values())
                server.get(get_map("map", *ZOOM3))
                self.assertGreater(sum(upstream.hits_for(path).values()), first)
                code, errors = server.stop()
                self.assertEqual(code, 0, errors)
                # Each failure leaves its trace: a 502 in the access log, the tile on stderr.
                self.assertGreaterEqual(sum(' 502 ' in line for line in server.access_lines), len(cases))
                for layer, _, _ in cases:
                    self.assertRegex(errors, rf"zarvo-serve: 502 for 127\.0\.0\.1 /wms\?\S+: cannot have tile "
                                             rf"http://\S+/{layer}/2/")

    def test_a_stalled_upstream_times_out_its_own_requests_only(self):
        with TileUpstream(TILES) as upstream:
            upstream.faults[("hybrid", "2")] = "stall"
            with ZarvoServe(SERVE, upstream.address, "--max-zoom", "6", "--threads", "1") as server:
                started = time.monotonic()
                with ThreadPoolExecutor(max_workers=3) as pool:
                    # A WMTS tile over the same tiles is a map like the others.
                    paths = (get_map("hybrid", *ZOOM3), get_map("hybrid", *ZOOM3),
                             "/wmts/1.0.0/hybrid/default/WorldCRS84Quad/1/0/2.png")
                    stalled = [pool.submit(server.get, path, 90) for path in paths]
                    while not upstream.hits_for("/hybrid/2/"):
                        time.sleep(0.05)
                    # The only worker waits for the upstream: capabilities and
                    # the readiness probe, which looks at the upstream, go on.
                    status, content_type, _, _ = server.get("/wms?SERVICE=WMS&REQUEST=GetCapabilities")
                    self.assertEqual((status, content_type), (200, "text/xml"))
                    self.assertTrue(wait_until(lambda: server.get("/readyz")[0] == 200))
                    self.assertFalse(any(s.done() for s in stalled))
                    answers = [s.result() for s in stalled]
                # Two wait for the tiles until their deadline; the one that
                # could not start before its own is told so then, not later.
                self.assertEqual(sorted(a[0] for a in answers), [503, 504, 504])
                for path, (status, content_type, headers, _) in zip(paths, answers):
                    if status == 503:
                        self.assertEqual(headers["Retry-After"], "1")
                    else:
                        self.assertEqual(content_type, "application/xml" if "wmts" in path else "text/xml")
                self.assertTrue(any(b"/hybrid/2/" in a[3] for a in answers))
                for layer in ("map", "aerial", "hybrid"):
                    status, _, _, _ = server.get(get_map(layer, *ZOOM1))
                    self.assertEqual(status, 200, layer)
                self.assertLess(time.monotonic() - started, 60, "the deadline did not hold")
                # A stop while the upstream stalls ends within the map's
                # deadline, not after the fetches queued behind it.
                asked = set(upstream.hits_for("/hybrid/2/"))
                waiting = pool_thread(server.get, get_map("hybrid", "90,0,180,45", 256, 128), 90)
                while set(upstream.hits_for("/hybrid/2/")) <= asked:
                    time.sleep(0.05)
                code, errors = server.stop(timeout=20)
                self.assertEqual(code, 0, errors)
                waiting.join(30)

    def test_concurrent_requests_fetch_each_tile_once(self):
        with TileUpstream(TILES) as upstream, ZarvoServe(SERVE, upstream.address, "--max-zoom", "6") as server:
            with ThreadPoolExecutor(max_workers=8) as pool:
                answers = list(pool.map(lambda _: server.get(get_map("aerial", *ZOOM3)), range(8)))
            self.assertEqual({a[0] for a in answers}, {200})
            self.assertEqual(len({a[3] for a in answers}), 1, "the same image for the same request")
            hits = upstream.hits_for("/aerial/2/")
            self.assertTrue(hits)
            self.assertEqual(set(hits.values()), {1}, hits)
            stats = server.stats()
            self.assertGreaterEqual(stats["dataRequests"], 8, "every GetMap draws its own image")
            self.assertEqual(stats["tilesFetched"], len(hits))


class Clients(unittest.TestCase):
    def test_clients_that_hang_up_mid_answer_do_no_harm(self):
        with ZarvoServe(SERVE, TILES) as server:
            request = (f"GET {get_map('hybrid', '-180,-85,180,85', 1024, 512)} HTTP/1.1\r\n"
                       f"Host: 127.0.0.1:{server.port}\r\n\r\n").encode()
            for attempt in range(9):
                with socket.create_connection(("127.0.0.1", server.port), timeout=30) as s:
                    s.sendall(request)
                    if attempt % 3 == 1:
                        s.recv(100)  # the head of the answer, then gone
                    if attempt % 3 == 2:
                        s.sendall(request[: len(request) // 2])  # a second request, cut short
                    # Reset rather than close, as a crashed client would.
                    s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            status, content_type, _, body = server.get(get_map("hybrid", "-180,-85,180,85", 1024, 512))
            self.assertEqual((status, content_type), (200, "image/png"))
            self.assertGreater(len(body), 100000)
            code, errors = server.stop()
            self.assertEqual(code, 0, errors)

    def test_probes_and_a_port_in_use(self):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            nothing = "http://127.0.0.1:%d" % s.getsockname()[1]  # nothing listens there
        for tiles, ready in [(TILES, 200), (nothing, 503)]:
            with self.subTest(tiles=tiles), ZarvoServe(SERVE, tiles, "--max-zoom", "6") as server:
                self.assertEqual(server.get("/healthz")[0], 200)
                self.assertEqual(server.get("/readyz")[0], ready)
                metrics = server.get("/metrics")[3].decode()
                self.assertIn('zarvo_requests_total{operation="probe",status="%d"} ' % ready, metrics)
                # What every exporter tells of its process, and which build answers.
                for series in ("process_cpu_seconds_total ", "process_resident_memory_bytes ", "process_open_fds ",
                               "process_start_time_seconds ", 'zarvo_build_info{version="'):
                    self.assertIn("\n" + series, metrics)
                second = subprocess.run([SERVE, "--tiles", TILES, "--port", str(server.port)], capture_output=True,
                                        text=True, timeout=30)
                self.assertEqual(second.returncode, 1)
                self.assertRegex(second.stderr, r"^zarvo-serve: cannot listen on 127\.0\.0\.1:\d+: .*in use\n$")

    def test_a_stop_lets_the_request_in_flight_finish(self):
        with TileUpstream(TILES) as upstream:
            upstream.faults[("map", "2")] = "slow"
            with ZarvoServe(SERVE, upstream.address, "--max-zoom", "6") as server:
                answer = {}
                worker = threading.Thread(target=lambda: answer.update(r=server.get(get_map("map", *ZOOM3))))
                worker.start()
                while not upstream.hits_for("/map/2/"):
                    time.sleep(0.05)
                code, errors = server.stop()
                worker.join(30)
                self.assertEqual(answer["r"][0], 200)
                self.assertEqual(answer["r"][3][:4], b"\x89PNG")
                self.assertEqual(code, 0, errors)
                self.assertIn("stopped", errors)


def copy_coarse_tiles(target, layers=("map", "aerial", "hybrid")):
    """The service zooms 0 to 2 of `layers` of the demo tiles, copied into `target`."""
    for layer in layers:
        for zoom in ("0", "1", "2"):
            shutil.copytree(os.path.join(TILES, layer, zoom), os.path.join(target, layer, zoom))


def text_of(path):
    with open(path) as f:
        return f.read()


def wait_until(condition, seconds=20):
    """Polls `condition` until it holds or `seconds` pass; what it last gave."""
    end = time.monotonic() + seconds
    while True:
        found = condition()
        if found or time.monotonic() > end:
            return found
        time.sleep(0.1)


class Operators(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.scratch)

    def test_tiles_take_what_zarvo_render_takes_and_serve_the_layers_there_are(self):
        aerial_only = os.path.join(self.scratch, "aerial-only")
        copy_coarse_tiles(aerial_only, ("aerial",))
        mbtiles = os.path.join(self.scratch, "aerial.mbtiles")
        with sqlite3.connect(mbtiles) as db:
            db.execute("CREATE TABLE metadata (name TEXT, value TEXT)")
            db.execute("CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB)")
            db.executemany("INSERT INTO metadata VALUES (?, ?)", [("name", "aerial"), ("format", "jpg")])
            for zoom in range(3):
                for column in range(2 ** zoom):
                    for row in range(2 ** zoom):
                        with open(os.path.join(TILES, "aerial", str(zoom), str(column), f"{row}.jpeg"), "rb") as f:
                            db.execute("INSERT INTO tiles VALUES (?, ?, ?, ?)", (zoom, column, row, f.read()))
        template = os.path.join(TILES, "aerial", "{z}", "{x}", "{-y}.jpeg")
        cases = [
            # --tiles, the layers advertised, a layer drawn
            (aerial_only, ["aerial"], "aerial"),
            (mbtiles, ["map", "aerial", "hybrid"], "map"),
            (template, ["map", "aerial", "hybrid"], "hybrid"),
        ]
        with ZarvoServe(SERVE, TILES, "--max-zoom", "3") as reference:
            expected = reference.get(get_map("aerial", *ZOOM3))[3]
        for tiles, layers, drawn in cases:
            with self.subTest(tiles=tiles), ZarvoServe(SERVE, tiles, "--max-zoom", "3") as server:
                _, _, _, body = server.get("/wms?SERVICE=WMS&REQUEST=GetCapabilities")
                wms = "{http://www.opengis.net/wms}"
                names = [layer.find(wms + "Name").text for layer in ET.fromstring(body).iter(wms + "Layer")
                         if layer.find(wms + "Name") is not None]
                self.assertEqual(names, layers)
                _, _, _, body = server.get("/wmts/1.0.0/WMTSCapabilities.xml")
                identifiers = [e.find("{http://www.opengis.net/ows/1.1}Identifier").text
                               for e in ET.fromstring(body).iter("{http://www.opengis.net/wmts/1.0}Layer")]
                self.assertEqual(identifiers, layers)
                _, _, _, body = server.get("/ogcapi/collections?f=json")
                self.assertEqual([c["id"] for c in json.loads(body)["collections"]], layers)
                _, _, _, body = server.get("/ogcapi/api?f=json")
                self.assertEqual(json.loads(body)["components"]["parameters"]["collectionId"]["schema"]["enum"],
                                 layers)
                # Every source here holds the aerial tiles: each layer drawn is them.
                status, content_type, _, body = server.get(get_map(drawn, *ZOOM3))
                self.assertEqual((status, content_type, body), (200, "image/png", expected))
                for missing in {"map", "aerial", "hybrid"} - set(layers):
                    status, _, _, body = server.get(get_map(missing, *ZOOM3))
                    self.assertEqual(status, 400)
                    self.assertIn(b'code="LayerNotDefined"', body)
                    self.assertIn(b"the layers are aerial", body)
                    # Nor does any other door offer it.
                    for door in (f"/tiles/{missing}/WebMercatorQuad/1/0/0.png", f"/ogcapi/collections/{missing}",
                                 f"/wmts/1.0.0/{missing}/default/WebMercatorQuad/1/0/0.png"):
                        self.assertEqual(server.get(door)[0], 404, door)

    def test_replaced_tiles_get_new_entity_tags(self):
        tiles = os.path.join(self.scratch, "tiles")
        copy_coarse_tiles(tiles)
        path = get_map("map", "-180,-85,180,85", 64, 32)  # zoom 1: the one tile of service zoom 0
        with ZarvoServe(SERVE, tiles) as server:
            status, _, headers, body = server.get(path)
            self.assertEqual(status, 200)
            # Replaced in place, as the README says: the file, then its folder touched.
            shutil.copyfile(os.path.join(tiles, "aerial", "0", "0", "0.jpeg"), os.path.join(tiles, "map", "0", "0", "0.png"))
            os.utime(os.path.join(tiles, "map", "0", "0"))
            answer = wait_until(lambda: (lambda a: a if a[0] == 200 else None)(
                server.get(path, headers={"If-None-Match": headers["ETag"]})))
            self.assertTrue(answer, "the old tag was still current")
            self.assertNotEqual(answer[2]["ETag"], headers["ETag"])
            self.assertNotEqual(answer[3], body, "drawn from the tiles held before")

    @unittest.skipUnless(socket.has_ipv6, "no IPv6")
    def test_it_tells_the_address_it_listens_at_as_clients_write_it(self):
        process = subprocess.Popen([SERVE, "--tiles", TILES, "--port", "0", "--bind", "::1", "--access-log", "off"],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            line = process.stdout.readline()
            self.assertRegex(line, r"^zarvo-serve: listening on http://\[::1\]:\d+/ ")
            port = int(line.split("]:")[1].split("/")[0])
            # Without a Host, the capabilities name the address the connection reached.
            with socket.create_connection(("::1", port), timeout=30) as s:
                s.sendall(b"GET /wms?SERVICE=WMS&REQUEST=GetCapabilities HTTP/1.0\r\n\r\n")
                answer = b""
                while chunk := s.recv(65536):
                    answer += chunk
            self.assertIn(f'xlink:href="http://[::1]:{port}/wms?"'.encode(), answer)
        finally:
            process.send_signal(signal.SIGTERM)
            process.communicate(timeout=30)

    def test_the_access_log_follows_rotation_and_says_what_it_loses(self):
        log = os.path.join(self.scratch, "access.log")
        with ZarvoServe(SERVE, TILES, "--access-log", log) as server:
            for rotation in (signal.SIGUSR1, signal.SIGHUP):
                with self.subTest(signal=rotation):
                    server.get("/healthz?before")
                    os.replace(log, log + ".1")
                    server.process.send_signal(rotation)
                    # Reopened by its name: the next line goes to a new file.
                    self.assertTrue(wait_until(lambda: os.path.exists(log)))
                    server.get("/healthz?after")
                    self.assertIn("/healthz?before", text_of(log + ".1"))
                    self.assertTrue(wait_until(lambda: "/healthz?after" in text_of(log)))
                    self.assertNotIn("/healthz?before", text_of(log))
            self.assertEqual(server.get("/healthz")[0], 200)
        # A full disk: said at once, and not for every line.
        with ZarvoServe(SERVE, TILES, "--access-log", "/dev/full") as server:
            for _ in range(5):
                self.assertEqual(server.get("/healthz")[0], 200)
            code, errors = server.stop()
            self.assertEqual(code, 0, errors)
            self.assertEqual(errors.count("zarvo-serve: the access log /dev/full: No space left on device; "), 1,
                             errors)
        # A pipe nobody reads: refused at once, not waited for.
        fifo = os.path.join(self.scratch, "pipe")
        os.mkfifo(fifo)
        run = subprocess.run([SERVE, "--tiles", TILES, "--port", "0", "--access-log", fifo], capture_output=True,
                             text=True, timeout=30)
        self.assertEqual((run.returncode, run.stderr),
                         (1, f"zarvo-serve: cannot open the access log {fifo}: no process reads the pipe\n"))


class Arguments(unittest.TestCase):
    def test_a_bad_argument_is_one_line_and_status_2(self):
        cases = [
            (["--tiles", TILES, "--port=99999"], "--port wants a whole number from 0 to 65535, not '99999'"),
            (["--tiles", TILES, "--colour", "red"], "unknown option '--colour'"),
            (["--tiles", TILES, "--trust-proxy=yes"], "--trust-proxy takes no value"),
            (["--tiles=", "--port", "0"], "--tiles needs a value"),
            (["--tiles", TILES, "--cors"], "--cors needs a value"),
            (["--tiles", TILES, "--cors", "https://a.example,ftp://b"],
             "--cors wants * or origins scheme://host[:port] with commas, not 'https://a.example,ftp://b'"),
            (["--port", "0"], "--tiles is missing"),
            (["--tiles", TILES, "--public-url", "ftp://h"], "--public-url wants http[s]://HOST[:PORT][/PREFIX], not "
                                                            "'ftp://h'"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                run = subprocess.run([SERVE, *args], capture_output=True, text=True, timeout=30)
                self.assertEqual((run.returncode, run.stdout), (2, ""))
                self.assertEqual(run.stderr, "zarvo-serve: %s (zarvo-serve --help tells more)\n" % message)

    def test_options_take_their_value_after_an_equals_sign(self):
        with ZarvoServe(SERVE, TILES, "--max-age=60") as server:
            status, _, headers, _ = server.get("/wms?SERVICE=WMS&REQUEST=GetCapabilities")
            self.assertEqual((status, headers["Cache-Control"]), (200, "public, max-age=60"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
