#!/usr/bin/python3
"""zarvo-render over a slow tile server and under small memory budgets,
two builds side by side.

  slow     a tile server on 127.0.0.1 that waits SECONDS before each tile
           (3 and 6), and a render whose box needs two tiles: the exit
           status and the wall time of each build;
  memory   the 40000 x 20000 render of bench/render_vs_gdalwarp.py (the
           map layer of the world from its synthetic tile server, at the
           zoom --zoom auto picks) under --max-memory 8, 64 and 512: the
           exit status, the wall time and the peak resident memory (GNU
           time's) of each build.

Not a test: the figures are for the documentation. Loopback only; every
render is stopped after an hour.

usage: slow_upstream.py BEFORE AFTER TILES [slow|memory[:MB,MB...]]...
       (BEFORE and AFTER are zarvo-render binaries, each beside its plug-in;
       "-" skips one)
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "serve"))
from serve_harness import TileUpstream  # noqa: E402

LIMIT = 3600


def run(program, arguments):
    """Exit status, wall seconds, peak RSS in MB and the last line of errors."""
    started = time.monotonic()
    # A session of its own, so that a render stopped for its time goes with
    # GNU time, not after it (it would hold its output's claim meanwhile).
    process = subprocess.Popen(["/usr/bin/time", "-v", program, *arguments], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True, start_new_session=True)
    try:
        _, errors = process.communicate(timeout=LIMIT)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.communicate()
        return "-", LIMIT, 0, f"stopped after {LIMIT} s"
    wall = time.monotonic() - started
    peak = re.search(r"Maximum resident set size \(kbytes\): (\d+)", errors)
    lines = [line for line in errors.splitlines()
             if line.strip() and not line.startswith("\t") and "Command exited" not in line
             and "Command terminated" not in line]
    return process.returncode, wall, int(peak.group(1)) / 1024 if peak else 0, lines[-1] if lines else ""


def slow(builds, tiles, scratch):
    print("| seconds a tile | build | exit | wall s | last line |")
    print("|---:|---|---:|---:|---|")
    for delay in (3, 6):
        with TileUpstream(tiles) as upstream:
            upstream.delay = delay
            for name, program in builds:
                out = os.path.join(scratch, f"slow-{name}-{delay}.tif")
                # Zoom 2: four tiles a world; this box takes the two northern ones.
                code, wall, _, last = run(program, [
                    "--layer", "map", "--zoom", "2", "-te", "-170", "10", "170", "80", "-ts", "256", "64",
                    "--tiles", upstream.address, "--out", out, "--overwrite", "-q"])
                print(f"| {delay} | {name} | {code} | {wall:.1f} | {last[:100]} |", flush=True)


def memory(builds, tiles, scratch, budgets=(8, 64, 512)):
    del tiles  # the synthetic server holds every zoom
    server = subprocess.Popen([sys.executable, os.path.join(HERE, "..", "tests", "render", "synthetic_tile_server.py")],
                              stdout=subprocess.PIPE, text=True)
    try:
        template = f"http://127.0.0.1:{int(server.stdout.readline())}/{{z}}/{{x}}/{{-y}}.png"
        print("| --max-memory MB | build | exit | wall s | peak RSS MB | last line |")
        print("|---:|---|---:|---:|---:|---|")
        for budget in budgets:
            for name, program in builds:
                out = os.path.join(scratch, f"big-{name}.tif")
                code, wall, peak, last = run(program, [
                    "--layer", "map", "--zoom", "auto", "-te", "-180", "-85.0511287798066", "180", "85.0511287798066",
                    "-ts", "40000", "20000", "--tiles", template, "--max-memory", str(budget), "--out", out,
                    "--overwrite", "-q"])
                print(f"| {budget} | {name} | {code} | {wall:.1f} | {peak:.0f} | {last[:100]} |", flush=True)
                if os.path.exists(out):
                    os.remove(out)
    finally:
        server.terminate()
        server.wait()


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    builds = [(name, program) for name, program in (("before", sys.argv[1]), ("after", sys.argv[2]))
              if program != "-"]
    tiles = sys.argv[3]
    cases = sys.argv[4:] or ["slow", "memory"]
    with tempfile.TemporaryDirectory() as scratch:
        for case in cases:
            if case == "slow":
                slow(builds, tiles, scratch)
            else:
                name, _, budgets = case.partition(":")
                if name != "memory":
                    sys.exit(__doc__)
                memory(builds, tiles, scratch, [int(b) for b in budgets.split(",")] if budgets else (8, 64, 512))
            print()


if __name__ == "__main__":
    main()
