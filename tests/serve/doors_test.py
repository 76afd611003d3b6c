#!/usr/bin/python3
"""Every door draws the same tile alike: one table of addresses whose
answers must be the same bytes, whichever door they come through (WMS
GetMap of the tile's box, WMTS key-value and RESTful, XYZ with its
extension, with @2x for the 512 px twin, or with the format from Accept,
the OGC API's tiles and maps), in every format. Then the XYZ door's
TileJSON, whose template filled in is the tile, at the address the client
reached the service at.

Environment: ZARVO_SERVE, ZARVO_DEMO_TILES.
"""
import json
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from serve_harness import ServedTestCase  # noqa: E402

SERVE = os.environ["ZARVO_SERVE"]
TILES = os.environ["ZARVO_DEMO_TILES"]
HIGHEST_LEVEL = 5  # the demo tile set's deepest zoom, 6, less one
HALF_WORLD = 20037508.342789244
# Each set's GetMap grid, top-left corner and tile span at level 0, and pixels a side.
SETS = {"WebMercatorQuad": ("EPSG:3857", -HALF_WORLD, HALF_WORLD, 2 * HALF_WORLD, 256),
        "WorldCRS84Quad": ("CRS:84", -180.0, 90.0, 180.0, 256),
        "WebMercatorQuad512": ("EPSG:3857", -HALF_WORLD, HALF_WORLD, 2 * HALF_WORLD, 512),
        "WorldCRS84Quad512": ("CRS:84", -180.0, 90.0, 180.0, 512)}
MEDIA = {"png": "image/png", "jpeg": "image/jpeg", "webp": "image/webp"}
# What browsers send for images.
BROWSER = "image/avif,image/webp,image/apng,image/svg+xml,image/*,*/*;q=0.8"


def wms(layer, matrix_set, level, row, column, extension):
    """The GetMap of a tile's box, as the tile matrix set standard gives it."""
    crs, left, top, span, size = SETS[matrix_set]
    span /= 2 ** level
    box = (left + column * span, top - (row + 1) * span, left + (column + 1) * span, top - row * span)
    return ("/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&STYLES=&LAYERS=%s&CRS=%s&BBOX=%r,%r,%r,%r&WIDTH=%d"
            "&HEIGHT=%d&FORMAT=%s" % (layer, crs, *box, size, size, MEDIA[extension]), None)


def wmts_rest(layer, matrix_set, level, row, column, extension):
    return f"/wmts/1.0.0/{layer}/default/{matrix_set}/{level}/{row}/{column}.{extension}", None


def wmts_kvp(layer, matrix_set, level, row, column, extension):
    return (f"/wmts?SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER={layer}&STYLE=default&FORMAT={MEDIA[extension]}"
            f"&TILEMATRIXSET={matrix_set}&TILEMATRIX={level}&TILEROW={row}&TILECOL={column}", None)


def xyz(layer, matrix_set, level, x, y, suffix, accept=None):
    return f"/tiles/{layer}/{matrix_set}/{level}/{x}/{y}{suffix}", accept


def ogcapi(layer, matrix_set, level, row, column, extension, accept=None):
    """An OGC API tile, opaque as the other doors' are (it is clear off the tiles by default)."""
    image = f"f={extension}&" if accept is None else ""
    return (f"/ogcapi/collections/{layer}/map/tiles/{matrix_set}/{level}/{row}/{column}?{image}transparent=false",
            accept)


def getmap(layer, crs, bbox, width, height, extension="png", version="1.3.0", extra=""):
    axis = "CRS" if version == "1.3.0" else "SRS"
    return (f"/wms?SERVICE=WMS&VERSION={version}&REQUEST=GetMap&STYLES=&LAYERS={layer}&{axis}={crs}&BBOX={bbox}"
            f"&WIDTH={width}&HEIGHT={height}&FORMAT={MEDIA[extension]}{extra}", None)


def ogcapi_map(layer, query, accept=None):
    return f"/ogcapi/collections/{layer}/map?{query}", accept


# What is asked, the addresses (with an Accept header where it chooses),
# and the media type every answer must have.
DOORS = [
    ("a map tile, PNG", "image/png",
     [xyz("map", "WebMercatorQuad", 3, 4, 2, ".png"), wmts_rest("map", "WebMercatorQuad", 3, 2, 4, "png"),
      wmts_kvp("map", "WebMercatorQuad", 3, 2, 4, "png"), ogcapi("map", "WebMercatorQuad", 3, 2, 4, "png"),
      wms("map", "WebMercatorQuad", 3, 2, 4, "png")]),
    ("an aerial tile, JPEG", "image/jpeg",
     [xyz("aerial", "WorldCRS84Quad", 2, 5, 1, ".jpg"), wmts_rest("aerial", "WorldCRS84Quad", 2, 1, 5, "jpeg"),
      ogcapi("aerial", "WorldCRS84Quad", 2, 1, 5, None, "image/jpeg"),
      wms("aerial", "WorldCRS84Quad", 2, 1, 5, "jpeg")]),
    ("a hybrid tile, WebP", "image/webp",
     [xyz("hybrid", "WebMercatorQuad", 2, 1, 1, ".webp"), wmts_rest("hybrid", "WebMercatorQuad", 2, 1, 1, "webp"),
      wmts_kvp("hybrid", "WebMercatorQuad", 2, 1, 1, "webp"), ogcapi("hybrid", "WebMercatorQuad", 2, 1, 1, "webp"),
      wms("hybrid", "WebMercatorQuad", 2, 1, 1, "webp")]),
    ("a tile over the pole, opaque", "image/png",
     [ogcapi("aerial", "WorldCRS84Quad", 1, 0, 3, "png"), wmts_rest("aerial", "WorldCRS84Quad", 1, 0, 3, "png")]),
    ("a map tile, WebP (lossless)", "image/webp",
     [xyz("map", "WorldCRS84Quad", 3, 9, 2, ".webp"), wmts_rest("map", "WorldCRS84Quad", 3, 2, 9, "webp"),
      wms("map", "WorldCRS84Quad", 3, 2, 9, "webp")]),
    ("@2x: the twin's tile and the 512 x 512 GetMap of the box", "image/png",
     [xyz("map", "WebMercatorQuad", 3, 4, 2, "@2x.png"), xyz("map", "WebMercatorQuad512", 3, 4, 2, ".png"),
      wmts_rest("map", "WebMercatorQuad512", 3, 2, 4, "png"), ogcapi("map", "WebMercatorQuad512", 3, 2, 4, "png"),
      wms("map", "WebMercatorQuad512", 3, 2, 4, "png")]),
    ("@2x in longitude/latitude, WebP", "image/webp",
     [xyz("aerial", "WorldCRS84Quad", 2, 5, 1, "@2x.webp"), wmts_kvp("aerial", "WorldCRS84Quad512", 2, 1, 5, "webp"),
      wms("aerial", "WorldCRS84Quad512", 2, 1, 5, "webp")]),
    ("@2x at the deepest level, past the tiles' zoom", "image/jpeg",
     [xyz("hybrid", "WebMercatorQuad", HIGHEST_LEVEL, 17, 9, "@2x.jpeg"),
      wmts_rest("hybrid", "WebMercatorQuad512", HIGHEST_LEVEL, 9, 17, "jpeg"),
      wms("hybrid", "WebMercatorQuad512", HIGHEST_LEVEL, 9, 17, "jpeg")]),
    ("a browser gets WebP", "image/webp",
     [xyz("map", "WebMercatorQuad", 3, 4, 2, "", BROWSER), xyz("map", "WebMercatorQuad", 3, 4, 2, ".webp")]),
    ("@2x for MapLibre: WebP", "image/webp",
     [xyz("hybrid", "WorldCRS84Quad", 1, 2, 0, "@2x", "image/webp,*/*"),
      wmts_rest("hybrid", "WorldCRS84Quad512", 1, 0, 2, "webp")]),
    ("anything: the layer's own format", "image/jpeg",
     [xyz("aerial", "WebMercatorQuad", 1, 0, 1, "", "*/*"), wmts_rest("aerial", "WebMercatorQuad", 1, 1, 0, "jpeg")]),
    ("no WebP: the next the client takes", "image/png",
     [xyz("hybrid", "WebMercatorQuad", 1, 0, 1, "", "image/png, image/jpeg;q=0.5"),
      wmts_rest("hybrid", "WebMercatorQuad", 1, 1, 0, "png")]),
    # The OGC API's maps and the GetMaps of the same grid, format and background.
    ("an OGC API map in CRS84", "image/png",
     [ogcapi_map("map", "bbox=-12,34,32,62&width=440&height=280&transparent=false&f=png"),
      getmap("map", "CRS:84", "-12,34,32,62", 440, 280)]),
    ("an OGC API map in EPSG:4326, its bbox latitude first", "image/png",
     [ogcapi_map("hybrid", "crs=http://www.opengis.net/def/crs/EPSG/0/4326"
                 "&bbox-crs=http://www.opengis.net/def/crs/EPSG/0/4326&bbox=40,-10,60,20&width=300"
                 "&transparent=false&f=png"),
      getmap("hybrid", "EPSG:4326", "40,-10,60,20", 300, 200)]),
    ("an OGC API map in EPSG:3857 by its CURIEs, WebP", "image/webp",
     [ogcapi_map("aerial", "crs=[EPSG:3857]&bbox-crs=[EPSG:3857]&bbox=-1000000,4000000,3000000,7000000&width=400"
                 "&height=300&f=webp"),
      getmap("aerial", "EPSG:3857", "-1000000,4000000,3000000,7000000", 400, 300, "webp")]),
    ("an OGC API map as JPEG, by its Accept header", "image/jpeg",
     [ogcapi_map("aerial", "bbox=5,44,16,50&width=330&height=180", "image/jpeg"),
      getmap("aerial", "CRS:84", "5,44,16,50", 330, 180, "jpeg")]),
    ("an OGC API map over the pole on a named colour", "image/png",
     [ogcapi_map("map", "subset=Lat(80:90),Lon(0:20)&width=80&height=40&bgcolor=Navy&f=png"),
      getmap("map", "EPSG:4326", "0,80,20,90", 80, 40, version="1.1.1", extra="&BGCOLOR=0x000080")]),
]


class Doors(ServedTestCase):
    SERVE, TILES = SERVE, TILES

    def fetch(self, path, accept):
        status, content_type, headers, body = self.server.get(path, headers={"Accept": accept} if accept else None)
        self.assertEqual(status, 200, "%s: %s" % (path, body[:300]))
        return content_type, headers, body

    def test_every_door_answers_a_tile_with_the_same_bytes(self):
        for what, media_type, addresses in DOORS:
            with self.subTest(what):
                answers = [(path, accept, *self.fetch(path, accept)) for path, accept in addresses]
                first = answers[0][4]
                for path, accept, content_type, headers, body in answers:
                    self.assertEqual(content_type, media_type, path)
                    self.assertEqual(body, first, "%s unlike %s" % (path, answers[0][0]))
                    # A format chosen by Accept is said to be, under the
                    # tag of that format's bytes.
                    self.assertEqual(headers.get("Vary"), "Accept" if accept else None, path)
                    self.assertEqual(headers["ETag"], answers[-1][3]["ETag"], path)

    def test_tilejson_gives_the_tiles_at_the_address_the_client_reached(self):
        status, content_type, headers, body = self.server.get(
            "/tiles/hybrid/WebMercatorQuad/tilejson.json", headers={"Host": "maps.example:8080"})
        self.assertEqual((status, content_type, headers.get("Vary")), (200, "application/json", "Host"))
        document = json.loads(body)
        self.assertEqual(document["tilejson"], "3.0.0")
        self.assertEqual(document["tiles"], ["http://maps.example:8080/tiles/hybrid/WebMercatorQuad/{z}/{x}/{y}"])
        self.assertEqual((document["minzoom"], document["maxzoom"], document["scheme"]), (0, HIGHEST_LEVEL, "xyz"))
        self.assertEqual(document["bounds"], [-180, -85.0511287798066, 180, 85.0511287798066])
        west, south, east, north = document["bounds"]
        longitude, latitude, zoom = document["center"]
        self.assertTrue(west <= longitude <= east and south <= latitude <= north and 0 <= zoom <= HIGHEST_LEVEL)
        self.assertTrue(document["name"] and document["description"] and "attribution" in document)
        # The template, filled in, is the tile; in the set's twin too.
        for matrix_set, row in (("WebMercatorQuad", 1), ("WebMercatorQuad512", 1)):
            _, _, _, twin = self.server.get(f"/tiles/hybrid/{matrix_set}/tilejson.json")
            template = json.loads(twin)["tiles"][0]
            path = template.replace(self.server.base, "").format(z=2, x=3, y=row)
            self.assertEqual(self.fetch(path, "image/png")[2],
                             self.fetch(f"/wmts/1.0.0/hybrid/default/{matrix_set}/2/{row}/3.png", None)[2])


if __name__ == "__main__":
    unittest.main(verbosity=2)
