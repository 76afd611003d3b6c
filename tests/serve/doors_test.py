#!/usr/bin/python3
"""Every door of zarvo-serve draws through the one path: a map or tile asked
at any door is byte for byte the WMS GetMap or the WMTS tile of the same
grid, format and background.

Environment: ZARVO_SERVE, ZARVO_DEMO_TILES.
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from serve_harness import ZarvoServe  # noqa: E402

SERVE = os.environ["ZARVO_SERVE"]
TILES = os.environ["ZARVO_DEMO_TILES"]
HALF_WORLD = 20037508.342789244


def getmap(layer, crs, bbox, width, height, image="png", version="1.3.0", extra=""):
    reference = "CRS" if version == "1.3.0" else "SRS"
    return (f"/wms?SERVICE=WMS&VERSION={version}&REQUEST=GetMap&LAYERS={layer}&STYLES=&FORMAT=image/{image}"
            f"&{reference}={crs}&BBOX={bbox}&WIDTH={width}&HEIGHT={height}{extra}")


def wmts(layer, matrix_set, level, row, column, extension="png"):
    return f"/wmts/1.0.0/{layer}/default/{matrix_set}/{level}/{row}/{column}.{extension}"


OGCAPI = "/ogcapi/collections"
# One request at another door, and the WMS GetMap or WMTS tile it must equal:
# what, the request, its headers, the reference.
CASES = [
    ("an OGC API map in CRS84", OGCAPI + "/map/map?bbox=-12,34,32,62&width=440&height=280", {},
     getmap("map", "CRS:84", "-12,34,32,62", 440, 280)),
    ("an OGC API map in EPSG:4326, its bbox latitude first",
     OGCAPI + "/hybrid/map?crs=http://www.opengis.net/def/crs/EPSG/0/4326"
     "&bbox-crs=http://www.opengis.net/def/crs/EPSG/0/4326&bbox=40,-10,60,20&width=300&height=200", {},
     getmap("hybrid", "EPSG:4326", "40,-10,60,20", 300, 200)),
    ("an OGC API map in EPSG:3857 by its CURIEs",
     OGCAPI + "/aerial/map?crs=[EPSG:3857]&bbox-crs=[EPSG:3857]&bbox=-1000000,4000000,3000000,7000000"
     "&width=400&height=300", {},
     getmap("aerial", "EPSG:3857", "-1000000,4000000,3000000,7000000", 400, 300)),
    ("an OGC API map as JPEG, by its Accept header", OGCAPI + "/aerial/map?bbox=5,44,16,50&width=330&height=180",
     {"Accept": "image/jpeg"}, getmap("aerial", "CRS:84", "5,44,16,50", 330, 180, image="jpeg")),
    ("an OGC API map over the pole on a named colour", OGCAPI + "/map/map?bbox=0,80,20,90&width=80&height=40"
     "&bgcolor=Navy", {}, getmap("map", "CRS:84", "0,80,20,90", 80, 40, extra="&BGCOLOR=0x000080")),
    ("an OGC API map over the pole, opaque", OGCAPI + "/map/map?subset=Lat(80:90),Lon(0:20)&width=80&height=40"
     "&transparent=false", {}, getmap("map", "EPSG:4326", "0,80,20,90", 80, 40, version="1.1.1")),
    ("an OGC API tile of WebMercatorQuad", OGCAPI + "/hybrid/map/tiles/WebMercatorQuad/3/2/4", {},
     wmts("hybrid", "WebMercatorQuad", 3, 2, 4)),
    ("an OGC API tile of WorldCRS84Quad as JPEG", OGCAPI + "/map/map/tiles/WorldCRS84Quad/2/1/5?f=jpeg", {},
     wmts("map", "WorldCRS84Quad", 2, 1, 5, "jpeg")),
    ("an OGC API tile over the pole, opaque", OGCAPI + "/aerial/map/tiles/WorldCRS84Quad/1/0/3?transparent=false",
     {}, wmts("aerial", "WorldCRS84Quad", 1, 0, 3)),
    ("an OGC API tile and the GetMap of its box", OGCAPI + "/map/map/tiles/WebMercatorQuad/2/1/1", {},
     getmap("map", "EPSG:3857", f"{-HALF_WORLD / 2!r},0.0,0.0,{HALF_WORLD / 2!r}", 256, 256)),
]


class Doors(unittest.TestCase):
    def test_every_door_draws_the_same_bytes(self):
        with ZarvoServe(SERVE, TILES) as server:
            for what, request, headers, reference in CASES:
                with self.subTest(what):
                    status, content_type, _, body = server.get(request, headers=headers)
                    expected_status, expected_type, _, expected = server.get(reference)
                    self.assertEqual((status, content_type), (200, expected_type))
                    self.assertEqual(expected_status, 200)
                    self.assertEqual(body, expected)
            code, errors = server.stop()
            self.assertEqual(code, 0, errors)


if __name__ == "__main__":
    unittest.main(verbosity=2)
