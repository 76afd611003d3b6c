#!/usr/bin/python3
"""zarvo-render's tile pyramids against GDAL's tile generator and MapProxy's
seeder, side by side in one run.

Usage: pyramid_vs_peers.py [--build DIR] [--layers map,aerial,hybrid]
           [--levels 0-5] [--tile-matrix-set WebMercatorQuad|WorldCRS84Quad]
           [--bbox=W,S,E,N] [--sample TILES] [--max-memory MB] [--keep DIR]
           [--peers DIR]

Serves the world tile set (DIR/world-tiles, default build/) on 127.0.0.1
with Debian's nginx (one worker, at the tile service's own paths), then
makes the same pyramids from it (one for each layer; the levels, the tile
matrix set, the area, 256 x 256 PNG tiles) with each program in turn:

  zarvo-render   into GeoPackages, over HTTP from the server, one run a
                 layer;
  gdal2tiles.py  Debian's, --processes=2 --xyz, --profile=mercator or
                 geodetic (with --tmscompatible: two tiles at level 0),
                 bilinear, reading the server through a GDAL WMS
                 description of type TMS (bench/server/tms_layer.xml.in),
                 one run a layer;
  mapproxy-seed  Debian's, -c 2, with the peers' MapProxy configuration
                 (--peers DIR: shared/peers/mapproxy.yaml beside the
                 checkout or above it), its tile sources pointed at the
                 server, and a GeoPackage cache in the target grid over
                 each layer's cache; one run seeds every layer.

Each run is timed by /usr/bin/time -v: wall time, CPU time (user and system,
its processes included), the largest resident set of any one of its
processes, and, sampled every 0.2 s, the largest sum over all its processes
at once; a program's figures are the sums (times) and maxima (memory) of its
runs. Then it compares a sample of the tiles that all three wrote: both
decoded, the mean absolute difference per channel (0 to 255) over the
pixels both cover within the tiled world's latitudes. Prints a Markdown
table with the ratios to zarvo-render, and the server's CPU time in each
program's runs.

The levels must be drawn from zooms the tile set holds: WebMercatorQuad's
level L from zoom L, WorldCRS84Quad's from zoom L + 1 (0 to 5 and 0 to 4 for
the world tile set). Installs nothing: it names what is missing and stops.
"""
import argparse
import io
import os
import random
import re
import shutil
import socket
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


def peers_folder():
    """shared/peers beside this checkout or a folder above it: the peers'
    configurations."""
    folder = ROOT
    while True:
        candidate = os.path.join(folder, "shared", "peers")
        if os.path.exists(os.path.join(candidate, "mapproxy.yaml")) or os.path.dirname(folder) == folder:
            return candidate
        folder = os.path.dirname(folder)


SERVICE_PATH = "/geowebcache/service/tms1.0.0"  # the path of the tile service's own addresses
EDGE = 85.0511287798066
EXTENSIONS = {"map": "png", "aerial": "jpeg", "hybrid": "png"}  # the tile set's, by layer
NGINX = "/usr/sbin/nginx"
TOOLS = {"/usr/bin/gdal2tiles.py": "gdal-bin", "/usr/bin/mapproxy-seed": "mapproxy", "/usr/bin/time": "time",
         NGINX: "nginx"}
PAGE_SIZE = os.sysconf("SC_PAGE_SIZE")
TICKS = os.sysconf("SC_CLK_TCK")


def fail(message):
    sys.exit("pyramid_vs_peers: " + message)


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--layers", default="map,aerial,hybrid", help="one pyramid of each, comma-separated")
    parser.add_argument("--levels", default="0-5")
    parser.add_argument("--tile-matrix-set", default="WebMercatorQuad", choices=["WebMercatorQuad", "WorldCRS84Quad"])
    parser.add_argument("--bbox", help="W,S,E,N in degrees (default: the whole set)")
    parser.add_argument("--sample", type=int, default=300, help="tiles compared")
    parser.add_argument("--max-memory", type=int, help="zarvo-render's --max-memory in MB (default: its own)")
    parser.add_argument("--keep", help="copy the three pyramids here")
    parser.add_argument("--peers", default=peers_folder(), help="the folder of the peers' mapproxy.yaml")
    args = parser.parse_args()
    match = re.fullmatch(r"(\d{1,2})-(\d{1,2})", args.levels)
    if not match or int(match[1]) > int(match[2]):
        fail(f"--levels must be A-B with A <= B, not '{args.levels}'")
    args.first, args.last = int(match[1]), int(match[2])
    args.layers = args.layers.split(",")
    if not args.layers or any(layer not in EXTENSIONS for layer in args.layers):
        fail(f"--layers takes some of {', '.join(EXTENSIONS)}, not '{','.join(args.layers)}'")
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


# --- the source: the tile set served by nginx


class TileServer:
    """Debian's nginx, one worker, serving the tile set on 127.0.0.1 at
    SERVICE_PATH, as long as the block lasts."""

    def __init__(self, tiles, scratch):
        self.tiles, self.scratch = tiles, scratch

    def __enter__(self):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        directives = ["user root" if os.geteuid() == 0 else "", "daemon off", "worker_processes 1",
                      f"pid {self.scratch}/nginx.pid", f"error_log {self.scratch}/nginx.log warn"]
        web = ["access_log off", "sendfile on", *(f"{name}_temp_path {self.scratch}/{name}" for name in
                                                  ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))]
        configuration = os.path.join(self.scratch, "nginx.conf")
        with open(configuration, "w") as f:
            f.write("".join(d + ";\n" for d in directives if d) + "events { worker_connections 256; }\nhttp {\n" +
                    "".join(f"    {d};\n" for d in web) + "    types { image/png png; image/jpeg jpeg; }\n" +
                    f"    server {{ listen 127.0.0.1:{port}; location {SERVICE_PATH}/ {{ alias {self.tiles}/; }} }}\n}}\n")
        self.process = subprocess.Popen([NGINX, "-p", self.scratch, "-c", configuration, "-e",
                                         self.scratch + "/nginx.log"], stderr=subprocess.PIPE)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                self.base = f"http://127.0.0.1:{port}"
                return self
            except OSError:
                if self.process.poll() is not None:
                    fail("nginx did not start: " + self.process.stderr.read().decode())
                time.sleep(0.05)
        self.process.kill()
        fail("nginx did not start listening")

    def __exit__(self, *exc):
        self.process.terminate()  # nginx's fast shutdown
        try:
            self.process.wait(timeout=20)
        finally:
            if self.process.poll() is None:
                self.process.kill()

    def cpu_seconds(self):
        return _process_tree(self.process.pid, _cpu_seconds)


# --- measuring


def _process_tree(root, measure):
    """The sum of measure(fields of /proc/PID/stat after the name) over
    `root` and all its descendants."""
    children, values = {}, {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
            fields = stat[stat.rindex(")") + 2:].split()
            children.setdefault(int(fields[1]), []).append(int(entry))
            values[int(entry)] = measure(fields)
        except (OSError, ValueError, IndexError):
            continue
    total, todo = 0, [root]
    while todo:
        pid = todo.pop()
        total += values.get(pid, 0)
        todo.extend(children.get(pid, []))
    return total


def _rss_kb(fields):
    return int(fields[21]) * PAGE_SIZE // 1024


def _cpu_seconds(fields):
    return (int(fields[11]) + int(fields[12])) / TICKS


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
                peak[0] = max(peak[0], _process_tree(process.pid, _rss_kb))

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

    largest = int(field("Maximum resident set size (kbytes)"))  # the sampling may miss a short peak
    wall = 0.0
    for part in field("Elapsed (wall clock) time (h:mm:ss or m:ss)").split(":"):
        wall = wall * 60 + float(part)
    return {"wall": wall, "cpu": float(field("User time (seconds)")) + float(field("System time (seconds)")),
            "largest_mb": largest / 1024, "all_mb": max(peak[0], largest) / 1024}


# --- the three programs: each gives its commands and where each layer's pyramid lands


def zarvo_render(args, base, scratch):
    commands, outs = [], {}
    for layer in args.layers:
        outs[layer] = os.path.join(scratch, f"zarvo-{layer}.gpkg")
        command = [os.path.join(args.build, "zarvo-render"), "--layer", layer, "--levels", args.levels,
                   "--tile-matrix-set", args.tile_matrix_set, "--tile-format", "png", "--tiles", base, "--out",
                   outs[layer]]
        if args.box:
            command += ["--bbox", ",".join(str(v) for v in args.box)]
        if args.max_memory:
            command += ["--max-memory", str(args.max_memory)]
        commands.append(command)
    return commands, outs


def gdal_tiles(args, base, scratch):
    with open(os.path.join(HERE, "server", "tms_layer.xml.in")) as f:
        template = f.read().replace("file://@TILES@", base + SERVICE_PATH)
    profile = ["--profile=geodetic", "--tmscompatible"] if args.tile_matrix_set == "WorldCRS84Quad" else [
        "--profile=mercator"]
    commands, outs = [], {}
    for layer in args.layers:
        description = template
        for key, value in {"LAYER": layer, "EXT": EXTENSIONS[layer], "MAX_ZOOM": str(deepest_zoom(args))}.items():
            description = description.replace(f"@{key}@", value)
        source = os.path.join(scratch, f"{layer}.xml")
        with open(source, "w") as f:
            f.write(description)
        if args.box:
            source = mercator_window(source, args.box)
        outs[layer] = os.path.join(scratch, f"gdal2tiles-{layer}")
        commands.append(["/usr/bin/python3", "/usr/bin/gdal2tiles.py", "--processes=2", "--xyz", *profile, "-z",
                         args.levels, "-r", "bilinear", "-w", "none", "--tiledriver=PNG", source, outs[layer]])
    return commands, outs


def mercator_window(source, box):
    """A VRT of the area's window of the source, in its spherical Mercator."""
    from osgeo import gdal, osr
    gdal.UseExceptions()
    wgs84, mercator = osr.SpatialReference(), osr.SpatialReference()
    wgs84.ImportFromEPSG(4326)
    wgs84.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    mercator.ImportFromEPSG(3857)
    to_mercator = osr.CoordinateTransformation(wgs84, mercator)
    west, south, east, north = box
    x0, y1, _ = to_mercator.TransformPoint(west, min(north, EDGE))
    x1, y0, _ = to_mercator.TransformPoint(east, max(south, -EDGE))
    window = source[:-len(".xml")] + "-window.vrt"
    gdal.Translate(window, source, format="VRT", projWin=[x0, y1, x1, y0])
    return window


def mapproxy_seed(args, base, scratch):
    folder = os.path.join(scratch, "mapproxy")
    os.makedirs(folder)
    with open(os.path.join(args.peers, "mapproxy.yaml")) as f:
        configuration = yaml.safe_load(f.read().replace("CACHE_DIR", folder))
    for source in configuration["sources"].values():
        source["url"] = source["url"].replace("file://TILES_DIR", base + SERVICE_PATH)
    if args.tile_matrix_set == "WorldCRS84Quad":
        grid = {"srs": "EPSG:4326", "bbox": [-180, -90, 180, 90], "origin": "nw", "tile_size": [256, 256],
                "res_factor": 2, "min_res": 360 / 512}
    else:
        grid = {"base": "GLOBAL_WEBMERCATOR", "origin": "nw"}
    configuration["grids"]["pyramid_grid"] = grid
    seeding, outs = {"seeds": {}}, {}
    if args.box:
        seeding["coverages"] = {"area": {"bbox": args.box, "srs": "EPSG:4326"}}
    for layer in args.layers:
        outs[layer] = os.path.join(folder, f"mapproxy-{layer}.gpkg")
        # MapProxy takes a tile source only in the source's own grid, so the
        # pyramid is seeded over the layer's cache, which reads the source.
        configuration["caches"][f"{layer}_pyramid"] = {
            "grids": ["pyramid_grid"], "sources": [f"{layer}_cache"], "format": "image/png",
            "request_format": "image/png", "cache": {"type": "geopackage", "filename": outs[layer],
                                                     "table_name": layer}}
        seed = {"caches": [f"{layer}_pyramid"], "grids": ["pyramid_grid"],
                "levels": {"from": args.first, "to": args.last}}
        if args.box:
            seed["coverages"] = ["area"]
        seeding["seeds"][layer] = seed
    with open(os.path.join(folder, "mapproxy.yaml"), "w") as f:
        yaml.safe_dump(configuration, f)
    with open(os.path.join(folder, "seed.yaml"), "w") as f:
        yaml.safe_dump(seeding, f)
    # One run seeds every layer, as a MapProxy user would.
    return [["/usr/bin/mapproxy-seed", "-f", os.path.join(folder, "mapproxy.yaml"), "-s",
             os.path.join(folder, "seed.yaml"), "-c", "2", "--seed=" + ",".join(args.layers)]], outs


def deepest_zoom(args):
    return min(max(int(name) for name in os.listdir(os.path.join(args.build, "world-tiles", layer))
                   if name.isdigit()) for layer in args.layers)


# --- reading the pyramids back: tiles by (layer, level, column, row from the north)


def pyramid_tiles(outs):
    """The keys of every layer's tiles and a reader of one tile's bytes."""
    keys, readers = set(), {}
    for layer, out in outs.items():
        layer_keys, readers[layer] = (directory_tiles if os.path.isdir(out) else geopackage_tiles)(out)
        keys |= {(layer, *key) for key in layer_keys}
    return keys, lambda key: readers[key[0]](key[1:])


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


def world_rows(key, tile_matrix_set):
    """The rows of a tile's pixels that lie within the tiled world's
    latitudes (the source has nothing beyond them)."""
    if tile_matrix_set == "WebMercatorQuad":
        return numpy.ones(256, bool)
    _, level, _, row = key
    degrees = 180.0 / (256 << level)
    latitudes = 90.0 - (row * 256 + numpy.arange(256) + 0.5) * degrees
    return numpy.abs(latitudes) < EDGE


def mean_difference(keys, ours, theirs, tile_matrix_set):
    """Mean absolute difference per channel over the pixels both cover
    within the tiled world."""
    total, count = 0, 0
    for key in keys:
        a, b = rgba(ours(key)), rgba(theirs(key))
        both = (a[:, :, 3] == 255) & (b[:, :, 3] == 255) & world_rows(key, tile_matrix_set)[:, None]
        total += int(numpy.abs(a[:, :, :3] - b[:, :, :3])[both].sum())
        count += int(both.sum()) * 3
    return total / count if count else float("nan")


# --- the run


def main():
    args = parse_arguments()
    missing = [package for tool, package in TOOLS.items() if not os.path.exists(tool)]
    if missing:
        fail("missing Debian packages: " + " ".join(missing))
    for path in (os.path.join(args.build, "zarvo-render"), os.path.join(args.build, "world-tiles", ".complete"),
                 os.path.join(args.peers, "mapproxy.yaml")):
        if not os.path.exists(path):
            fail(f"{path} is missing")
    # zarvo-render draws a level from the zoom whose tiles have at least one
    # pixel per tile pixel, and a server does not say which zooms it lacks
    # (their tiles come out grey): WorldCRS84Quad's level L needs the
    # tile set's zoom L + 1 at the equator.
    needed = args.last + (1 if args.tile_matrix_set == "WorldCRS84Quad" else 0)
    if needed > deepest_zoom(args):
        fail(f"--levels {args.levels} of {args.tile_matrix_set} needs the tile set's zoom {needed}; it ends at "
             f"{deepest_zoom(args)}")

    with tempfile.TemporaryDirectory(prefix="zarvo-pyramid-bench-") as scratch, \
            TileServer(os.path.join(args.build, "world-tiles"), scratch) as server:
        runs = {}
        for name, make in (("zarvo-render", zarvo_render), ("gdal2tiles", gdal_tiles),
                           ("mapproxy-seed", mapproxy_seed)):
            commands, outs = make(args, server.base, scratch)
            served = server.cpu_seconds()
            figures = []
            for index, command in enumerate(commands):
                print(f"== {name}: {' '.join(command)}", flush=True)
                figures.append(timed(f"{name}-{index}", command, scratch))
                print(f"   {figures[-1]['wall']:.1f} s", flush=True)
            runs[name] = {"wall": sum(f["wall"] for f in figures), "cpu": sum(f["cpu"] for f in figures),
                          "largest_mb": max(f["largest_mb"] for f in figures),
                          "all_mb": max(f["all_mb"] for f in figures),
                          "server_cpu": server.cpu_seconds() - served, "tiles": pyramid_tiles(outs)}
            if args.keep:
                os.makedirs(args.keep, exist_ok=True)
                for out in outs.values():
                    target = os.path.join(args.keep, os.path.basename(out))
                    (shutil.copytree if os.path.isdir(out) else shutil.copy)(out, target)
        report(args, runs)


def report(args, runs):
    ours_keys, ours = runs["zarvo-render"]["tiles"]
    common = set(ours_keys)
    for run in runs.values():
        common &= run["tiles"][0]
    sample = sorted(random.Random(1).sample(sorted(common), min(args.sample, len(common))))
    print(f"\n{', '.join(args.layers)}: levels {args.levels} of {args.tile_matrix_set}, "
          f"{args.bbox or 'the whole set'}, 256 x 256 PNG; {os.cpu_count()} cores, load average "
          f"{os.getloadavg()[0]:.1f} at the end\n")
    print("| program | tiles | wall s | CPU s | tiles/s | peak MB, largest process | peak MB, all processes "
          "| time / zarvo-render | memory / zarvo-render | mean difference | server CPU s |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    mine = runs["zarvo-render"]
    for name, run in runs.items():
        keys, read = run["tiles"]
        difference, ratios = "", ("", "")
        if name != "zarvo-render":
            difference = f"{mean_difference(sample, ours, read, args.tile_matrix_set):.2f}"
            ratios = (f"{run['wall'] / mine['wall']:.1f}", f"{run['all_mb'] / mine['all_mb']:.1f}")
        print(f"| {name} | {len(keys)} | {run['wall']:.1f} | {run['cpu']:.1f} | {len(keys) / run['wall']:.1f} "
              f"| {run['largest_mb']:.0f} | {run['all_mb']:.0f} | {ratios[0]} | {ratios[1]} | {difference} "
              f"| {run['server_cpu']:.1f} |")
    print(f"\nmean difference: per channel, 0 to 255, over {len(sample)} tiles that all three wrote, against "
          "zarvo-render's")


if __name__ == "__main__":
    main()
