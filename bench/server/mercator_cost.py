#!/usr/bin/python3
"""What an EPSG:3857 GetMap costs beside the EPSG:4326 GetMap of the same
area: for each box of boxes.txt, 512 x 512 PNG GetMaps in both grids from
one zarvo-serve, taken in turns (3857, 4326, 3857, ...) so that both see the
same machine, with the tiles already in its cache. Prints the median time of
each and their ratio per box, and the ratio of the totals.

Usage: mercator_cost.py --serve build/zarvo-serve --tiles build/world-tiles
                        [--boxes bench/server/boxes.txt] [--rounds 15]
"""
import argparse
import math
import os
import re
import statistics
import subprocess
import time
import urllib.request

HALF_WORLD = 20037508.342789244
SIZE = 512


def mercator(lon, lat):
    return lon / 180.0 * HALF_WORLD, math.log(math.tan(math.pi / 4 + math.radians(lat) / 2)) / math.pi * HALF_WORLD


def read_boxes(path):
    for line in open(path):
        fields = line.split()
        if fields and not fields[0].startswith("#"):
            yield fields[0], *map(float, fields[1:5])


def timed_get(url):
    start = time.perf_counter()
    with urllib.request.urlopen(url, timeout=60) as answer:
        answer.read()
        assert answer.status == 200
    return time.perf_counter() - start


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("--serve", required=True)
    parser.add_argument("--tiles", required=True)
    parser.add_argument("--boxes", default=os.path.join(here, "boxes.txt"))
    parser.add_argument("--rounds", type=int, default=15)
    args = parser.parse_args()

    server = subprocess.Popen([args.serve, "--tiles", args.tiles, "--port", "0"], stdout=subprocess.PIPE, text=True)
    try:
        found = re.search(r"listening on (http://[0-9.]+:\d+)/", server.stdout.readline())
        if not found:
            raise SystemExit("mercator_cost: zarvo-serve did not start")
        base = found.group(1) + "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&STYLES=&FORMAT=image/png" \
                                f"&WIDTH={SIZE}&HEIGHT={SIZE}"
        print("| box | layer | EPSG:4326 ms | EPSG:3857 ms | 3857/4326 |")
        print("|---|---|---:|---:|---:|")
        totals = {"3857": 0.0, "4326": 0.0}
        for layer, west, south, east, north in read_boxes(args.boxes):
            (x0, y0), (x1, y1) = mercator(west, south), mercator(east, north)
            urls = {"3857": f"{base}&LAYERS={layer}&CRS=EPSG:3857&BBOX={x0!r},{y0!r},{x1!r},{y1!r}",
                    "4326": f"{base}&LAYERS={layer}&CRS=CRS:84&BBOX={west!r},{south!r},{east!r},{north!r}"}
            for url in urls.values():
                timed_get(url)  # the tiles into the cache
            times = {"3857": [], "4326": []}
            for _ in range(args.rounds):
                for grid in ("3857", "4326"):
                    times[grid].append(timed_get(urls[grid]))
            medians = {grid: statistics.median(values) for grid, values in times.items()}
            for grid in totals:
                totals[grid] += medians[grid]
            print("| %g,%g,%g,%g | %s | %.1f | %.1f | %.2f |" % (
                west, south, east, north, layer, medians["4326"] * 1000, medians["3857"] * 1000,
                medians["3857"] / medians["4326"]))
        print("\nAll boxes: EPSG:3857 costs %.2f times the EPSG:4326 GetMap of the same area (sum of medians)."
              % (totals["3857"] / totals["4326"]))
    finally:
        server.terminate()
        server.wait(timeout=30)


if __name__ == "__main__":
    main()
