#!/usr/bin/python3
"""What an EPSG:3857 GetMap costs beside the EPSG:4326 GetMap of the same
area, and how faithful each is to the tiles.

Cost: for each box of boxes.txt, 512 x 512 PNG GetMaps in both grids from
one zarvo-serve, taken in turns (3857, 4326, 3857, ...) so that both see the
same machine, with the tiles already in its cache. Prints the median time of
each and their ratio per box, the ratio of the totals, and the ratio of the
processor time the server spent on each kind (its user and system time,
which counts every thread, read before and after each answer).

Faithfulness (with --faithfulness): each box's two images against GDAL's
bilinear warp (gdalwarp -r bilinear) of the tiles they were drawn from (the
zoom of X-Zarvo-Zoom) onto the image's own grid, as mean absolute difference
over the bands (0 to 255): "tiles" with each tile pixel's value at its
centre, as GIS tools place it and zarvo-serve asks the plug-in to; "corner"
at its north-west corner, where the plug-in's own positions put it.

Instructions (with --instructions): the same GetMaps, once each, from a
zarvo-serve run under valgrind's callgrind, its counters zeroed before and
dumped after each grid's answers (tiles cached): the instructions each grid
costs the server and their ratio, a measure the machine's load does not
sway.

Usage: mercator_cost.py --serve build/zarvo-serve --tiles build/world-tiles
                        [--boxes bench/server/boxes.txt] [--rounds 15] [--faithfulness]
                        [--instructions]
"""
import argparse
import math
import os
import re
import statistics
import subprocess
import tempfile
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


def faithfulness(url, layer, tiles, epsg, box):
    """Mean absolute differences of one GetMap from the centre-placed and
    the corner-placed warp of its tiles."""
    import numpy as np
    from osgeo import gdal, osr
    gdal.UseExceptions()
    with urllib.request.urlopen(url, timeout=60) as answer:
        level = int(answer.headers["X-Zarvo-Zoom"]) - 1
        gdal.FileFromMemBuffer("/vsimem/served.png", answer.read())
    served = gdal.Open("/vsimem/served.png").ReadAsArray().astype(np.int16)
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(epsg)
    srs.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    differences = []
    for shift in (0.0, HALF_WORLD / (256 * 2 ** level)):
        extension = "jpeg" if layer == "aerial" else "png"
        gdal.FileFromMemBuffer("/vsimem/tms.xml", f"""<GDAL_WMS><Service name="TMS">
<ServerUrl>file://{os.path.abspath(tiles)}/{layer}/${{z}}/${{x}}/${{y}}.{extension}</ServerUrl></Service><DataWindow>
<UpperLeftX>{-HALF_WORLD - shift!r}</UpperLeftX><UpperLeftY>{HALF_WORLD + shift!r}</UpperLeftY>
<LowerRightX>{HALF_WORLD - shift!r}</LowerRightX><LowerRightY>{-HALF_WORLD + shift!r}</LowerRightY>
<TileLevel>{level}</TileLevel><TileCountX>1</TileCountX><TileCountY>1</TileCountY><YOrigin>bottom</YOrigin>
</DataWindow><Projection>EPSG:3857</Projection><BlockSizeX>256</BlockSizeX><BlockSizeY>256</BlockSizeY>
<BandsCount>3</BandsCount></GDAL_WMS>""")
        grid = gdal.GetDriverByName("MEM").Create("", SIZE, SIZE, 3, gdal.GDT_Byte)
        grid.SetGeoTransform((box[0], (box[2] - box[0]) / SIZE, 0, box[3], 0, -(box[3] - box[1]) / SIZE))
        grid.SetProjection(srs.ExportToWkt())
        gdal.Warp(grid, gdal.Open("/vsimem/tms.xml"), resampleAlg="bilinear", overviewLevel="NONE")
        differences.append(float(np.mean(np.abs(served - grid.ReadAsArray().astype(np.int16)))))
    return differences


def processor_seconds(pid):
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def timed_get(url):
    start = time.perf_counter()
    with urllib.request.urlopen(url, timeout=60) as answer:
        answer.read()
        assert answer.status == 200
    return time.perf_counter() - start


def grid_urls(base, boxes):
    """The GetMap of each box in both grids."""
    urls = {"3857": [], "4326": []}
    for layer, west, south, east, north in read_boxes(boxes):
        (x0, y0), (x1, y1) = mercator(west, south), mercator(east, north)
        urls["3857"].append(f"{base}&LAYERS={layer}&CRS=EPSG:3857&BBOX={x0!r},{y0!r},{x1!r},{y1!r}")
        urls["4326"].append(f"{base}&LAYERS={layer}&CRS=CRS:84&BBOX={west!r},{south!r},{east!r},{north!r}")
    return urls


def instructions(args):
    """Instructions the server executes for each grid's GetMaps, counted by callgrind."""
    with tempfile.TemporaryDirectory() as directory:
        out = os.path.join(directory, "callgrind.out")
        server = subprocess.Popen(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out, args.serve,
                                   "--tiles", args.tiles, "--port", "0", "--access-log", "off"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            found = re.search(r"listening on (http://[0-9.]+:\d+)/", server.stdout.readline())
            if not found:
                raise SystemExit("mercator_cost: zarvo-serve did not start under valgrind")
            urls = grid_urls(found.group(1) + "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&STYLES="
                             f"&FORMAT=image/png&WIDTH={SIZE}&HEIGHT={SIZE}", args.boxes)
            for url in urls["3857"] + urls["4326"]:
                timed_get(url)  # the tiles into the cache
            counts = {}
            for part, grid in enumerate(("3857", "4326"), start=1):
                subprocess.run(["callgrind_control", "--zero", str(server.pid)], check=True,
                               stdout=subprocess.DEVNULL)
                for url in urls[grid]:
                    timed_get(url)
                subprocess.run(["callgrind_control", "--dump=" + grid, str(server.pid)], check=True,
                               stdout=subprocess.DEVNULL)
                for line in open("%s.%d" % (out, part)):
                    if line.startswith("summary:"):
                        counts[grid] = int(line.split()[1])
        finally:
            server.terminate()
            server.wait(timeout=120)
    print("Instructions of the server (callgrind, each box once): EPSG:3857 %d, EPSG:4326 %d, ratio %.2f."
          % (counts["3857"], counts["4326"], counts["3857"] / counts["4326"]))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("--serve", required=True)
    parser.add_argument("--tiles", required=True)
    parser.add_argument("--boxes", default=os.path.join(here, "boxes.txt"))
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--faithfulness", action="store_true")
    parser.add_argument("--instructions", action="store_true")
    args = parser.parse_args()
    if args.instructions:
        instructions(args)
        return

    # No access log: its lines would fill the pipe, which is read for the
    # first line only, and stop the server.
    server = subprocess.Popen([args.serve, "--tiles", args.tiles, "--port", "0", "--access-log", "off"],
                              stdout=subprocess.PIPE, text=True)
    try:
        found = re.search(r"listening on (http://[0-9.]+:\d+)/", server.stdout.readline())
        if not found:
            raise SystemExit("mercator_cost: zarvo-serve did not start")
        base = found.group(1) + "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&STYLES=&FORMAT=image/png" \
                                f"&WIDTH={SIZE}&HEIGHT={SIZE}"
        if args.faithfulness:
            print("| box | layer | EPSG:4326 tiles | EPSG:3857 tiles | EPSG:4326 corner | EPSG:3857 corner |")
            print("|---|---|---:|---:|---:|---:|")
            sums = [0.0] * 4
            count = 0
            for layer, west, south, east, north in read_boxes(args.boxes):
                (x0, y0), (x1, y1) = mercator(west, south), mercator(east, north)
                geographic = faithfulness(f"{base}&LAYERS={layer}&CRS=CRS:84&BBOX={west!r},{south!r},{east!r},{north!r}",
                                          layer, args.tiles, 4326, (west, south, east, north))
                projected = faithfulness(f"{base}&LAYERS={layer}&CRS=EPSG:3857&BBOX={x0!r},{y0!r},{x1!r},{y1!r}",
                                         layer, args.tiles, 3857, (x0, y0, x1, y1))
                row = [geographic[0], projected[0], geographic[1], projected[1]]
                sums = [a + b for a, b in zip(sums, row)]
                count += 1
                print("| %g,%g,%g,%g | %s | %s |" % (west, south, east, north, layer,
                                                    " | ".join("%.2f" % v for v in row)))
            print("| all boxes | | %s |\n" % " | ".join("%.2f" % (v / count) for v in sums))
        print("| box | layer | EPSG:4326 ms | EPSG:3857 ms | 3857/4326 |")
        print("|---|---|---:|---:|---:|")
        totals = {"3857": 0.0, "4326": 0.0}
        processor = {"3857": 0.0, "4326": 0.0}
        for layer, west, south, east, north in read_boxes(args.boxes):
            (x0, y0), (x1, y1) = mercator(west, south), mercator(east, north)
            urls = {"3857": f"{base}&LAYERS={layer}&CRS=EPSG:3857&BBOX={x0!r},{y0!r},{x1!r},{y1!r}",
                    "4326": f"{base}&LAYERS={layer}&CRS=CRS:84&BBOX={west!r},{south!r},{east!r},{north!r}"}
            for url in urls.values():
                timed_get(url)  # the tiles into the cache
            times = {"3857": [], "4326": []}
            for _ in range(args.rounds):
                for grid in ("3857", "4326"):
                    before = processor_seconds(server.pid)
                    times[grid].append(timed_get(urls[grid]))
                    processor[grid] += processor_seconds(server.pid) - before
            medians = {grid: statistics.median(values) for grid, values in times.items()}
            for grid in totals:
                totals[grid] += medians[grid]
            print("| %g,%g,%g,%g | %s | %.1f | %.1f | %.2f |" % (
                west, south, east, north, layer, medians["4326"] * 1000, medians["3857"] * 1000,
                medians["3857"] / medians["4326"]))
        print("\nAll boxes: EPSG:3857 costs %.2f times the EPSG:4326 GetMap of the same area (sum of medians)."
              % (totals["3857"] / totals["4326"]))
        print("Processor time of the server: EPSG:3857 takes %.2f times that of EPSG:4326 (all answers)."
              % (processor["3857"] / processor["4326"]))
    finally:
        server.terminate()
        server.wait(timeout=30)


if __name__ == "__main__":
    main()
