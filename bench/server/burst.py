#!/usr/bin/python3
"""zarvo-serve under bursts of GetMaps, two builds side by side: each
starts on loopback over a tile directory, is warmed, and then takes, in
turn with the other, the same cases:

  burst N SIZE   N GetMaps of SIZE x SIZE at once, each on its own
                 connection (N from 50 to 400; 256: tiles of map pages at
                 zoom 6 over Europe, 1024: aerial images of 40 degrees);
  slowloris      200 connections trickle a byte a second; then 300
                 1024 x 1024 GetMaps at once, and while they last four
                 clients ask for ordinary 256 x 256 GetMaps one after
                 another.

Each case prints the answers by status, the time to each answer (p50, p99
and the last), and the server's peak resident memory during the case
(from /proc, its high-water mark reset before the case). Not a test: the
figures are for docs/performance.md. Loopback only, bounded in count and
time (every request gives up after 60 s).

usage: burst.py BEFORE AFTER TILES [--rounds N] [--sizes 256,1024] [--counts 50,100,200,300,400]
       (BEFORE and AFTER are zarvo-serve binaries; either may be "-" to run one alone)
"""
import argparse
import asyncio
import os
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "serve"))
from serve_harness import ZarvoServe  # noqa: E402

TIMEOUT = 60


def getmap(layer, bbox, width, height):
    return (f"/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS={layer}&STYLES=&FORMAT=image/png&CRS=CRS:84"
            f"&BBOX={bbox}&WIDTH={width}&HEIGHT={height}")


def small_map(i):
    """A 256 x 256 tile of a map page at zoom 6 over Europe: 5.625 degrees a side, laid out 16 across."""
    x, y = -22.5 + (i % 16) * 5.625, 33.75 + (i // 16 % 6) * 5.625
    layer = ("map", "hybrid")[i // 96 % 2]
    return getmap(layer, f"{x},{y},{x + 5.625},{y + 5.625}", 256, 256)


def large_map(i):
    x = (i * 13) % 300 - 150
    return getmap("aerial", f"{x},-40,{x + 40},0", 1024, 1024)


def reset_peak(pid):
    try:
        with open(f"/proc/{pid}/clear_refs", "w") as f:
            f.write("5")
    except OSError:
        pass


def peak_mb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM"):
                return int(line.split()[1]) // 1024
    return 0


async def fetch(port, path):
    """(status or None, seconds) of one GET on a connection of its own."""
    started = time.monotonic()
    try:
        async def exchange():
            reader, writer = await asyncio.open_connection("127.0.0.1", port)
            try:
                writer.write(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n".encode())
                head = await reader.readuntil(b"\r\n\r\n")
                status = int(head.split()[1])
                length = 0
                for line in head.split(b"\r\n")[1:]:
                    if line.lower().startswith(b"content-length:"):
                        length = int(line.split(b":")[1])
                await reader.readexactly(length)
                return status
            finally:
                writer.close()
        status = await asyncio.wait_for(exchange(), TIMEOUT)
    except (OSError, asyncio.TimeoutError, asyncio.IncompleteReadError, ValueError):
        status = None
    return status, time.monotonic() - started


def percentile(values, share):
    if not values:
        return float("nan")
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def summary(outcomes):
    counts = {}
    for status, _ in outcomes:
        counts[status] = counts.get(status, 0) + 1
    times = [t for _, t in outcomes]
    return {"200": counts.pop(200, 0), "503": counts.pop(503, 0), "other": sum(counts.values()),
            "p50": percentile(times, 0.5), "p99": percentile(times, 0.99), "last": max(times, default=0)}


async def burst(port, count, size):
    maker = small_map if size == 256 else large_map
    return summary(await asyncio.gather(*(fetch(port, maker(i)) for i in range(count))))


async def slowloris(port):
    stop = asyncio.Event()
    trickle = (f"GET {small_map(0)} HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: {'p' * 4000}\r\n\r\n").encode()

    async def loris():
        try:
            _, writer = await asyncio.open_connection("127.0.0.1", port)
        except OSError:
            return
        try:
            for byte in trickle:
                writer.write(bytes([byte]))
                try:
                    await asyncio.wait_for(stop.wait(), 1.0)
                    return
                except asyncio.TimeoutError:
                    pass
        except OSError:
            pass
        finally:
            writer.close()

    lorises = [asyncio.ensure_future(loris()) for _ in range(200)]
    await asyncio.sleep(2)
    ordinary = []

    async def client(k):
        i = k
        while not stop.is_set():
            ordinary.append(await fetch(port, small_map(i)))
            i += 4

    clients = [asyncio.ensure_future(client(k)) for k in range(4)]
    large = await asyncio.gather(*(fetch(port, large_map(i)) for i in range(300)))
    stop.set()
    await asyncio.gather(*clients, *lorises)
    return summary(large), summary(ordinary)


def warm(port):
    async def run():
        for start in range(0, 192, 16):
            await asyncio.gather(*(fetch(port, small_map(i)) for i in range(start, start + 16)))
        for start in range(0, 40, 4):
            await asyncio.gather(*(fetch(port, large_map(i)) for i in range(start, start + 4)))
    asyncio.run(run())


def measure(server, case):
    reset_peak(server.process.pid)
    if case[0] == "burst":
        result = {"case": f"{case[1]} x {case[2]}x{case[2]}", **asyncio.run(burst(server.port, case[1], case[2]))}
        rows = [result]
    else:
        large, ordinary = asyncio.run(slowloris(server.port))
        rows = [{"case": "slowloris + 300 x 1024x1024", **large},
                {"case": "  ordinary 256x256 meanwhile", **ordinary}]
    peak = peak_mb(server.process.pid)
    for row in rows:
        row["peak"] = peak
    time.sleep(2)  # the server settles: lingering connections close, memory goes back
    return rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("tiles")
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("--sizes", default="256,1024")
    parser.add_argument("--counts", default="50,100,200,300,400")
    parser.add_argument("--no-slowloris", action="store_true")
    args = parser.parse_args()
    builds = [(name, path) for name, path in (("before", args.before), ("after", args.after)) if path != "-"]
    cases = [("burst", n, s) for s in map(int, args.sizes.split(",")) for n in map(int, args.counts.split(","))]
    if not args.no_slowloris:
        cases.append(("slowloris",))
    servers = {}
    for name, path in builds:
        servers[name] = ZarvoServe(path, args.tiles, "--access-log", "off").__enter__()
        warm(servers[name].port)
    results = {}
    try:
        for round_number in range(args.rounds):
            for case in cases:
                order = builds if round_number % 2 == 0 else builds[::-1]
                for name, _ in order:
                    for row in measure(servers[name], case):
                        results.setdefault((row["case"], name), []).append(row)
                    print(".", end="", file=sys.stderr, flush=True)
    finally:
        for server in servers.values():
            server.stop()
    print(file=sys.stderr)
    print("| case | build | 200 | 503 | other | p50 s | p99 s | last s | peak RSS MB |")
    print("|---|---|---:|---:|---:|---:|---:|---:|---:|")
    seen = []
    for key in results:
        if key[0] not in seen:
            seen.append(key[0])
    for case in seen:
        for name, _ in builds:
            rows = results.get((case, name), [])
            if not rows:
                continue

            def median(field):
                return statistics.median(r[field] for r in rows)
            print(f"| {case} | {name} | {median('200'):g} | {median('503'):g} | {median('other'):g} | "
                  f"{median('p50'):.2f} | {median('p99'):.2f} | {median('last'):.2f} | {median('peak'):g} |")


if __name__ == "__main__":
    threading.stack_size(1 << 20)
    main()
