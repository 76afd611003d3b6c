#!/usr/bin/python3
"""zarvo-render's tile pyramids against GDAL's tile generator and MapProxy's
seeder, side by side in one run.

Usage: pyramid_vs_peers.py [--build DIR] [--layer map] [--levels 0-5]
           [--tile-matrix-set WorldCRS84Quad|WebMercatorQuad] [--bbox W,S,E,N]
           [--sample TILES] [--keep DIR]

Serves the world tile set (DIR/world-tiles, default build/) on 127.0.0.1
(scripts/serve_tiles.py), then makes the same pyramid (layer, levels, tile
matrix set, area, 256 x 256 PNG tiles) three times from it, one program
after the other:

  zarvo-render   into a GeoPackage, over HTTP from the server;
  gdal2tiles.py  Debian's, --processes=2 --xyz, --profile=mercator or
                 geodetic (with --tmscompatible: two tiles at level 0),
                 bilinear, reading the server through a GDAL WMS
                 description of type TMS (bench/server/tms_layer.xml.in);
  mapproxy-seed  Debian's, -c 2, with the peers' MapProxy configuration
                 (/work/shared/peers/mapproxy.yaml, or PEERS_DIR), its tile
                 sources pointed at the server, and a GeoPackage cache in
                 the target grid over the layer's cache.

Each runs under /usr/bin/time -v: wall time, CPU time (user and system, its
processes included), the largest resident set of any one of its processes,
and, sampled every 0.2 s, the largest sum over all its processes at once.
Then it compares a sample of the tiles that all three wrote: both tiles
decoded, the mean absolute difference per channel (0 to 255) over the
pixels both cover. Prints a Markdown table with the ratios to zarvo-render.

Installs nothing: it names what is missing and stops.
"""
import argparse
import io
import os
import random
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

import numpy
import yaml
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PEERS = os.environ.get("PEERS_DIR", "/work/shared/peers")
SERVICE_PATH = "/geowebcache/service/tms1.0.0"  # where scripts/serve_tiles.py serves the tile set
EDGE = 85.0511287798066
TOOLS = {"/usr/bin/gdal2tiles.py": "gdal-bin", "/usr/bin/mapproxy-seed": "mapproxy", "/usr/bin/time": "time"}


def fail(message):
    sys.exit("pyramid_vs_peers: " + message)


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--layer", default="map", choices=["map", "hybrid"], help="a PNG layer")
    parser.add_argument("--levels", default="0-5")
    parser.add_argument("--tile-matrix-set", default="WorldCRS84Quad", choices=["WorldCRS84Quad", "WebMercatorQuad"])
    parser.add_argument("--bbox", help="W,S,E,N in degrees (default: the whole set)")
    parser.add_argument("--sample", type=int, default=300, help="tiles compared")
    parser.add_argument("--keep", help="copy the three pyramids here")
    args = parser.parse_args()
    match = re.fullmatch(r"(\d{1,2})-(\d{1,2})", args.levels)
    if not match or int(match[1]) > int(match[2]):
        fail(f"--levels must be A-B with A <= B, not '{args.levels}'")
    args.first, args.last = int(match[1]), int(match[2])
    if args.bbox:
        try:
            args.box = [float(v) for v in args.bbox.split(",")]
        except ValueError:
            args.box = []
        if len(args.box) != 4 or not (args.box[0] < args.box[2] and args.box[1] < args.box[3]):
            fail(f"--bbox must be W,S,E,N with W < E and S < N, not '{args.bbox}'")
    else:
        args.box = None
    return args


# --- measuring


def _process_tree_rss_kb(root):
    """The resident memory of `root` and all its descendants, in kB."""
    children, rss = {}, {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
            fields = stat[stat.rindex(")") + 2:].split()
            children.setdefault(int(fields[1]), []).append(int(entry))
            rss[int(entry)] = int(fields[21]) * os.sysconf("SC_PAGE_SIZE") // 1024
        except (OSError, ValueError, IndexError):
            continue
    total, todo = 0, [root]
    while todo:
        pid = todo.pop()
        total += rss.get(pid, 0)
        todo.extend(children.get(pid, []))
    return total


def timed(name, command, scratch, **options):
    """Runs one command under /usr/bin/time -v; its figures as a dict."""
    report = os.path.join(scratch, name + ".time")
    log = os.path.join(scratch, name + ".log")
    peak = [0]
    with open(log, "w") as out:
        process = subprocess.Popen(["/usr/bin/time", "-v", "-o", report, *command], stdout=out,
                                   stderr=subprocess.STDOUT, **options)
        done = threading.Event()

        def sample():
            while not done.wait(0.2):
                peak[0] = max(peak[0], _process_tree_rss_kb(process.pid))

        sampler = threading.Thread(target=sample, daemon=True)
        sampler.start()
        process.wait()
        done.set()
        sampler.join()
    with open(report) as f:
        text = f.read()
    if process.returncode != 0:
        with open(log) as f:
            fail(f"{name} failed ({process.returncode}): {' | '.join(f.read().strip().splitlines()[-5:])}")

    def field(label):
        return re.search(re.escape(label) + r": (.*)", text)[1].strip()

    wall = 0.0
    for part in field("Elapsed (wall clock) time (h:mm:ss or m:ss)").split(":"):
        wall = wall * 60 + float(part)
    return {"wall": wall, "cpu": float(field("User time (seconds)")) + float(field("System time (seconds)")),
            "largest_mb": int(field("Maximum resident set size (kbytes)")) / 1024, "all_mb": peak[0] / 1024}


# --- the three programs


def zarvo_render(args, base, scratch):
    out = os.path.join(scratch, "zarvo.gpkg")
    command = [os.path.join(args.build, "zarvo-render"), "--layer", args.layer, "--levels", args.levels,
               "--tile-matrix-set", args.tile_matrix_set, "--tile-format", "png", "--tiles", base, "--out", out]
    if args.box:
        command += ["--bbox", ",".join(str(v) for v in args.box)]
    return command, out


def gdal_tiles(args, base, scratch):
    with open(os.path.join(HERE, "server", "tms_layer.xml.in")) as f:
        description = f.read()
    max_zoom = deepest_zoom(args)
    description = description.replace("file://@TILES@", base + SERVICE_PATH)
    for key, value in {"LAYER": args.layer, "EXT": "png", "MAX_ZOOM": str(max_zoom)}.items():
        description = description.replace(f"@{key}@", value)
    source = os.path.join(scratch, "source.xml")
    with open(source, "w") as f:
        f.write(description)
    if args.box:
        # The area as a window of the source, in its spherical Mercator.
        from osgeo import gdal, osr
        gdal.UseExceptions()
        wgs84, mercator = osr.SpatialReference(), osr.SpatialReference()
        wgs84.ImportFromEPSG(4326)
        wgs84.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
        mercator.ImportFromEPSG(3857)
        to_mercator = osr.CoordinateTransformation(wgs84, mercator)
        west, south, east, north = args.box
        x0, y1, _ = to_mercator.TransformPoint(west, min(north, EDGE))
        x1, y0, _ = to_mercator.TransformPoint(east, max(south, -EDGE))
        window = os.path.join(scratch, "window.vrt")
        gdal.Translate(window, source, format="VRT", projWin=[x0, y1, x1, y0])
        source = window
    out = os.path.join(scratch, "gdal2tiles")
    profile = ["--profile=geodetic", "--tmscompatible"] if args.tile_matrix_set == "WorldCRS84Quad" else [
        "--profile=mercator"]
    command = ["/usr/bin/python3", "/usr/bin/gdal2tiles.py", "--processes=2", "--xyz", *profile, "-z", args.levels,
               "-r", "bilinear", "-w", "none", "--tiledriver=PNG", source, out]
    return command, out


def mapproxy_seed(args, base, scratch):
    folder = os.path.join(scratch, "mapproxy")
    os.makedirs(folder)
    with open(os.path.join(PEERS, "mapproxy.yaml")) as f:
        configuration = yaml.safe_load(f)
    for source in configuration["sources"].values():
        source["url"] = source["url"].replace("file://TILES_DIR", base + SERVICE_PATH)
    text = yaml.safe_dump(configuration).replace("CACHE_DIR", folder)
    configuration = yaml.safe_load(text)
    if args.tile_matrix_set == "WorldCRS84Quad":
        grid = {"srs": "EPSG:4326", "bbox": [-180, -90, 180, 90], "origin": "nw", "tile_size": [256, 256],
                "res_factor": 2, "min_res": 360 / 512}
    else:
        grid = {"base": "GLOBAL_WEBMERCATOR", "origin": "nw"}
    configuration["grids"]["pyramid_grid"] = grid
    out = os.path.join(folder, "pyramid.gpkg")
    # MapProxy takes a tile source only in the source's own grid, so the
    # pyramid is seeded over the layer's cache, which reads the source.
    configuration["caches"]["pyramid"] = {
        "grids": ["pyramid_grid"], "sources": [args.layer + "_cache"], "format": "image/png",
        "request_format": "image/png", "cache": {"type": "geopackage", "filename": out, "table_name": "tiles"}}
    seed = {"caches": ["pyramid"], "grids": ["pyramid_grid"], "levels": {"from": args.first, "to": args.last}}
    seeding = {"seeds": {"pyramid": seed}}
    if args.box:
        seeding["coverages"] = {"area": {"bbox": args.box, "srs": "EPSG:4326"}}
        seed["coverages"] = ["area"]
    with open(os.path.join(folder, "mapproxy.yaml"), "w") as f:
        yaml.safe_dump(configuration, f)
    with open(os.path.join(folder, "seed.yaml"), "w") as f:
        yaml.safe_dump(seeding, f)
    command = ["/usr/bin/mapproxy-seed", "-f", os.path.join(folder, "mapproxy.yaml"), "-s",
               os.path.join(folder, "seed.yaml"), "-c", "2", "--seed=pyramid"]
    return command, out


def deepest_zoom(args):
    folder = os.path.join(args.build, "world-tiles", args.layer)
    return max(int(name) for name in os.listdir(folder) if name.isdigit())


# --- reading the pyramids back: tiles by (level, column, row from the north)


def geopackage_tiles(path):
    database = sqlite3.connect(f"file:{path}?mode=ro", uri=True)
    (table,) = database.execute("SELECT table_name FROM gpkg_contents WHERE data_type = 'tiles'").fetchone()
    keys = {tuple(k) for k in database.execute(f'SELECT zoom_level, tile_column, tile_row FROM "{table}"')}

    def read(key):
        return database.execute(f'SELECT tile_data FROM "{table}" WHERE zoom_level = ? AND tile_column = ? AND '
                                'tile_row = ?', key).fetchone()[0]

    return keys, read


def directory_tiles(folder):
    keys = set()
    for level in os.listdir(folder):
        if not level.isdigit():
            continue
        for column in os.listdir(os.path.join(folder, level)):
            for name in os.listdir(os.path.join(folder, level, column)):
                if name.endswith(".png"):
                    keys.add((int(level), int(column), int(name[:-4])))

    def read(key):
        with open(os.path.join(folder, *(str(k) for k in key[:2]), f"{key[2]}.png"), "rb") as f:
            return f.read()

    return keys, read


def rgba(data):
    return numpy.asarray(Image.open(io.BytesIO(data)).convert("RGBA"), dtype=numpy.int32)


def mean_difference(keys, ours, theirs):
    """Mean absolute difference per channel over the pixels both cover."""
    total, count = 0, 0
    for key in keys:
        a, b = rgba(ours(key)), rgba(theirs(key))
        both = (a[:, :, 3] == 255) & (b[:, :, 3] == 255)
        total += int(numpy.abs(a[:, :, :3] - b[:, :, :3])[both].sum())
        count += int(both.sum()) * 3
    return total / count if count else float("nan")


# --- the run


def main():
    args = parse_arguments()
    missing = [package for tool, package in TOOLS.items() if not os.path.exists(tool)]
    if missing:
        fail("missing Debian packages: " + " ".join(missing))
    for path in (os.path.join(args.build, "zarvo-render"), os.path.join(args.build, "world-tiles", args.layer),
                 os.path.join(PEERS, "mapproxy.yaml")):
        if not os.path.exists(path):
            fail(f"{path} is missing")
    if args.last > deepest_zoom(args):
        fail(f"--levels goes beyond the tile set's deepest level, {deepest_zoom(args)}")

    server = subprocess.Popen([sys.executable, os.path.join(ROOT, "scripts", "serve_tiles.py"),
                               os.path.join(args.build, "world-tiles")], stdout=subprocess.PIPE, text=True)
    try:
        base = f"http://127.0.0.1:{int(server.stdout.readline())}"
        with tempfile.TemporaryDirectory(prefix="zarvo-pyramid-bench-") as scratch:
            runs = {}
            for name, make in (("zarvo-render", zarvo_render), ("gdal2tiles", gdal_tiles),
                               ("mapproxy-seed", mapproxy_seed)):
                command, out = make(args, base, scratch)
                print(f"== {name}: {' '.join(command)}", flush=True)
                runs[name] = timed(name, command, scratch)
                runs[name]["tiles"] = (directory_tiles if os.path.isdir(out) else geopackage_tiles)(out)
                print(f"   {runs[name]['wall']:.1f} s", flush=True)
            report(args, runs)
            if args.keep:
                for entry in ("zarvo.gpkg", "gdal2tiles", "mapproxy/pyramid.gpkg"):
                    source = os.path.join(scratch, entry)
                    target = os.path.join(args.keep, entry.replace("/", "-"))
                    (shutil.copytree if os.path.isdir(source) else shutil.copy)(source, target)
    finally:
        server.terminate()
        server.wait()


def report(args, runs):
    ours_keys, ours = runs["zarvo-render"]["tiles"]
    common = set(ours_keys)
    for run in runs.values():
        common &= run["tiles"][0]
    sample = sorted(random.Random(1).sample(sorted(common), min(args.sample, len(common))))
    area = args.bbox or "the whole set"
    print(f"\n{args.layer} layer, levels {args.levels} of {args.tile_matrix_set}, {area}, 256 x 256 PNG; "
          f"{os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f} at the end\n")
    print("| program | tiles | wall s | CPU s | tiles/s | peak MB, largest process | peak MB, all processes "
          "| time / zarvo-render | memory / zarvo-render | mean difference |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    mine = runs["zarvo-render"]
    for name, run in runs.items():
        keys, read = run["tiles"]
        difference = "" if name == "zarvo-render" else f"{mean_difference(sample, ours, read):.2f}"
        ratios = ("", "") if name == "zarvo-render" else (f"{run['wall'] / mine['wall']:.1f}",
                                                          f"{run['all_mb'] / mine['all_mb']:.1f}")
        print(f"| {name} | {len(keys)} | {run['wall']:.1f} | {run['cpu']:.1f} | {len(keys) / run['wall']:.1f} "
              f"| {run['largest_mb']:.0f} | {run['all_mb']:.0f} | {ratios[0]} | {ratios[1]} | {difference} |")
    print(f"\nmean difference: over {len(sample)} tiles that all three wrote, against zarvo-render's")


if __name__ == "__main__":
    main()
