#!/usr/bin/python3
"""What a 512 px tile (@2x, the tile of the 512 px twin) costs beside the
256 px tile of the same address, side by side in one run.

One zarvo-serve over a tile set; at each level of WebMercatorQuad, for each
layer, the two tiles east of each other around (10 E, 50 N), asked as XYZ
tiles with and without @2x in each format, taken in turns (256, 512, 256,
...) so that both see the same machine, with the tiles already in its
cache. Prints per level and format the median answer time of each and
their ratio, then per format the ratios of the sums of the medians, of the
server's own time (its Server-Timing "wms" duration: drawing and encoding)
and of the processor time the server spent on each (its user and system
time, read before and after each answer).

Usage: hidpi_cost.py --serve build/zarvo-serve --tiles build/world-tiles [--rounds 7]
"""
import argparse
import json
import math
import os
import re
import statistics
import subprocess
import sys
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mercator_cost import processor_seconds  # noqa: E402

FORMATS = ("png", "jpeg", "webp")
LAYERS = ("map", "aerial", "hybrid")


def timed_get(url):
    """Seconds to the whole answer, and the server's own milliseconds."""
    start = time.perf_counter()
    with urllib.request.urlopen(url, timeout=60) as answer:
        answer.read()
        assert answer.status == 200, url
        timing = answer.headers.get("Server-Timing", "")
    served = re.search(r"wms;dur=([\d.]+)", timing)
    return time.perf_counter() - start, float(served.group(1)) if served else 0.0


def ratio(costs):
    return costs["512"] / costs["256"] if costs["256"] > 0 else float("nan")


def tiles_around(lon, lat, level):
    """The XYZ column and row of a point at a WebMercatorQuad level, and the column east of it."""
    n = 2 ** level
    x = min(n - 1, int((lon + 180) / 360 * n))
    y = min(n - 1, int((1 - math.asinh(math.tan(math.radians(lat))) / math.pi) / 2 * n))
    return [(x, y), ((x + 1) % n, y)] if n > 1 else [(0, 0)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--serve", required=True)
    parser.add_argument("--tiles", required=True)
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()
    server = subprocess.Popen([args.serve, "--tiles", args.tiles, "--port", "0", "--access-log", "off"],
                              stdout=subprocess.PIPE, text=True)
    try:
        found = re.search(r"listening on (http://[0-9.]+:\d+)/", server.stdout.readline())
        if not found:
            raise SystemExit("hidpi_cost: zarvo-serve did not start")
        base = found.group(1)
        with urllib.request.urlopen(base + "/tiles/map/WebMercatorQuad/tilejson.json", timeout=30) as answer:
            highest = json.loads(answer.read())["maxzoom"]
        print("| level | format | 256 px ms | 512 px ms | 512 / 256 |")
        print("|---:|---|---:|---:|---:|")
        totals = {f: {"256": 0.0, "512": 0.0} for f in FORMATS}
        served = {f: {"256": 0.0, "512": 0.0} for f in FORMATS}
        processor = {f: {"256": 0.0, "512": 0.0} for f in FORMATS}
        for level in range(highest + 1):
            for extension in FORMATS:
                pairs = []
                for layer in LAYERS:
                    for x, y in tiles_around(10, 50, level):
                        address = f"{base}/tiles/{layer}/WebMercatorQuad/{level}/{x}/{y}"
                        pairs.append({"256": f"{address}.{extension}", "512": f"{address}@2x.{extension}"})
                for pair in pairs:
                    for url in pair.values():
                        timed_get(url)  # the tiles into the cache
                times = {"256": [], "512": []}
                for round_number in range(args.rounds):
                    for pair in pairs:
                        # Turns, the first of each pair changing every round.
                        order = ("256", "512") if round_number % 2 == 0 else ("512", "256")
                        for size in order:
                            before = processor_seconds(server.pid)
                            seconds, milliseconds = timed_get(pair[size])
                            processor[extension][size] += processor_seconds(server.pid) - before
                            times[size].append(seconds)
                            served[extension][size] += milliseconds
                medians = {size: statistics.median(values) * len(pairs) for size, values in times.items()}
                for size in medians:
                    totals[extension][size] += medians[size]
                print("| %d | %s | %.2f | %.2f | %.2f |" % (
                    level, extension.upper(), medians["256"] * 1000 / len(pairs), medians["512"] * 1000 / len(pairs),
                    medians["512"] / medians["256"]))
        print()
        print("| format | answer time, sum of medians | server's drawing and encoding | server's processor time |")
        print("|---|---:|---:|---:|")
        for extension in FORMATS:
            print("| %s | %.2f | %.2f | %.2f |" % (extension.upper(), ratio(totals[extension]),
                                                  ratio(served[extension]), ratio(processor[extension])))
        print("\n(512 px tile / 256 px tile of the same address, levels 0 to %d, %d rounds)" % (highest, args.rounds))
    finally:
        server.terminate()
        server.wait(timeout=30)


if __name__ == "__main__":
    main()
