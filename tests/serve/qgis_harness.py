"""QGIS for the tests, as Debian's python3-qgis gives it (offscreen):
drawing a layer and checking the drawing's colours at named places.

MISSING says why QGIS cannot be had here, or is None.
"""
import os
import sys
import unittest

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
try:
    from qgis.core import (QgsApplication, QgsCoordinateReferenceSystem, QgsMapRendererSequentialJob,
                           QgsMapSettings, QgsPointXY)
    from qgis.PyQt.QtCore import QSize
    from qgis.PyQt.QtGui import QColor
    MISSING = None
except ImportError as error:
    MISSING = "QGIS cannot be imported (%s): install Debian's python3-qgis and qgis-providers" % error

# The map layer's colours (geodata/map_style.py).
LAND = (238, 232, 212)
WATER = (164, 201, 234)
UNDRAWN = (255, 0, 255)


def draw(test, layer, crs, extent):
    """QGIS's 640 x 480 drawing of `layer` over `extent` in `crs`, on a
    background no layer has: (image, settings)."""
    if not layer.isValid():
        test.fail("QGIS cannot use the layer %s" % layer.source())
    settings = QgsMapSettings()
    settings.setLayers([layer])
    settings.setDestinationCrs(QgsCoordinateReferenceSystem(crs))
    settings.setExtent(extent)
    settings.setOutputSize(QSize(640, 480))
    settings.setBackgroundColor(QColor(*UNDRAWN))
    job = QgsMapRendererSequentialJob(settings)
    job.start()
    job.waitForFinished()
    test.assertEqual([e.message for e in job.errors()], [])
    return job.renderedImage(), settings


def check_places(test, name, image, settings, places, to_map=lambda point: point):
    """No pixel left undrawn, and each place (name, longitude, latitude,
    colour) of that colour; `to_map` takes a point to the map's CRS."""
    blank = sum(1 for x in range(0, 640, 16) for y in range(0, 480, 16)
                if QColor(image.pixel(x, y)).getRgb()[:3] == UNDRAWN)
    test.assertEqual(blank, 0, "pixels QGIS left undrawn")
    for place, lon, lat, expected in places:
        pixel = settings.mapToPixel().transform(to_map(QgsPointXY(lon, lat)))
        colour = QColor(image.pixel(int(pixel.x()), int(pixel.y()))).getRgb()[:3]
        test.assertTrue(all(abs(a - b) <= 12 for a, b in zip(colour, expected)),
                        "%s at %s is %s, not %s" % (name, place, colour, expected))


def main():
    """The tests of the calling script, with QGIS's application made first
    and kept to the end, as QGIS wants it."""
    application = None
    if MISSING is None:
        application = QgsApplication([], False)
        application.initQgis()
    outcome = unittest.main(verbosity=2, exit=False).result
    if application is not None:
        application.exitQgis()
    sys.exit(0 if outcome.wasSuccessful() else 1)
