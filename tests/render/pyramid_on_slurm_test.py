#!/usr/bin/python3
"""The parts of a pyramid, run as a Slurm job array, merge into the pyramid
one process makes.

Usage: pyramid_on_slurm_test.py ZARVO_RENDER TILES SBATCH_SCRIPT. Draws two
pyramids with one zarvo-render each: a PMTiles archive in WebMercatorQuad
and a GeoPackage in WorldCRS84Quad. Then starts a Slurm cluster of one node
on loopback (one_node_slurm.py) and, for each pyramid, submits
SBATCH_SCRIPT (deploy/zarvo-pyramid.sbatch) as an array of four tasks (the
GeoPackage's as two arrays told the number of parts, as a failed task
submitted again alone is) and a merge job that waits for them, as
docs/deployment.md shows. Passes when the
merged archive is the single process's, byte for byte; the merged
GeoPackage holds its tiles, byte for byte, and its tile matrices and
bounds; and the GeoPackage's parts share the pyramid out, each tile to
exactly one part.

Exits 77 (skipped), saying why, where a Slurm cluster cannot start here.
"""
import os
import shlex
import sqlite3
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no cache files in the source tree
from one_node_slurm import ClusterUnavailable, OneNodeSlurm  # noqa: E402

SKIPPED = 77
PARTS = 4
AREA = ["--bbox", "-12,34,32,62"]
PYRAMIDS = {
    "europe.pmtiles": ["--layer", "hybrid", "--levels", "0-5", "--tile-matrix-set", "WebMercatorQuad", *AREA],
    "europe.gpkg": ["--layer", "aerial", "--levels", "0-5", "--tile-matrix-set", "WorldCRS84Quad", "--tile-format",
                    "jpeg", *AREA],
}


def render(program, tiles, options, out):
    subprocess.run([program, "--quiet", *options, "--tiles", tiles, "--out", out], check=True, timeout=60)


def submit(cluster, program, script, scratch, name, options, tiles):
    """The parts and the merge job after them, as docs/deployment.md
    submits them; their ids. The GeoPackage's parts go in two arrays told
    the number of parts, as when a failed task is submitted again alone."""
    stem, extension = os.path.splitext(name)
    logs = os.path.join(scratch, "logs", name)
    os.makedirs(logs)
    common = ["sbatch", "--parsable", "--time=3"]

    def sbatch(*arguments, export=f"ALL,ZARVO_RENDER={program}"):
        return cluster.run([*common, f"--export={export}", *arguments], timeout=30, check=True,
                           capture_output=True, text=True).stdout.strip().split(";")[0]

    def parts(tasks, **export):
        return sbatch(f"--array={tasks}", "--cpus-per-task=1", "--output", logs + "/part-%a.log", script,
                      os.path.join(scratch, "parts", name), *options, "--tiles", tiles, **export)

    if extension == ".gpkg":
        told = f"ALL,ZARVO_RENDER={program},ZARVO_PARTS={PARTS}"
        arrays = [parts(f"1-{PARTS - 1}", export=told), parts(str(PARTS), export=told)]
    else:
        arrays = [parts(f"1-{PARTS}")]
    merge = sbatch("--dependency=afterok:" + ":".join(arrays), "--kill-on-invalid-dep=yes", "--output",
                   logs + "/merge.log", "--wrap",
                   " ".join([shlex.quote(program), "--merge",
                             shlex.quote(os.path.join(scratch, "parts", stem)) + ".part*" + extension, "--out",
                             shlex.quote(os.path.join(scratch, "merged", name))]))
    return [*arrays, merge]


def log_tails(folder):
    text = []
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), errors="replace") as f:
            text.append(f"--- {name}: " + " | ".join(f.read().strip().splitlines()[-3:]))
    return "\n".join(text)


def geopackage(path):
    """Tiles (level, column, row) -> bytes, and the rows that place them."""
    database = sqlite3.connect(f"file:{path}?mode=ro", uri=True)
    table, *bounds = database.execute(
        "SELECT table_name, min_x, min_y, max_x, max_y FROM gpkg_contents WHERE data_type = 'tiles'").fetchone()
    tiles = {tuple(row[:3]): row[3] for row in
             database.execute(f'SELECT zoom_level, tile_column, tile_row, tile_data FROM "{table}"')}
    placing = (table, bounds,
               database.execute("SELECT * FROM gpkg_tile_matrix_set").fetchall(),
               database.execute("SELECT * FROM gpkg_tile_matrix ORDER BY zoom_level").fetchall())
    database.close()
    return tiles, placing


def main():
    program, tiles, script = (os.path.abspath(p) for p in sys.argv[1:4])
    failures = []
    with tempfile.TemporaryDirectory(prefix="zarvo-pyramid-slurm-") as scratch:
        for folder in ("whole", "parts", "merged"):
            os.mkdir(os.path.join(scratch, folder))
        for name, options in PYRAMIDS.items():
            render(program, tiles, options, os.path.join(scratch, "whole", name))

        started = time.monotonic()
        try:
            with OneNodeSlurm(cpus=2, deadline=started + 110) as cluster:
                jobs = {name: submit(cluster, program, script, scratch, name, options, tiles)
                        for name, options in PYRAMIDS.items()}
                states = cluster.wait([job for ids in jobs.values() for job in ids])
                for name, ids in jobs.items():
                    ended = [state for job in ids for state in states[job]]
                    if len(ended) != PARTS + 1 or any(state != "COMPLETED 0:0" for state in ended):
                        failures.append(f"{name}: the parts and the merge ended {ended}\n"
                                        f"{log_tails(os.path.join(scratch, 'logs', name))}")
        except ClusterUnavailable as reason:
            print(f"skipped: no Slurm cluster here: {reason}")
            return SKIPPED
        seconds = time.monotonic() - started
        if failures:
            print("\n".join(failures))
            return 1

        whole, merged = (os.path.join(scratch, f, "europe.pmtiles") for f in ("whole", "merged"))
        with open(whole, "rb") as a, open(merged, "rb") as b:
            archive = a.read()
            archive_equal = archive == b.read()
        if not archive_equal:
            failures.append("europe.pmtiles: the merged archive differs from the one process's")

        whole_tiles, whole_placing = geopackage(os.path.join(scratch, "whole", "europe.gpkg"))
        merged_tiles, merged_placing = geopackage(os.path.join(scratch, "merged", "europe.gpkg"))
        if merged_tiles != whole_tiles:
            differing = sorted(k for k in whole_tiles.keys() | merged_tiles.keys()
                               if whole_tiles.get(k) != merged_tiles.get(k))
            failures.append(f"europe.gpkg: {len(differing)} tiles differ, first {differing[:3]}")
        if merged_placing != whole_placing:
            failures.append(f"europe.gpkg: merged {merged_placing} != one process's {whole_placing}")
        shares = [set(geopackage(os.path.join(scratch, "parts", f"europe.part{k}.gpkg"))[0])
                  for k in range(1, PARTS + 1)]
        if not all(shares) or sum(map(len, shares)) != len(whole_tiles) or set().union(*shares) != whole_tiles.keys():
            failures.append(f"europe.gpkg: the parts hold {[len(s) for s in shares]} tiles, not each a share of "
                            f"the {len(whole_tiles)} once")

        print(f"{PARTS} parts and a merge for each of 2 pyramids on Slurm in {seconds:.1f} s, the cluster's start "
              f"included: europe.pmtiles {len(archive)} bytes, byte-equal: {archive_equal}; europe.gpkg "
              f"{len(whole_tiles)} tiles in parts of {[len(s) for s in shares]}, tile-equal: "
              f"{merged_tiles == whole_tiles}")
    if failures:
        print("\n".join(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
