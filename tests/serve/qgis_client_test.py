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
from serve_harness import ZarvoServe  # noqa: E402

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
try:
    from qgis.core import (QgsApplication, QgsCoordinateReferenceSystem, QgsCoordinateTransform,  # noqa: E402
                           QgsMapRendererSequentialJob, QgsMapSettings, QgsPointXY, QgsProject, QgsRasterLayer,
                           QgsRectangle)
    from qgis.PyQt.QtCore import QSize  # noqa: E402
    from qgis.PyQt.QtGui import QColor  # noqa: E402
    QGIS = None
except ImportError as error:
    QGIS = "QGIS cannot be imported (%s): install Debian's python3-qgis and qgis-providers" % error

SERVE = os.environ.get("ZARVO_SERVE", "")
WORLD_TILES = os.environ.get("ZARVO_WORLD_TILES", "")
SCREENSHOT = sys.argv.pop(1) if len(sys.argv) > 1 else None
if QGIS is None and not os.path.isdir(WORLD_TILES):
    QGIS = "the world tile set was not built"
# The map layer's colours (geodata/map_style.py).
LAND = (238, 232, 212)
WATER = (164, 201, 234)
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

    def draw(self, uri, project_crs, extent):
        layer = QgsRasterLayer(uri, "zarvo", "wms")
        if not layer.isValid():
            self.fail("QGIS cannot use the layer %s" % uri)
        settings = QgsMapSettings()
        settings.setLayers([layer])
        settings.setDestinationCrs(QgsCoordinateReferenceSystem(project_crs))
        settings.setExtent(extent)
        settings.setOutputSize(QSize(640, 480))
        settings.setBackgroundColor(QColor(255, 0, 255))
        job = QgsMapRendererSequentialJob(settings)
        job.start()
        job.waitForFinished()
        self.assertEqual([e.message for e in job.errors()], [])
        return job.renderedImage(), settings

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
                image, settings = self.draw(uri, crs, extent)
                blank = sum(1 for x in range(0, 640, 16) for y in range(0, 480, 16)
                            if QColor(image.pixel(x, y)).getRgb()[:3] == (255, 0, 255))
                self.assertEqual(blank, 0, "pixels QGIS left undrawn")
                for place, lon, lat, expected in PLACES:
                    point = QgsPointXY(lon, lat) if crs == "EPSG:4326" else to_mercator.transform(QgsPointXY(lon, lat))
                    pixel = settings.mapToPixel().transform(point)
                    colour = QColor(image.pixel(int(pixel.x()), int(pixel.y()))).getRgb()[:3]
                    self.assertTrue(all(abs(a - b) <= 12 for a, b in zip(colour, expected)),
                                    "%s at %s is %s, not %s" % (name, place, colour, expected))
                if SCREENSHOT and name == "WMTS in EPSG:3857":
                    image.save(SCREENSHOT)


if __name__ == "__main__":
    if QGIS is None:
        # QGIS wants its application object made at the top and kept to the end.
        APPLICATION = QgsApplication([], False)
        APPLICATION.initQgis()
    outcome = unittest.main(verbosity=2, exit=False).result
    if QGIS is None:
        APPLICATION.exitQgis()
    sys.exit(0 if outcome.wasSuccessful() else 1)
