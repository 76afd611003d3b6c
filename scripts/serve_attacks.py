#!/usr/bin/python3
"""The attacks on zarvo-serve's HTTP layer, measured: each starts the given
server on loopback over a tile directory, attacks it for a bounded time and
prints one line of figures. Not a test: the figures are for docs/performance.md.

usage: serve_attacks.py SERVER TILES ranges|headers|keepalive|slowloris|stall [SECONDS]
"""
import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "serve"))
from serve_harness import TileUpstream, ZarvoServe  # noqa: E402

CAPABILITIES = "/wms?SERVICE=WMS&REQUEST=GetCapabilities"


def getmap(layer, bbox, width, height, fmt="image/png"):
    return (f"/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS={layer}&STYLES=&FORMAT={fmt}&CRS=CRS:84"
            f"&BBOX={bbox}&WIDTH={width}&HEIGHT={height}")


def rss_mb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS"):
                return int(line.split()[1]) // 1024
    return 0


def request(path, extra=""):
    return f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\n{extra}\r\n".encode()


def read_answer(s, limit):
    """(status, content length, bytes read) of one answer, reading at most `limit` bytes."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = s.recv(65536)
        if not chunk:
            return None, 0, len(data)
        data += chunk
    head, _, rest = data.partition(b"\r\n\r\n")
    status = int(head.split()[1])
    length = 0
    for line in head.split(b"\r\n")[1:]:
        if line.lower().startswith(b"content-length:"):
            length = int(line.split(b":")[1])
    got = len(rest)
    while got < min(length, limit):
        chunk = s.recv(1 << 20)
        if not chunk:
            break
        got += len(chunk)
    return status, length, got


def timed_get(port, path, timeout=60):
    started = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
            s.sendall(request(path, "Connection: close\r\n"))
            status, _, _ = read_answer(s, 64 << 20)
    except OSError:
        status = None
    return status, time.monotonic() - started


def ranges(server, seconds):
    """Three clients ask for the script and a 1024 x 1024 aerial GetMap with 2,700 ranges each, and do not read."""
    header = "Range: bytes=" + ",".join(["0-"] * 2700) + "\r\n"
    sockets = []
    sizes = {}
    for path in ("/main.js", getmap("aerial", "-20,30,20,60", 1024, 1024)):
        with socket.create_connection(("127.0.0.1", server.port), timeout=120) as s:
            s.sendall(request(path, header))
            status, length, _ = read_answer(s, 0)
            sizes[path[:8]] = (status, length)
        for _ in range(3):
            s = socket.create_connection(("127.0.0.1", server.port), timeout=120)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            s.sendall(request(path, header))
            sockets.append(s)
    peak = 0
    for _ in range(seconds):
        time.sleep(1)
        peak = max(peak, rss_mb(server.process.pid))
    for s in sockets:
        s.close()
    return f"answers (status, Content-Length): {sizes}; RSS peak {peak} MB with 6 non-reading clients"


def headers(server, seconds):
    """Four connections each send up to 50 MB of headers."""
    line = b"X-Flood: " + b"f" * 990 + b"\r\n"
    results = []

    def flood():
        try:
            with socket.create_connection(("127.0.0.1", server.port), timeout=30) as s:
                s.sendall(b"GET / HTTP/1.1\r\nHost: h\r\n")
                sent = 0
                deadline = time.monotonic() + seconds
                try:
                    while sent < (50 << 20) and time.monotonic() < deadline:
                        s.sendall(line * 64)
                        sent += len(line) * 64
                    s.sendall(b"\r\n")
                except OSError:
                    pass
                try:
                    status, length, _ = read_answer(s, 1 << 20)
                except OSError:
                    status, length = "reset", 0
                results.append((status, sent >> 10))
        except OSError as e:
            results.append((str(e), 0))

    threads = [threading.Thread(target=flood) for _ in range(4)]
    peak = 0
    for t in threads:
        t.start()
    while any(t.is_alive() for t in threads):
        time.sleep(0.5)
        peak = max(peak, rss_mb(server.process.pid))
    return f"answers (status, kB sent): {results}; RSS peak {peak} MB"


def keepalive(server, seconds):
    """320 keep-alive connections, all open first, each asks for 256 x 256 GetMaps in a loop (after a 503,
    a second's pause as Retry-After asks); how many got no answer at all, and how many no map."""
    counts = [0] * 320
    refused = [0] * 320
    go = threading.Event()
    sockets = [socket.create_connection(("127.0.0.1", server.port), timeout=seconds + 5) for _ in range(320)]
    stop = time.monotonic() + seconds

    def client(i):
        s = sockets[i]
        go.wait()
        try:
            while time.monotonic() < stop:
                x = (i * 7) % 300 - 150
                s.sendall(request(getmap("map", f"{x},0,{x + 20},20", 256, 256)))
                status, _, _ = read_answer(s, 1 << 24)
                if status is None:
                    return
                if status == 200:
                    counts[i] += 1
                else:
                    refused[i] += 1
                    time.sleep(1)
        except OSError:
            pass
        s.close()

    threads = [threading.Thread(target=client, args=(i,)) for i in range(320)]
    for t in threads:
        t.start()
    go.set()
    for t in threads:
        t.join(seconds + 10)
    starved = sum(1 for c, r in zip(counts, refused) if c + r == 0)
    mapless = sum(1 for c in counts if c == 0)
    return (f"{seconds} s: {starved} of 320 connections got no answer, {mapless} no map; maps per connection "
            f"min {min(counts)}, max {max(counts)}, total {sum(counts)}; 503s {sum(refused)}")


def slowloris(server, seconds):
    """200 trickling connections, then 300 large GetMaps at once; a probe asks GetCapabilities meanwhile."""
    stop = threading.Event()
    trickle = request(getmap("map", "0,0,10,10", 256, 256), "X-Pad: " + "p" * 4000 + "\r\n")

    def loris():
        try:
            with socket.create_connection(("127.0.0.1", server.port), timeout=120) as s:
                for byte in trickle:
                    if stop.wait(1.0):
                        return
                    s.send(bytes([byte]))
        except OSError:
            pass

    lorises = [threading.Thread(target=loris) for _ in range(200)]
    for t in lorises:
        t.start()
    time.sleep(2)
    worst = [0.0, 0]
    probes = []

    def probe():
        while not stop.is_set():
            status, took = timed_get(server.port, CAPABILITIES, 60)
            probes.append(status)
            worst[0] = max(worst[0], took)
            time.sleep(0.2)

    prober = threading.Thread(target=probe)
    prober.start()
    outcomes = []

    def big(i):
        x = (i * 13) % 300 - 150
        outcomes.append(timed_get(server.port, getmap("aerial", f"{x},-40,{x + 40},20", 1024, 1024), 120))

    started = time.monotonic()
    burst = [threading.Thread(target=big, args=(i,)) for i in range(300)]
    for t in burst:
        t.start()
    for t in burst:
        t.join(180)
    took = time.monotonic() - started
    stop.set()
    prober.join()
    for t in lorises:
        t.join(5)
    statuses = {}
    for status, _ in outcomes:
        statuses[status] = statuses.get(status, 0) + 1
    answered = [t for s, t in outcomes if s == 200]
    return (f"burst of 300 in {took:.1f} s: statuses {statuses}; 200s' worst {max(answered, default=0):.2f} s; "
            f"GetCapabilities probes {len(probes)}, failed {sum(1 for p in probes if p != 200)}, worst {worst[0]:.2f} s")


def stall(binary, tiles, seconds):
    """32 small GetMaps needing about 50 tiles each from an upstream that stalls; GetCapabilities meanwhile."""
    with TileUpstream(tiles) as upstream:
        for layer in ("map", "aerial", "hybrid"):
            for zoom in range(6):
                upstream.faults[(layer, str(zoom))] = "stall"
        with ZarvoServe(binary, upstream.address, "--max-zoom", "6") as server:
            outcomes = []

            def small(i):
                outcomes.append(timed_get(server.port, getmap(("map", "aerial", "hybrid")[i % 3],
                                                              f"{-170 + i},-60,{-10 + i},60", 96, 72), 200))

            started = time.monotonic()
            threads = [threading.Thread(target=small, args=(i,)) for i in range(32)]
            for t in threads:
                t.start()
            time.sleep(2)
            caps = [timed_get(server.port, CAPABILITIES, 90) for _ in range(5)]
            for t in threads:
                t.join(250)
            upstream.release.set()
            statuses = {}
            for status, _ in outcomes:
                statuses[status] = statuses.get(status, 0) + 1
            return (f"GetCapabilities during the stall: {[(s, round(t, 3)) for s, t in caps]}; GetMaps {statuses}, "
                    f"slowest {max(t for _, t in outcomes):.1f} s, all done after {time.monotonic() - started:.1f} s")


def main():
    binary, tiles, attack = sys.argv[1:4]
    seconds = int(sys.argv[4]) if len(sys.argv) > 4 else 20
    if attack == "stall":
        print("stall:", stall(binary, tiles, seconds))
        return
    with ZarvoServe(binary, tiles) as server:
        print(attack + ":", globals()[attack](server, seconds), "; RSS at the end", rss_mb(server.process.pid), "MB")
        server.process.kill()


if __name__ == "__main__":
    main()
