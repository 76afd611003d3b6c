#!/usr/bin/python3
"""The clients people use read zarvo-render's pyramids and draw the right
places.

Environment: ZARVO_RENDER, ZARVO_SERVE, ZARVO_WORLD_TILES, ZARVO_SOURCE_DIR;
argument: a path to save QGIS's drawing of the GeoPackage to (optional).

Pyramids of the map layer over Europe, drawn from the world tile set:
- GDAL's MBTiles driver (WebMercatorQuad) and GeoPackage driver
  (WorldCRS84Quad) open them with the layer's name (and the MBTiles file
  its attribution); a block of tiles they decode at the deepest level has
  the pixels zarvo-serve's WMS draws for that box at that size, so every
  tile lies where it belongs and none is flipped or shifted;
- the pmtiles library from npm reads the PMTiles archive as the directory
  pyramid of the same tiles holds it;
- nginx serves the directory pyramid as it is, and GDAL reads it through
  nginx as XYZ tiles, again with the WMS's pixels;
- QGIS opens the GeoPackage and draws land and water at named places.
Skips, saying why, what cannot run here.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.parse

import numpy
from osgeo import gdal

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "serve"))
from pyramid_packages import render  # noqa: E402
from qgis_harness import LAND, MISSING, WATER, check_places, draw, main  # noqa: E402
from serve_harness import Nginx, ZarvoServe  # noqa: E402

if MISSING is None:
    from qgis.core import QgsRasterLayer, QgsRectangle  # noqa: E402
gdal.UseExceptions()

SERVE = os.environ.get("ZARVO_SERVE", "")
WORLD_TILES = os.environ.get("ZARVO_WORLD_TILES", "")
SOURCE = os.environ.get("ZARVO_SOURCE_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
SCREENSHOT = sys.argv.pop(1) if len(sys.argv) > 1 else None
PMTILES_READER = os.path.join(SOURCE, "tests", "tile_packages", "read_pmtiles.mjs")
PMTILES_LIBRARY = os.path.join(SOURCE, "tests", "tile_packages", "node_modules", "pmtiles")
NO_WORLD = None if os.path.isdir(WORLD_TILES) else "the world tile set was not built"
HALF = 20037508.342789244
AREA = (-15.0, 28.0, 30.0, 60.0)
# What QGIS draws: inside the area, in the proportions of its image.
VIEW = (-10.0, 30.0, 26.0, 57.0)
# Blocks of 3 x 3 tiles of level 5 inside the area: (west, south, east, north).
MERCATOR_BLOCK = (-HALF + 15 * HALF / 16, HALF - 13 * HALF / 16, -HALF + 18 * HALF / 16, HALF - 10 * HALF / 16)
LONLAT_BLOCK = (-180 + 31 * 5.625, 90 - 9 * 5.625, -180 + 34 * 5.625, 90 - 6 * 5.625)
# Places the pyramid covers, and what lies there.
PLACES = [("Rome", 12.50, 41.90, LAND), ("Adriatic Sea", 15.5, 43.0, WATER), ("Berlin", 13.40, 52.52, LAND),
          ("Bay of Biscay", -5.0, 45.5, WATER), ("Lyon", 4.84, 45.76, LAND), ("Ionian Sea", 18.5, 37.0, WATER),
          ("Algerian Sahara", 3.0, 31.0, LAND)]


def decoded(body):
    """The RGB pixels of an image file's bytes, bands first."""
    gdal.FileFromMemBuffer("/vsimem/wms.png", body)
    try:
        return gdal.Open("/vsimem/wms.png").ReadAsArray()[:3].astype(int)
    finally:
        gdal.Unlink("/vsimem/wms.png")


@unittest.skipIf(NO_WORLD, NO_WORLD or "")
class PyramidClients(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="zarvo-pyramid-clients-")
        cls.server = ZarvoServe(SERVE, WORLD_TILES).__enter__()
        te = ["-te", *(str(v) for v in AREA)]
        for tile_set, target in (("WebMercatorQuad", "europe.mbtiles"), ("WorldCRS84Quad", "europe.gpkg"),
                                 ("WebMercatorQuad", "europe.pmtiles"), ("WebMercatorQuad", "europe/{z}/{x}/{y}.png")):
            code, _, errors = render("--layer", "map", "--levels", "0-5", "--tile-matrix-set", tile_set, *te,
                                     "--tiles", WORLD_TILES, "--out", cls.path(target), "--quiet")
            assert code == 0, errors

    @classmethod
    def tearDownClass(cls):
        code, errors = cls.server.stop()
        cls.scratch.cleanup()
        assert code == 0, errors

    @classmethod
    def path(cls, name):
        return os.path.join(cls.scratch.name, name)

    def check_block(self, dataset, crs, block):
        """The dataset's pixels over a block of whole tiles are the WMS's."""
        origin_x, size_x, _, origin_y, _, size_y = dataset.GetGeoTransform()
        west, south, east, north = block
        column, row = round((west - origin_x) / size_x), round((north - origin_y) / size_y)
        width, height = round((east - west) / size_x), round((south - north) / size_y)
        self.assertEqual((width, height), (768, 768), "the deepest level's pixel is not the tiles' pixel")
        pixels = dataset.ReadAsArray(column, row, width, height)[:3].astype(int)
        query = urllib.parse.urlencode({"SERVICE": "WMS", "VERSION": "1.3.0", "REQUEST": "GetMap", "LAYERS": "map",
                                        "STYLES": "", "FORMAT": "image/png", "CRS": crs, "WIDTH": width,
                                        "HEIGHT": height, "BBOX": ",".join(repr(v) for v in block)})
        status, _, _, body = self.server.get("/wms?" + query)
        self.assertEqual(status, 200, body[:300])
        difference = numpy.abs(pixels - decoded(body)).max(axis=0)
        # The same samples, but where a position's last bits differ: in
        # EPSG:3857 the rows of a larger box lie at latitudes of their own,
        # a few ulps from a tile's (a pixel in a thousand, by one level).
        # A tile misplaced by one row or column differs everywhere.
        self.assertGreater((difference == 0).mean(), 0.99)
        self.assertLessEqual(difference.max(), 2)

    def test_gdal_reads_the_mbtiles_and_the_geopackage(self):
        mbtiles = gdal.Open(self.path("europe.mbtiles"))
        self.assertEqual(mbtiles.GetDriver().ShortName, "MBTiles")
        metadata = mbtiles.GetMetadata()
        self.assertEqual(metadata.get("name"), "map")
        self.assertIn("GSHHG", metadata.get("attribution", ""))
        self.check_block(mbtiles, "EPSG:3857", MERCATOR_BLOCK)
        geopackage = gdal.Open(self.path("europe.gpkg"))
        self.assertEqual(geopackage.GetDriver().ShortName, "GPKG")
        self.assertEqual(geopackage.GetSpatialRef().GetAuthorityCode(None), "4326")
        self.assertEqual(geopackage.GetMetadata().get("IDENTIFIER"), "map")
        self.check_block(geopackage, "CRS:84", LONLAT_BLOCK)

    @unittest.skipUnless(shutil.which("node") and os.path.isdir(PMTILES_LIBRARY),
                         "node or the pmtiles package from npm is missing (the build installs it with the map page)")
    def test_the_pmtiles_library_reads_the_archive(self):
        run = subprocess.run(["node", PMTILES_READER, "--against", self.path("europe.pmtiles"), self.path("europe")],
                             capture_output=True, text=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stderr)

    @unittest.skipUnless(shutil.which("nginx") or os.path.exists("/usr/sbin/nginx"), "nginx is missing")
    def test_the_directory_serves_through_nginx(self):
        site = "server { listen LISTEN; root %s; location / { } }" % self.scratch.name
        with Nginx(site) as nginx:
            service = f"""<GDAL_WMS>
  <Service name="TMS"><ServerUrl>{nginx.base}/europe/${{z}}/${{x}}/${{y}}.png</ServerUrl></Service>
  <DataWindow><UpperLeftX>{-HALF!r}</UpperLeftX><UpperLeftY>{HALF!r}</UpperLeftY><LowerRightX>{HALF!r}</LowerRightX>
    <LowerRightY>{-HALF!r}</LowerRightY><TileLevel>5</TileLevel><TileCountX>1</TileCountX><TileCountY>1</TileCountY>
    <YOrigin>top</YOrigin></DataWindow>
  <Projection>EPSG:3857</Projection><BlockSizeX>256</BlockSizeX><BlockSizeY>256</BlockSizeY><BandsCount>3</BandsCount>
</GDAL_WMS>"""
            self.check_block(gdal.Open(service), "EPSG:3857", MERCATOR_BLOCK)

    @unittest.skipIf(MISSING, MISSING or "")
    def test_qgis_draws_the_geopackage(self):
        layer = QgsRasterLayer(self.path("europe.gpkg"), "europe", "gdal")
        image, settings = draw(self, layer, "EPSG:4326", QgsRectangle(*VIEW))
        check_places(self, "the GeoPackage", image, settings, PLACES)
        if SCREENSHOT:
            image.save(SCREENSHOT)


if __name__ == "__main__":
    main()
