"""Starting and stopping zarvo-serve and stand-in tile servers for tests.

Every server listens on 127.0.0.1 on a port the system picks.
"""
import http.server
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request

SERVICE_PATH = "/geowebcache/service/tms1.0.0/"


class ZarvoServe:
    """One zarvo-serve process, stopped with SIGTERM when the block ends.
    Its standard output (the access log) and error are read as they come,
    so that a long run never blocks on a full pipe."""

    def __init__(self, binary, tiles, *extra):
        self.args = [binary, "--tiles", tiles, "--port", "0", *extra]
        self.access_lines = []
        self.error_lines = []

    def __enter__(self):
        self.process = subprocess.Popen(self.args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        found = re.search(r"listening on http://([0-9.]+):(\d+)/", line)
        if not found:
            self.process.kill()
            raise RuntimeError("zarvo-serve did not start: " + line + self.process.stderr.read())
        self.base = "http://%s:%s" % found.groups()
        self.port = int(found.group(2))
        self.readers = [threading.Thread(target=self._collect, args=(stream, lines), daemon=True)
                        for stream, lines in ((self.process.stdout, self.access_lines),
                                              (self.process.stderr, self.error_lines))]
        for reader in self.readers:
            reader.start()
        return self

    @staticmethod
    def _collect(stream, lines, keep=2000):
        for line in stream:
            lines.append(line)
            del lines[:-keep]

    def stop(self, timeout=20):
        """SIGTERM, then the exit code and what it wrote to stderr."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise
        for reader in self.readers:
            reader.join(timeout)
        self.process.stdout.close()
        self.process.stderr.close()
        return self.process.returncode, "".join(self.error_lines)

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.stop()

    def get(self, path, timeout=60, headers=None):
        """(status, content type, headers, body) of a GET, errors included."""
        try:
            request = urllib.request.Request(self.base + path, headers=headers or {})
            with urllib.request.urlopen(request, timeout=timeout) as r:
                return r.status, r.headers.get("Content-Type"), r.headers, r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.headers.get("Content-Type"), e.headers, e.read()

    def stats(self):
        import json
        return json.loads(self.get("/stats")[3])


class ServedTestCase(unittest.TestCase):
    """Tests against one zarvo-serve over TILES for the whole class, which
    must exit cleanly when they are done."""

    SERVE = TILES = None
    ARGUMENTS = ()

    @classmethod
    def setUpClass(cls):
        cls.server = ZarvoServe(cls.SERVE, cls.TILES, *cls.ARGUMENTS).__enter__()

    @classmethod
    def tearDownClass(cls):
        code, errors = cls.server.stop()
        assert code == 0, errors


class TileUpstream:
    """A tile server over a tile directory whose answers for chosen
    (layer, service zoom) pairs are faults: "500", "reset", "stall" (until
    the server stops), "huge" (5 MB), "garbage" (a broken PNG) or "slow" (a
    second late). Counts every request. `delay`: seconds every tile waits."""

    def __init__(self, directory):
        self.directory = directory
        self.delay = 0.0
        self.faults = {}
        self.hits = {}
        self.lock = threading.Lock()
        self.release = threading.Event()

    def __enter__(self):
        upstream = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):
                path = self.path
                with upstream.lock:
                    upstream.hits[path] = upstream.hits.get(path, 0) + 1
                if not path.startswith(SERVICE_PATH):
                    return self.answer(404, b"")
                parts = path[len(SERVICE_PATH):].split("/")
                fault = upstream.faults.get((parts[0], parts[1])) if len(parts) == 4 else None
                if fault == "500":
                    return self.answer(500, b"upstream broke")
                if fault == "reset":
                    self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    self.connection.close()
                    self.close_connection = True
                    return None
                if fault == "stall":
                    upstream.release.wait(120)
                    return None
                if fault == "huge":
                    return self.answer(200, b"\x89PNG\r\n\x1a\n" + bytes(5 << 20))
                if fault == "garbage":
                    return self.answer(200, b"\x89PNG\r\n\x1a\n not really")
                if fault == "slow":
                    time.sleep(1.0)
                time.sleep(upstream.delay)
                relative = os.path.normpath(path[len(SERVICE_PATH):])
                try:
                    with open(os.path.join(upstream.directory, relative), "rb") as f:
                        body = f.read()
                except OSError:
                    return self.answer(404, b"")
                return self.answer(200, body)

            def answer(self, status, body):
                self.send_response(status)
                self.send_header("Content-Length", str(len(body)))
                # Head and body in one write: two would wait on the peer's
                # delayed ACK, 40 ms a tile.
                self._headers_buffer.append(b"\r\n")
                self.wfile.write(b"".join(self._headers_buffer) + body)
                self._headers_buffer = []

            def log_message(self, *args):
                pass

        class Server(http.server.ThreadingHTTPServer):
            daemon_threads = True

            def handle_error(self, request, client_address):
                pass

        self.server = Server(("127.0.0.1", 0), Handler)
        self.address = "http://127.0.0.1:%d" % self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        return self

    def __exit__(self, *exc):
        self.release.set()
        self.server.shutdown()
        self.server.server_close()

    def hits_for(self, fragment):
        with self.lock:
            return {p: n for p, n in self.hits.items() if fragment in p}


class Nginx:
    """Debian's nginx in the foreground, serving `site` (its server blocks,
    where LISTEN stands for a free loopback address and SCRATCH for a
    folder of its own), stopped with SIGQUIT when the block ends."""

    def __init__(self, site):
        self.site = site

    def __enter__(self):
        self.scratch = tempfile.mkdtemp(prefix="zarvo-nginx-")
        os.chmod(self.scratch, 0o755)
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        site = self.site.replace("LISTEN", "127.0.0.1:%d" % self.port).replace("SCRATCH", self.scratch)
        temp = {name: os.path.join(self.scratch, name) for name in ("body", "proxy", "fastcgi", "uwsgi", "scgi")}
        config = f"""{"user root;" if os.geteuid() == 0 else ""}
daemon off;
worker_processes 1;
pid {self.scratch}/nginx.pid;
error_log {self.scratch}/error.log warn;
events {{ worker_connections 512; }}
http {{
    access_log off;
    client_body_temp_path {temp["body"]};
    proxy_temp_path {temp["proxy"]};
    fastcgi_temp_path {temp["fastcgi"]};
    uwsgi_temp_path {temp["uwsgi"]};
    scgi_temp_path {temp["scgi"]};
    types {{ text/html html; application/javascript js; text/css css; image/png png; image/jpeg jpg;
             application/json json; }}
{site}
}}
"""
        path = os.path.join(self.scratch, "nginx.conf")
        with open(path, "w") as f:
            f.write(config)
        nginx = shutil.which("nginx") or "/usr/sbin/nginx"
        self.process = subprocess.Popen([nginx, "-p", self.scratch, "-c", path, "-e", self.scratch + "/error.log"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.base = "http://127.0.0.1:%d" % self.port
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return self
            except OSError:
                if self.process.poll() is not None:
                    raise RuntimeError("nginx did not start: " + self.process.stderr.read().decode())
                time.sleep(0.05)
        raise RuntimeError("nginx did not start listening")

    def __exit__(self, *exc):
        self.process.send_signal(signal.SIGQUIT)
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stderr.close()
        shutil.rmtree(self.scratch, ignore_errors=True)
