#!/usr/bin/python3
"""A pyramid zarvo-render makes holds zarvo-serve's WMTS tiles, to the byte.

Environment: ZARVO_RENDER, ZARVO_SERVE, ZARVO_DEMO_TILES.

For every target (MBTiles, PMTiles, GeoPackage, a {z}/{x}/{y} directory),
both tile matrix sets and their 512-pixel twins (--tile-size 512), and every
format (PNG, JPEG, WebP), a few levels over an area: the
package holds exactly the tiles of those levels that cover the area (worked
out here from the sets' numbers), and each is the tile a zarvo-serve over
the same tiles answers at /wmts for that set, level, row, column and format.
WorldCRS84Quad's rows beyond the tiled world, over a tile server that
reaches every zoom: counted as empty and left out, or written with
--write-empty, then too the WMTS's tiles. The N parts of --chunk K/N hold
every tile once and merge into what one run makes: a PMTiles archive to
the byte, SQLite packages tile for tile with the same metadata.
"""
import math
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "serve"))
from pyramid_packages import counts, read_tiles, render, sqlite_metadata  # noqa: E402
from serve_harness import ZarvoServe  # noqa: E402

SERVE = os.environ.get("ZARVO_SERVE", "")
DEMO_TILES = os.environ.get("ZARVO_DEMO_TILES", "")
SYNTHETIC_SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "synthetic_tile_server.py")
# An area whose edges fall inside tiles at every level drawn.
EUROPE = (-20.0, 30.0, 40.0, 65.0)
AUSTRALIA = (100.0, -50.0, 160.0, -10.0)


def covering(tile_set, area, level):
    """The tiles of a level that cover the area, rows from the north."""
    west, south, east, north = area
    if tile_set.startswith("WebMercatorQuad"):
        def column(lon):
            return (lon + 180) / 360 * 2 ** level

        def row(lat):
            phi = math.radians(lat)
            return (1 - math.log(math.tan(phi) + 1 / math.cos(phi)) / math.pi) / 2 * 2 ** level
    else:
        def column(lon):
            return (lon + 180) / 180 * 2 ** level

        def row(lat):
            return (90 - lat) / 180 * 2 ** level
    columns, rows = (2, 1) if tile_set.startswith("WorldCRS84Quad") else (1, 1)
    return {(level, x, y) for x in range(max(0, math.floor(column(west))), min(columns << level, math.ceil(column(east))))
            for y in range(max(0, math.floor(row(north))), min(rows << level, math.ceil(row(south))))}


def levels_of(text):
    first, last = (int(n) for n in text.split("-"))
    return range(first, last + 1)


class PyramidsAreWmtsTiles(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="zarvo-pyramids-")
        cls.server = ZarvoServe(SERVE, DEMO_TILES).__enter__()

    @classmethod
    def tearDownClass(cls):
        code, errors = cls.server.stop()
        cls.scratch.cleanup()
        assert code == 0, errors

    def path(self, name):
        return os.path.join(self.scratch.name, name)

    def draw(self, layer, tile_set, tile_format, area, levels, target, *extra, tiles=DEMO_TILES):
        area_args = ["-te", *(str(v) for v in area)] if area else []
        # A twin's tiles: its set's, 512 pixels a side.
        size = ["--tile-size", "512"] if tile_set.endswith("512") else []
        code, out, errors = render("--layer", layer, "--levels", levels, "--tile-matrix-set", tile_set[:-3] if size
                                   else tile_set, *size, "--tile-format", tile_format, *area_args, "--tiles", tiles,
                                   "--out", self.path(target), "--quiet" if "--chunk" in extra else "--verbose",
                                   *extra)
        self.assertEqual(code, 0, errors)
        return out

    def check_wmts_tiles(self, server, layer, tile_set, tile_format, target, want):
        """Every tile of the package is the WMTS's; the package holds `want`."""
        tiles = read_tiles(self.path(target))
        self.assertEqual(set(tiles), want, target)
        for (level, column, row), body in sorted(tiles.items()):
            status, content_type, _, wmts = server.get(
                f"/wmts/1.0.0/{layer}/default/{tile_set}/{level}/{row}/{column}.{tile_format}")
            self.assertEqual(status, 200, wmts[:200])
            self.assertTrue(body == wmts, f"{target}: the tile at level {level} column {column} row {row} "
                                          f"is not the WMTS's ({len(body)} bytes, the WMTS's {len(wmts)})")
        return tiles

    def test_every_target_holds_the_wmts_tiles(self):
        cases = [
            ("map", "WebMercatorQuad", "png", EUROPE, "1-5", "map.mbtiles"),
            ("aerial", "WebMercatorQuad", "jpeg", EUROPE, "2-5", "aerial.pmtiles"),
            ("hybrid", "WorldCRS84Quad", "png", EUROPE, "2-5", "hybrid.gpkg"),
            ("map", "WorldCRS84Quad", "jpeg", AUSTRALIA, "0-5", "map-crs84/{z}/{x}/{y}.jpg"),
            ("aerial", "WebMercatorQuad", "png", None, "0-3", "aerial-world/{z}/{x}/{y}.png"),
            ("hybrid", "WebMercatorQuad", "webp", EUROPE, "2-5", "hybrid.pmtiles"),
            ("aerial", "WorldCRS84Quad512", "jpeg", AUSTRALIA, "1-4", "aerial-512.gpkg"),
            ("map", "WebMercatorQuad512", "webp", EUROPE, "2-5", "map-512/{z}/{x}/{y}.webp"),
        ]
        for layer, tile_set, tile_format, area, levels, target in cases:
            with self.subTest(target):
                out = self.draw(layer, tile_set, tile_format, area, levels, target)
                whole = (-180, -85.0511287798066, 180, 85.0511287798066)
                want = set().union(*(covering(tile_set, area or whole, level) for level in levels_of(levels)))
                self.check_wmts_tiles(self.server, layer, tile_set, tile_format, target, want)
                self.assertEqual(counts(out), (len(want), 0, 0), out)
                self.assertIn(f"{len(want)} tiles", out)

    def test_parts_merge_into_what_one_run_makes(self):
        cases = [
            ("map", "WebMercatorQuad", "png", EUROPE, "0-5", 3, "mbtiles", ["pmtiles", "mbtiles"]),
            # Levels 4 and 5 are drawn from one source zoom, in one pass whose
            # parts are cut between level 4's tiles: here level 5's columns
            # 27 to 39 in four, not at 33.
            ("hybrid", "WorldCRS84Quad", "png", (-25.0, 30.0, 40.0, 65.0), "2-5", 4, "gpkg", ["gpkg"]),
        ]
        for layer, tile_set, tile_format, area, levels, count, part_kind, merged_kinds in cases:
            with self.subTest(layer + " " + tile_set):
                name = f"{layer}-{tile_set}"
                parts = [f"{name}-part{k}.{part_kind}" for k in range(1, count + 1)]
                part_tiles = []
                for k, part in enumerate(parts, 1):
                    self.draw(layer, tile_set, tile_format, area, levels, part, "--chunk", f"{k}/{count}")
                    part_tiles.append(set(read_tiles(self.path(part))))
                    self.assertTrue(part_tiles[-1], f"part {k} holds no tile")
                self.assertEqual(sum(len(t) for t in part_tiles), len(set().union(*part_tiles)),
                                 "a tile is in two parts")
                for kind in merged_kinds:
                    whole, merged = f"{name}-whole.{kind}", f"{name}-merged.{kind}"
                    self.draw(layer, tile_set, tile_format, area, levels, whole)
                    code, out, errors = render("--merge", *(self.path(p) for p in parts), "--out", self.path(merged))
                    self.assertEqual(code, 0, errors)
                    self.assertIn("(0 held by more than one part)", out)
                    if kind == "pmtiles":
                        with open(self.path(whole), "rb") as a, open(self.path(merged), "rb") as b:
                            self.assertTrue(a.read() == b.read(), "the merged archive is not the one run's")
                        continue
                    self.assertEqual(read_tiles(self.path(merged)), read_tiles(self.path(whole)))
                    self.assertEqual(sqlite_metadata(self.path(merged)), sqlite_metadata(self.path(whole)))

    def test_rows_beyond_the_world_are_empty_unless_asked(self):
        # A tile server of every zoom, so that WorldCRS84Quad's level 6 has
        # a row wholly north of 85.0511 degrees.
        synthetic = subprocess.Popen([sys.executable, SYNTHETIC_SERVER], stdout=subprocess.PIPE, text=True)
        try:
            tiles = "http://127.0.0.1:%s/{z}/{x}/{y}.png" % synthetic.stdout.readline().strip()
            with ZarvoServe(SERVE, tiles) as server:
                arctic = (-20.0, 80.0, 20.0, 90.0)
                want = covering("WorldCRS84Quad", arctic, 6)
                beyond = {t for t in want if t[2] == 0}  # row 0 lies north of 87.1875 degrees
                out = self.draw("map", "WorldCRS84Quad", "png", arctic, "6", "arctic/{z}/{x}/{y}.png", tiles=tiles)
                self.check_wmts_tiles(server, "map", "WorldCRS84Quad", "png", "arctic/{z}/{x}/{y}.png",
                                      want - beyond)
                self.assertEqual(counts(out), (len(want - beyond), 0, len(beyond)), out)
                out = self.draw("map", "WorldCRS84Quad", "png", arctic, "6", "arctic-all/{z}/{x}/{y}.png",
                                "--write-empty", tiles=tiles)
                self.check_wmts_tiles(server, "map", "WorldCRS84Quad", "png", "arctic-all/{z}/{x}/{y}.png", want)
                self.assertEqual(counts(out), (len(want), 0, 0), out)
                code, errors = server.stop()
                self.assertEqual(code, 0, errors)
        finally:
            synthetic.kill()
            synthetic.wait()
            synthetic.stdout.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
