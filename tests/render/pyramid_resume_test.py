#!/usr/bin/python3
"""An interrupted pyramid keeps every tile it finished, and the same command
resumes it without drawing those again.

Environment: ZARVO_RENDER, ZARVO_DEMO_TILES.

The tiles come from a stand-in tile server over the demo tiles that holds
the requests of one zoom until told to let go, so that a run stops at a
known place whatever the machine's speed. For a PMTiles archive and a
GeoPackage: a run stopped by SIGTERM while it waits for a level's tiles
exits with 143 and one line; its package is sound and holds exactly the
tiles it says it drew, each as an uninterrupted run draws it. The same
command, killed by SIGKILL in the same way a level further, leaves a sound
package. The same command once more skips every tile the package holds,
draws only the others, and ends with what one uninterrupted run makes: the
archive to the byte, the GeoPackage tile for tile with the same metadata.
"""
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "serve"))
from pyramid_packages import RENDER, counts, integrity, read_tiles, render, sqlite_metadata  # noqa: E402
from serve_harness import TileUpstream  # noqa: E402

DEMO_TILES = os.environ.get("ZARVO_DEMO_TILES", "")


def wait_for(condition, what, seconds=120):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("waited in vain for " + what)
        time.sleep(0.02)


class InterruptedPyramidsResume(unittest.TestCase):
    def interrupt(self, upstream, arguments, stalled_zoom, how):
        """Runs the command until it waits for the tiles of `stalled_zoom`,
        then sends it `how`: (exit code, what it wrote to stderr)."""
        upstream.release.clear()
        upstream.faults = {("map", str(stalled_zoom)): "stall"}
        with upstream.lock:
            upstream.hits.clear()
        process = subprocess.Popen([RENDER, *arguments, "--quiet"], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True)
        try:
            wait_for(lambda: upstream.hits_for(f"/map/{stalled_zoom}/") or process.poll() is not None,
                     f"a request for zoom {stalled_zoom}")
            self.assertIsNone(process.poll(), "the run ended before it was interrupted")
            process.send_signal(how)
            # The held requests go, unanswered, so that the tiles in flight end.
            upstream.release.set()
            _, errors = process.communicate(timeout=120)
        finally:
            upstream.faults = {}
            if process.poll() is None:
                process.kill()
                process.communicate()
        return process.returncode, errors

    def check_kept(self, target, stored, reference, at_least):
        """The file that holds the tiles of `target` is sound, and holds at
        least `at_least` tiles, each the uninterrupted run's: how many."""
        self.assertEqual(integrity(stored), "ok", stored)
        tiles = read_tiles(target)
        self.assertGreaterEqual(len(tiles), at_least)
        for place, body in tiles.items():
            self.assertTrue(body == reference[place], f"{stored}: the tile at {place} differs from the one run's")
        return len(tiles)

    def test_stopped_and_killed_runs_resume_to_the_whole(self):
        cases = [
            # target, tile matrix set, levels, the zoom the stop waits for, then the kill
            # (small enough to draw four times over within the limit under ThreadSanitizer)
            ("map.pmtiles", "WebMercatorQuad", "0-4", 3, 4),
            ("map.gpkg", "WorldCRS84Quad", "0-3", 3, 4),
        ]
        with tempfile.TemporaryDirectory(prefix="zarvo-resume-") as scratch, TileUpstream(DEMO_TILES) as upstream:
            for target, tile_set, levels, stop_zoom, kill_zoom in cases:
                with self.subTest(target):
                    def arguments(out):
                        return ["--layer", "map", "--levels", levels, "--tile-matrix-set", tile_set,
                                "--tiles", upstream.address, "--out", os.path.join(scratch, out)]
                    code, out, errors = render(*arguments("whole-" + target))
                    self.assertEqual(code, 0, errors)
                    total = counts(out)[0]
                    reference = read_tiles(os.path.join(scratch, "whole-" + target))
                    self.assertEqual(len(reference), total)
                    path = os.path.join(scratch, target)
                    stored = path + ".unfinished.mbtiles" if target.endswith(".pmtiles") else path

                    code, errors = self.interrupt(upstream, arguments(target), stop_zoom, signal.SIGTERM)
                    self.assertEqual(code, 128 + signal.SIGTERM, errors)
                    self.assertEqual(errors.count("\n"), 1, errors)
                    self.assertIn("stopped by SIGTERM", errors)
                    self.assertIn("the same command resumes", errors)
                    drawn_first = counts(errors)[0]
                    self.assertGreater(drawn_first, 0, errors)
                    self.assertFalse(target.endswith(".pmtiles") and os.path.exists(path), "an unfinished archive")
                    self.assertEqual(self.check_kept(path, stored, reference, 0), drawn_first)

                    code, errors = self.interrupt(upstream, arguments(target), kill_zoom, signal.SIGKILL)
                    self.assertEqual(code, -signal.SIGKILL, errors)
                    kept = self.check_kept(path, stored, reference, drawn_first)

                    code, out, errors = render(*arguments(target))
                    self.assertEqual(code, 0, errors)
                    drawn_last, present, empty = counts(out)
                    self.assertEqual((present, empty), (kept, 0), out)
                    self.assertEqual(drawn_last, total - kept, out)
                    if target.endswith(".pmtiles"):
                        with open(path, "rb") as a, open(os.path.join(scratch, "whole-" + target), "rb") as b:
                            self.assertTrue(a.read() == b.read(), "the resumed archive is not the one run's")
                        self.assertFalse(os.path.exists(stored), "the staging file is left")
                    else:
                        self.assertEqual(read_tiles(path), reference)
                        whole = os.path.join(scratch, "whole-" + target)
                        self.assertEqual(sqlite_metadata(path), sqlite_metadata(whole))
                    print(f"{target}: {total} tiles; stopped by SIGTERM having drawn {drawn_first}, all kept; killed "
                          f"by SIGKILL with {kept} kept; resumed: {present} skipped as present, {drawn_last} drawn",
                          flush=True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
