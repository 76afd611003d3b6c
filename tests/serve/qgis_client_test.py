#!/usr/bin/python3
"""zarvo-serve in QGIS (Debian's python3-qgis, offscreen): the WMS layer in
an EPSG:4326 and in an EPSG:3857 project, the WMTS layer and the XYZ layer
(QGIS's own provider of tile templates) each draw a map whose land and
water lie where they are, at named places.

Skips, saying so, where QGIS cannot be imported.
Environment: ZARVO_SERVE, ZARVO_WORLD_TILES; argument: a path to save the
EPSG:3857 WMTS drawing to (optional).
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from qgis_harness import LAND, MISSING, WATER, check_places, draw, main  # noqa: E402
from serve_harness import ZarvoServe  # noqa: E402

if MISSING is None:
    from qgis.core import (QgsCoordinateReferenceSystem, QgsCoordinateTransform, QgsProject,  # noqa: E402
                           QgsRasterLayer, QgsRectangle)
QGIS = MISSING
SERVE = os.environ.get("ZARVO_SERVE", "")
WORLD_TILES = os.environ.get("ZARVO_WORLD_TILES", "")
SCREENSHOT = sys.argv.pop(1) if len(sys.argv) > 1 else None
if QGIS is None and not os.path.isdir(WORLD_TILES):
    QGIS = "the world tile set was not built"
# Named places: longitude, latitude, what lies there.
PLACES = [("Madrid", -3.70, 40.42, LAND), ("Bay of Biscay", -5.0, 45.5, WATER), ("Paris", 2.35, 48.86, LAND),
          ("Tyrrhenian Sea", 12.0, 39.5, WATER), ("Algerian Sahara", 3.0, 31.0, LAND),
          ("North Sea", 3.0, 55.5, WATER), ("Warsaw", 21.0, 52.23, LAND)]


@unittest.skipIf(QGIS, QGIS or "")
class QgisClient(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = ZarvoServe(SERVE, WORLD_TILES).__enter__()

    @classmethod
    def tearDownClass(cls):
        code, errors = cls.server.stop()
        assert code == 0, errors

    def test_layers_draw_land_and_water_where_they_are(self):
        base = self.server.base
        europe_lonlat = QgsRectangle(-15.0, 28.0, 30.0, 60.0)
        to_mercator = QgsCoordinateTransform(QgsCoordinateReferenceSystem("EPSG:4326"),
                                             QgsCoordinateReferenceSystem("EPSG:3857"), QgsProject.instance())
        europe_mercator = to_mercator.transformBoundingBox(europe_lonlat)
        cases = [
            ("WMS in EPSG:4326", f"crs=EPSG:4326&format=image/png&layers=map&styles&url={base}/wms", "EPSG:4326",
             europe_lonlat),
            ("WMS in EPSG:3857", f"crs=EPSG:3857&format=image/png&layers=map&styles&url={base}/wms", "EPSG:3857",
             europe_mercator),
            ("WMTS in EPSG:3857", "crs=EPSG:3857&format=image/png&layers=map&styles=default"
             f"&tileMatrixSet=WebMercatorQuad&url={base}/wmts/1.0.0/WMTSCapabilities.xml", "EPSG:3857",
             europe_mercator),
            ("XYZ", f"type=xyz&url={base}/tiles/map/WebMercatorQuad/{{z}}/{{x}}/{{y}}.png&zmin=0&zmax=5", "EPSG:3857",
             europe_mercator),
        ]
        for name, uri, crs, extent in cases:
            with self.subTest(name):
                image, settings = draw(self, QgsRasterLayer(uri, "zarvo", "wms"), crs, extent)
                check_places(self, name, image, settings, PLACES,
                             (lambda point: point) if crs == "EPSG:4326" else to_mercator.transform)
                if SCREENSHOT and name == "WMTS in EPSG:3857":
                    image.save(SCREENSHOT)


if __name__ == "__main__":
    main()
