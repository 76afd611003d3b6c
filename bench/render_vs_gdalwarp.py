#!/usr/bin/python3
"""zarvo-render against gdalwarp on one large raster, side by side.

Usage: render_vs_gdalwarp.py ZARVO_RENDER [WIDTH HEIGHT [ROUNDS]]. Starts the
synthetic tile server (tests/render/synthetic_tile_server.py, any zoom),
then renders the world between the Mercator edges, WIDTH x HEIGHT pixels
(default 40000 x 20000) at the zoom zarvo-serve's rule picks, with
zarvo-render (--max-memory 1024) and with gdalwarp (its WMS driver reading
the same server as a TMS tile set, bilinear), alternating, ROUNDS times each
(default 1). Prints each program's wall time and peak memory, the ratio,
zarvo-render's megapixels per second, and the mean absolute difference of
the two rasters over the pixels both drew.
"""
import os
import subprocess
import sys
import tempfile

import numpy
from osgeo import gdal

gdal.UseExceptions()
HERE = os.path.dirname(os.path.abspath(__file__))
EDGE = 85.0511287798066
sys.dont_write_bytecode = True  # no cache files in the source tree
sys.path.insert(0, os.path.join(HERE, "..", "tests", "render"))
from peer_cross_check import HALF_WORLD, TMS_DESCRIPTION  # noqa: E402  the same GDAL view of a TMS tile set


def timed(command, scratch):
    """Wall seconds, peak RSS in MB and CPU seconds of one run, by GNU time."""
    report = os.path.join(scratch, "time.txt")
    subprocess.run(["/usr/bin/time", "-f", "%e %M %U %S", "-o", report, *command], check=True,
                   stdout=subprocess.DEVNULL)
    with open(report) as f:
        wall, rss, user, system = f.read().split()[-4:]
    return float(wall), int(rss) / 1024, float(user) + float(system)


def mean_difference(ours, theirs, height, width):
    a, b = gdal.Open(ours), gdal.Open(theirs)
    total, count = 0.0, 0
    for row in range(0, height, 512):
        rows = min(512, height - row)
        mine = a.ReadAsArray(0, row, width, rows).astype(numpy.int32)
        peer = b.ReadAsArray(0, row, width, rows)[:3].astype(numpy.int32)
        drawn = mine[3] == 255
        total += float(numpy.abs(mine[:3] - peer)[:, drawn].sum())
        count += int(drawn.sum()) * 3
    return total / max(count, 1)


def main():
    program = sys.argv[1]
    width, height = (int(sys.argv[2]), int(sys.argv[3])) if len(sys.argv) > 3 else (40000, 20000)
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 1
    server = subprocess.Popen([sys.executable, os.path.join(HERE, "..", "tests", "render", "synthetic_tile_server.py")],
                              stdout=subprocess.PIPE, text=True)
    try:
        port = int(server.stdout.readline())
        with tempfile.TemporaryDirectory(dir=os.environ.get("TMPDIR", "/tmp")) as scratch:
            ours, theirs = os.path.join(scratch, "ours.tif"), os.path.join(scratch, "gdalwarp.tif")
            box = ["-180", str(-EDGE), "180", str(EDGE)]
            # The zoom zarvo-render picks (--zoom auto), read off its summary line.
            probe = subprocess.run([program, "--layer", "map", "--zoom", "auto", "-te", *box, "-ts", str(width),
                                    str(height), "--tiles", f"http://127.0.0.1:{port}/{{z}}/{{x}}/{{-y}}.png",
                                    "--chunk", f"{height}/{height}", "--overwrite", "--out",
                                    os.path.join(scratch, "probe.tif")], check=True, capture_output=True, text=True)
            zoom = int(probe.stdout.split("zoom ")[1].split(",")[0])
            description = os.path.join(scratch, "tiles.xml")
            with open(description, "w") as f:
                f.write(TMS_DESCRIPTION.format(url=f"http://127.0.0.1:{port}", half=HALF_WORLD, level=zoom - 1))
            zarvo = [program, "-q", "--overwrite", "--max-memory", "1024", "--layer", "map", "--zoom", str(zoom), "-te",
                     *box, "-ts", str(width), str(height), "--tiles",
                     f"http://127.0.0.1:{port}/{{z}}/{{x}}/{{-y}}.png", "--out", ours]
            warp = ["gdalwarp", "-q", "-overwrite", "-t_srs", "EPSG:4326", "-te", *box, "-ts", str(width), str(height),
                    "-r", "bilinear", "-ovr", "NONE", "-multi", "-wo", "NUM_THREADS=2", "-wm", "256", "-co", "TILED=YES", "-co",
                    "COMPRESS=DEFLATE", "-co", "PREDICTOR=2", "-co", "BIGTIFF=IF_SAFER", description, theirs]
            results = {"zarvo-render": [], "gdalwarp": []}
            for _ in range(rounds):
                results["zarvo-render"].append(timed(zarvo, scratch))
                results["gdalwarp"].append(timed(warp, scratch))
            megapixels = width * height / 1e6
            for name, runs in results.items():
                best = min(runs)
                print(f"{name:13} {width} x {height} at zoom {zoom}: {best[0]:.1f} s wall, {best[2]:.1f} s CPU, "
                      f"{megapixels / best[0]:.2f} MP/s, peak RSS {best[1]:.0f} MB")
            ratio = min(results["gdalwarp"])[0] / min(results["zarvo-render"])[0]
            print(f"gdalwarp / zarvo-render wall time: {ratio:.2f}")
            print(f"mean absolute difference: {mean_difference(ours, theirs, height, width):.3f} levels")
    finally:
        server.terminate()
        server.wait()


if __name__ == "__main__":
    main()
