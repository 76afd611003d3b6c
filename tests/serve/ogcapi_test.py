#!/usr/bin/python3
"""zarvo-serve's OGC API against the abstract tests of the conformance
classes it declares, and against real clients.

The OGC's test engine cannot run without the internet, so each test here
checks the abstract test assertions of some of the declared classes, named
in its docstring; together they cover every class the conformance
declaration lists. Then GDAL's OGCAPI driver reads the same pixels as the
WMS through both the Maps and the Tiles API, and OWSLib's OGC API modules
(Debian's 0.27 has those of OGC API - Common; it has none for Maps or
Tiles) read the landing page, the definition and the collections.

Environment: ZARVO_SERVE, ZARVO_DEMO_TILES.
"""
import json
import math
import os
import re
import sys
import tempfile
import time
import unittest
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from serve_harness import ZarvoServe  # noqa: E402

from osgeo import gdal  # noqa: E402
from owslib.ogcapi import API, Collections  # noqa: E402

gdal.UseExceptions()
gdal.SetConfigOption("GDAL_ENABLE_WMS_CACHE", "NO")
SERVE = os.environ["ZARVO_SERVE"]
TILES = os.environ["ZARVO_DEMO_TILES"]
DEMO_HIGHEST_LEVEL = 5
NORTH = 85.0511287798066
HALF_WORLD = 20037508.342789244
# The metres of a degree of the equator, and of a display pixel (0.28 mm).
METRES_PER_DEGREE = 2 * math.pi * 6378137 / 360
PIXEL_METRES = 0.00028
OGC = "http://www.opengis.net/def/rel/ogc/1.0/"
CRS84 = "http://www.opengis.net/def/crs/OGC/1.3/CRS84"
EPSG = "http://www.opengis.net/def/crs/EPSG/0/"
OPENAPI = "application/vnd.oai.openapi+json;version=3.0"
DECLARED = ["http://www.opengis.net/spec/ogcapi-common-1/1.0/conf/" + c for c in
            ("core", "landing-page", "json", "html", "oas30")] + \
    ["http://www.opengis.net/spec/ogcapi-common-2/1.0/conf/collections"] + \
    ["http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/" + c for c in
     ("core", "collection-map", "spatial-subsetting", "crs", "scaling", "background", "tilesets", "png", "jpeg")] + \
    ["http://www.opengis.net/spec/ogcapi-tiles-1/1.0/conf/" + c for c in
     ("core", "tileset", "tilesets-list", "geodata-tilesets", "png", "jpeg")] + \
    ["http://www.opengis.net/spec/tms/2.0/conf/" + c for c in
     ("tilematrixset", "json-tilematrixset", "tilesetmetadata", "json-tilesetmetadata", "tilematrixsetlimits",
      "json-tilematrixsetlimits")]
# The first bytes of each image format's files.
SIGNATURES = {"image/png": b"\x89PNG", "image/jpeg": b"\xff\xd8\xff\xe0", "image/webp": b"RIFF"}
# The texts of the service, with markup a page must escape.
METADATA = {"title": "Maps <b>&</b> tiles", "layers": {"aerial": {"attribution": "<script>alert(1)</script>"}}}


def decoded(body):
    """The bands, rows and columns of an image file's bytes."""
    gdal.FileFromMemBuffer("/vsimem/ogcapi", body)
    pixels = gdal.Open("/vsimem/ogcapi").ReadAsArray()
    gdal.Unlink("/vsimem/ogcapi")
    return pixels


def media_type(content_type):
    return (content_type or "").split(";")[0].strip()


def every_link(value):
    """Each link object anywhere in a document."""
    if isinstance(value, dict):
        if "href" in value and "rel" in value:
            yield value
        for member in value.values():
            yield from every_link(member)
    elif isinstance(value, list):
        for item in value:
            yield from every_link(item)


def link(document, rel, type_=None):
    found = [l for l in document["links"] if l["rel"] == rel and (type_ is None or l.get("type") == type_)]
    assert found, f"no link {rel} {type_ or ''} in {document['links']}"
    return found[0]


class OgcApi(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        metadata = os.path.join(cls.scratch.name, "about.json")
        with open(metadata, "w") as f:
            json.dump(METADATA, f)
        cls.server = ZarvoServe(SERVE, TILES, "--service-metadata", metadata).__enter__()
        cls.root = cls.server.base + "/ogcapi"

    @classmethod
    def tearDownClass(cls):
        code, errors = cls.server.stop()
        cls.scratch.cleanup()
        assert code == 0, errors

    def get(self, address, headers=None):
        """(status, content type, headers, body) of a GET of an absolute address of the service."""
        self.assertTrue(address.startswith(self.server.base), address)
        return self.server.get(address[len(self.server.base):], headers=headers)

    def document(self, address, headers=None):
        status, content_type, _, body = self.get(address, headers)
        self.assertEqual((status, media_type(content_type)), (200, "application/json"), address)
        return json.loads(body)

    def test_every_link_leads_to_what_it_says(self):
        """Common core and landing page (/conf/core/root-op, /conf/landing-page/root-success,
        api-definition-op and -success, conformance-op and -success), JSON (/conf/json/definition,
        content) and HTML (/conf/html/definition, content), OpenAPI 3.0 (/conf/oas30/oas-definition,
        completeness); Maps and Tiles conformance-success; every link of every document, followed,
        answers 200 in the media type it names."""
        landing = self.document(self.root + "/")
        self.assertEqual(landing["title"], METADATA["title"])
        self.assertEqual(link(landing, "service-desc")["type"], OPENAPI)
        self.assertEqual(link(landing, "service-doc")["type"], "text/html")
        for rel in ("conformance", OGC + "conformance", "data", OGC + "data", OGC + "tiling-schemes"):
            link(landing, rel, "application/json")
        conformance = self.document(link(landing, OGC + "conformance")["href"])
        self.assertEqual(sorted(conformance["conformsTo"]), sorted(DECLARED))
        # Every document, map and tile reached by following links from the landing page.
        seen, queue, pages = set(), [landing], 0
        while queue:
            for each in every_link(queue.pop(0)):
                address = each["href"]
                if each.get("templated") or address in seen or not address.startswith(self.root):
                    continue
                seen.add(address)
                with self.subTest(link=address):
                    status, content_type, _, body = self.get(address)
                    self.assertEqual((status, media_type(content_type)), (200, media_type(each["type"])))
                    if each["type"] == "text/html":
                        pages += 1
                        self.assertTrue(body.startswith(b"<!DOCTYPE html>\n<html lang=\"en\">"))
                        self.assertNotIn(b"<script>", body)
                    elif each["type"] == "application/json":
                        queue.append(json.loads(body))
                    elif each["type"] == OPENAPI:
                        self.assertEqual(json.loads(body)["servers"], [{"url": self.root}])
                    else:
                        self.assertEqual(body[:4], SIGNATURES[each["type"]])
        self.assertEqual(pages, len([a for a in seen if a.endswith("f=html")]))
        self.assertGreater(len(seen), 40, seen)
        # The markup of the operator's texts is text on a page.
        _, _, _, page = self.get(self.root + "/collections?f=html")
        self.assertIn(b"&lt;script&gt;alert(1)&lt;/script&gt;", page)
        self.assertIn(b"<title>Maps &lt;b&gt;&amp;&lt;/b&gt; tiles</title>",
                      self.get(self.root + "/?f=html")[3])
        # The definition names every path the API answers, each operation once.
        status, content_type, _, body = self.get(link(landing, "service-desc")["href"])
        self.assertEqual((status, content_type), (200, OPENAPI))
        definition = json.loads(body)
        self.assertTrue(definition["openapi"].startswith("3.0."))
        self.assertEqual(definition["servers"], [{"url": self.root}])
        collection = "/collections/{collectionId}"
        tiles = collection + "/map/tiles/{tileMatrixSetId}"
        self.assertEqual(sorted(definition["paths"]),
                         sorted(["/", "/conformance", "/api", "/collections", collection, collection + "/map",
                                 collection + "/map/tiles", tiles, tiles + "/{tileMatrix}/{tileRow}/{tileCol}",
                                 "/tileMatrixSets", "/tileMatrixSets/{tileMatrixSetId}"]))
        operations = [path["get"]["operationId"] for path in definition["paths"].values()]
        self.assertEqual(len(set(operations)), len(operations))
        for path in definition["paths"].values():
            for parameter in path["get"]["parameters"]:
                self.assertIn(parameter["$ref"].split("/")[-1], definition["components"]["parameters"])
        self.assertEqual(definition["info"]["x-OGC-limits"]["maps"], {"maxWidth": 2048, "maxHeight": 2048})

    def test_collections_describe_the_layers_and_their_maps(self):
        """Common collections (/conf/collections/rc-md-op, rc-md-success, src-md-op, src-md-success),
        Maps collection-map (/conf/collection-map/desc-links) and crs (/conf/crs/crs: the collection
        lists its CRSs), Tiles geodata-tilesets (/conf/geodata-tilesets/desc-links, operation) and Maps
        tilesets (/conf/tilesets/desc-links)."""
        collections = self.document(self.root + "/collections")
        self.assertEqual([c["id"] for c in collections["collections"]], ["map", "aerial", "hybrid"])
        for listed in collections["collections"]:
            with self.subTest(collection=listed["id"]):
                own = self.document(link(listed, "self", "application/json")["href"])
                self.assertEqual(own, listed)
                self.assertEqual(own["extent"]["spatial"], {"bbox": [[-180, -NORTH, 180, NORTH]], "crs": CRS84})
                self.assertEqual(own["crs"], [CRS84, EPSG + "4326", EPSG + "3857"])
                maps = [l for l in own["links"] if l["rel"] == OGC + "map"]
                self.assertEqual(sorted(l["type"] for l in maps), ["image/jpeg", "image/png", "image/webp"])
                path = urllib.parse.urlsplit(maps[0]["href"]).path
                self.assertEqual(path, f"/ogcapi/collections/{own['id']}/map")
                tilesets = link(own, OGC + "tilesets-map", "application/json")["href"]
                self.assertEqual(urllib.parse.urlsplit(tilesets).path, path + "/tiles")
        self.assertEqual(self.document(self.root + "/collections/aerial")["attribution"],
                         METADATA["layers"]["aerial"]["attribution"])

    def test_maps_are_of_the_area_crs_and_size_asked_for(self):
        """Maps core (/conf/core/map-op, map-response: Content-Crs and Content-Bbox in the answer's CRS
        and axis order, the negotiated format), spatial subsetting (bbox, bbox-crs, subset,
        subset-crs, center, center-crs), crs (/conf/crs/crs, map-success), scaling (width, height,
        scale-denominator; a missing side from the area's shape), PNG and JPEG."""
        tenth = 0.1 * METRES_PER_DEGREE / PIXEL_METRES  # a tenth of a degree a pixel at the equator
        cases = [
            # query, Accept, Content-Crs, Content-Bbox, width, height, image
            ("", None, CRS84, (-180, -NORTH, 180, NORTH), 1024, 484, b"\x89PNG"),
            ("bbox=-12,34,32,62&width=440", "image/jpeg", CRS84, (-12, 34, 32, 62), 440, 280, b"\xff\xd8"),
            ("bbox=-12,34,32,62&height=28&f=webp", None, CRS84, (-12, 34, 32, 62), 44, 28, b"RIFF"),
            ("bbox=170,0,-170,10&height=20&f=png", "image/jpeg", CRS84, (170, 0, -170, 10), 40, 20, b"\x89PNG"),
            ("crs=[EPSG:4326]&bbox=-12,34,32,62&width=44&height=28", None, EPSG + "4326", (34, -12, 62, 32), 44, 28,
             b"\x89PNG"),
            (f"crs={EPSG}3857&bbox-crs={EPSG}4326&bbox=0,0,85.0511287798066,90&height=100", None, EPSG + "3857",
             (0, 0, HALF_WORLD / 2, HALF_WORLD), 50, 100, b"\x89PNG"),
            ("subset=Lat(40:60),Lon(-10:20)&height=100", None, CRS84, (-10, 40, 20, 60), 150, 100, b"\x89PNG"),
            (f"subset-crs=[EPSG:3857]&subset=E(0:{HALF_WORLD!r}),N(0:{HALF_WORLD!r})&width=64", None, CRS84,
             (0, 0, 180, NORTH), 64, 30, b"\x89PNG"),
            (f"center=45,10&center-crs=[EPSG:4326]&width=100&height=50&scale-denominator={tenth!r}", None, CRS84,
             (10 - 5 / math.cos(math.radians(45)), 42.5, 10 + 5 / math.cos(math.radians(45)), 47.5), 100, 50,
             b"\x89PNG"),
            (f"bbox=0,-5,10,5&scale-denominator={tenth!r}", None, CRS84, (0, -5, 10, 5), 100, 100, b"\x89PNG"),
        ]
        for query, accept, crs, box, width, height, signature in cases:
            with self.subTest(query=query):
                status, _, headers, body = self.get(self.root + "/collections/map/map?" + query,
                                                    {"Accept": accept} if accept else None)
                self.assertEqual(status, 200, body)
                self.assertEqual(headers["Content-Crs"], f"<{crs}>")
                answered = [float(v) for v in headers["Content-Bbox"].split(",")]
                for got, expected in zip(answered, box):
                    self.assertAlmostEqual(got, expected, delta=1e-6 * max(1.0, abs(expected)))
                self.assertEqual(body[:len(signature)], signature)
                self.assertEqual(decoded(body).shape[-2:], (height, width))

    def test_what_has_no_tiles_is_the_background_asked_for(self):
        """Maps background (/conf/background/bgcolor-definition: hexadecimal and W3C names, white by
        default; transparent-definition: true without bgcolor, false with it, clear where true;
        void-color-definition and void-transparent-definition: as the background unless given;
        map-success) and Maps tilesets (/conf/tilesets/tiles-parameters: tiles follow them too).
        Rows 0-11 of each image lie north of 90 degrees, 12-21 beyond the tiles' edge, the rest on them."""
        box = "/collections/map/map?bbox=0,80,8,96&width=32&height=32"
        white, navy, red, black = (255, 255, 255), (0, 0, 128), (255, 0, 0), (0, 0, 0)
        cases = [
            # query, bands, colour and opacity north of 90, between the edge and 90
            ("", 4, white, 0, white, 0),
            ("&bgcolor=NAVY", 3, navy, 255, navy, 255),
            ("&bgcolor=0xFF0000&transparent=true", 4, red, 0, red, 0),
            ("&transparent=false&void-color=black", 3, black, 255, white, 255),
            ("&bgcolor=navy&void-transparent=true", 4, navy, 0, navy, 255),
            ("&void-color=black&void-transparent=false&f=jpeg", 3, black, 255, white, 255),
        ]
        for query, bands, beyond, beyond_opacity, off, off_opacity in cases:
            with self.subTest(query=query):
                status, _, _, body = self.get(self.root + box + query)
                self.assertEqual(status, 200, body)
                pixels = decoded(body).astype(int)
                self.assertEqual(pixels.shape[0], bands)
                opacity = pixels[3] if bands == 4 else 255 + 0 * pixels[0]
                tolerance = 48 if "jpeg" in query else 0
                for rows, colour, clear in ((slice(0, 12), beyond, beyond_opacity), (slice(12, 22), off, off_opacity)):
                    for band in range(3):
                        self.assertLessEqual(abs(pixels[band, rows, 1:-1] - colour[band]).max(), tolerance)
                    self.assertTrue((opacity[rows] == clear).all())
                self.assertTrue((opacity[22:] == 255).all())
        # A tile of the polar row too: clear above the tiles' edge, unless asked otherwise.
        for query, clear in (("", True), ("?bgcolor=navy", False)):
            with self.subTest(tile=query):
                _, _, _, body = self.get(self.root + "/collections/aerial/map/tiles/WorldCRS84Quad/0/0/1" + query)
                pixels = decoded(body)
                self.assertEqual(pixels.shape[0] == 4 and (pixels[3, :6] == 0).all(), clear)

    def test_tilesets_and_tile_matrix_sets(self):
        """Tiles core (/conf/core/tc-op, tc-tilematrix-definition, tc-tilerow-definition,
        tc-tilecol-definition, tc-success, tc-error), tileset (/conf/tileset/description), tilesets-list
        (/conf/tilesets-list/tileset-links), tile matrix sets and their JSON encoding
        (/conf/tilematrixset/model, /conf/json-tilematrixset/model, schema, media-type), tileset
        metadata and limits (/conf/tilesetmetadata/model, /conf/tilematrixsetlimits/model and
        their JSON)."""
        base = self.root + "/collections/hybrid/map/tiles"
        listed = self.document(base)["tilesets"]
        registry = "http://www.opengis.net/def/tilematrixset/OGC/1.0/"
        # CRS, scale and cell size at level 0, tiles across and down there, pixels a side, whether registered.
        sets = {"WebMercatorQuad": (EPSG + "3857", 559082264.0287178, 2 * HALF_WORLD / 256, 1, 1, 256, True),
                "WorldCRS84Quad": (CRS84, 279541132.0143589, 0.703125, 2, 1, 256, True),
                "WebMercatorQuad512": (EPSG + "3857", 559082264.0287178 / 2, 2 * HALF_WORLD / 512, 1, 1, 512, False),
                "WorldCRS84Quad512": (CRS84, 279541132.0143589 / 2, 0.3515625, 2, 1, 512, False)}
        names = [urllib.parse.urlsplit(link(t, "self")["href"]).path.rsplit("/", 1)[1] for t in listed]
        self.assertEqual(sorted(names), sorted(sets))
        for name, summary in zip(names, listed):
            crs, scale, cell, columns, rows, side, registered = sets[name]
            uri = registry + name if registered else None
            with self.subTest(tile_matrix_set=name):
                self.assertEqual((summary["dataType"], summary["crs"], summary.get("tileMatrixSetURI")), ("map", crs, uri))
                self.assertEqual(link(summary, "self", "application/json")["href"], f"{base}/{name}?f=json")
                tileset = self.document(link(summary, "self")["href"])
                self.assertEqual((tileset.get("tileMatrixSetURI"), tileset["crs"]), (uri, crs))
                items = {l["type"]: l for l in tileset["links"] if l["rel"] == "item"}
                self.assertEqual(sorted(items), ["image/jpeg", "image/png", "image/webp"])
                for item in items.values():
                    self.assertIs(item["templated"], True)
                    self.assertRegex(item["href"], r"/\{tileMatrix\}/\{tileRow\}/\{tileCol\}\?")
                definition = self.document(link(tileset, OGC + "tiling-scheme", "application/json")["href"])
                self.assertEqual((definition["id"], definition.get("uri"), definition["crs"]), (name, uri, crs))
                matrices = definition["tileMatrices"]
                self.assertEqual([m["id"] for m in matrices], [str(z) for z in range(21)])
                self.assertEqual((matrices[0]["scaleDenominator"], matrices[0]["cellSize"]), (scale, cell))
                metres_per_unit = METRES_PER_DEGREE if crs == CRS84 else 1.0
                for z, matrix in enumerate(matrices):
                    self.assertAlmostEqual(matrix["cellSize"] * metres_per_unit / PIXEL_METRES / matrix["scaleDenominator"],
                                           1.0, places=12)
                    self.assertEqual((matrix["matrixWidth"], matrix["matrixHeight"]), (columns << z, rows << z))
                    self.assertEqual((matrix["tileWidth"], matrix["tileHeight"], matrix["cornerOfOrigin"]),
                                     (side, side, "topLeft"))
                limits = tileset["tileMatrixSetLimits"]
                self.assertEqual([l["tileMatrix"] for l in limits], [str(z) for z in range(DEMO_HIGHEST_LEVEL + 1)])
                # The last tile within the limits is one; the next of each kind is none.
                deepest = limits[-1]
                tile = items["image/png"]["href"].format(tileMatrix=deepest["tileMatrix"], tileRow=deepest["maxTileRow"],
                                                         tileCol=deepest["maxTileCol"])
                status, content_type, _, body = self.get(tile)
                self.assertEqual((status, content_type), (200, "image/png"))
                self.assertEqual(decoded(body).shape[-2:], (side, side))
                for beyond in ((DEMO_HIGHEST_LEVEL + 1, 0, 0), (DEMO_HIGHEST_LEVEL, deepest["maxTileRow"] + 1, 0),
                               (DEMO_HIGHEST_LEVEL, 0, deepest["maxTileCol"] + 1)):
                    address = items["image/png"]["href"].format(tileMatrix=beyond[0], tileRow=beyond[1],
                                                                tileCol=beyond[2])
                    self.assertEqual(self.get(address)[0], 404, address)
        listed_sets = self.document(self.root + "/tileMatrixSets")["tileMatrixSets"]
        self.assertEqual(sorted(s["id"] for s in listed_sets), sorted(sets))

    def test_refusals_are_problem_documents_with_the_status_of_the_standards(self):
        """Common core's HTTP status codes and query parameters (/conf/core/query-param-capitalization,
        query-param-value-boolean), Maps' errors (4xx, 413 beyond maxWidth), Tiles' tc-error, and
        content negotiation (406 for a format not offered, by f or Accept). Nothing refused is drawn."""
        cases = [
            # path, Accept, status
            ("/nothing", None, 404),
            ("/collections/roads", None, 404),
            ("/collections/map/legend", None, 404),
            ("/collections/map/map/tiles/GoogleMapsCompatible", None, 404),
            ("/tileMatrixSets/WorldCRS84Quad/0", None, 404),
            ("/collections/map/map?BBOX=0,0,1,1", None, 400),
            ("/collections/map/map?transparent=TRUE", None, 400),
            ("/collections/map/map?bbox=0,0,1", None, 400),
            ("/collections/map/map?crs=EPSG:3857", None, 400),
            ("/collections/map/map?bbox=0,0,1,1&width=10&scale-denominator=5000", None, 400),
            ("/collections/map/map?width=2049", None, 413),
            ("/collections/map/map?f=html", None, 406),
            ("/collections", "image/png", 406),
            ("/collections/%3Cx%3E%ff", "text/html", 404),
        ]
        before = self.server.stats()["dataRequests"]
        for path, accept, status in cases:
            with self.subTest(path=path, accept=accept):
                got, content_type, headers, body = self.get(self.root + path, {"Accept": accept} if accept else None)
                self.assertEqual((got, content_type), (status, "application/problem+json"))
                problem = json.loads(body)
                self.assertEqual(problem["status"], status)
                self.assertTrue(problem["title"] and problem["detail"])
                self.assertEqual(headers["Cache-Control"], "no-store")
        self.assertEqual(self.server.stats()["dataRequests"], before, "a refused request reaches no plug-in")

    def test_answers_are_cached_by_format_and_advertise_the_public_address(self):
        """Documents and maps get entity tags and revalidate without drawing; an answer whose format
        the Accept header chose varies by it; --public-url sets every advertised address."""
        for path, headers, vary in [("/collections/map/map/tiles/WorldCRS84Quad/1/0/2", {"Accept": "image/*"},
                                     "Accept"),
                                    ("/collections/map/map?bbox=0,0,45,45&width=64&height=64&f=png", {}, None),
                                    ("/collections", {"Accept": "text/html"}, "Host, Accept")]:
            with self.subTest(path=path):
                status, _, first, _ = self.get(self.root + path, headers)
                self.assertEqual((status, ", ".join(first.get_all("Vary") or []) or None), (200, vary))
                before = self.server.stats()["dataRequests"]
                status, _, _, body = self.get(self.root + path, dict(headers, **{"If-None-Match": first["ETag"]}))
                self.assertEqual((status, body), (304, b""))
                self.assertEqual(self.server.stats()["dataRequests"], before, "a 304 draws nothing")
        _, _, json_answer, _ = self.get(self.root + "/collections", {"Accept": "application/json"})
        _, _, page_answer, _ = self.get(self.root + "/collections", {"Accept": "text/html"})
        self.assertNotEqual(json_answer["ETag"], page_answer["ETag"])
        with ZarvoServe(SERVE, TILES, "--public-url", "https://maps.example.org/m") as other:
            _, _, _, body = other.get("/ogcapi/collections/map/map/tiles/WebMercatorQuad",
                                      headers={"X-Forwarded-Host": "evil.example"})
            addresses = [l["href"] for l in json.loads(body)["links"]]
            self.assertTrue(addresses)
            for address in addresses:
                self.assertTrue(address.startswith("https://maps.example.org/m/ogcapi/"), address)

    def test_gdal_reads_the_pixels_of_the_wms(self):
        """GDAL's OGCAPI driver, through the Maps API (its own grid of requests, each checked against
        the WMS GetMap of the box GDAL asked for) and through the Tiles API (a window of the deepest
        level against the GetMaps of its tiles' boxes)."""
        address = f"OGCAPI:{self.root}/collections/aerial"
        maps = gdal.OpenEx(address, open_options=["API=MAP", "CACHE=NO"])
        self.assertEqual(maps.RasterCount, 4)
        overview = maps.GetRasterBand(1).GetOverviewCount() - 4
        window = [maps.GetRasterBand(b).GetOverview(overview).ReadAsArray(512, 0, 256, 256) for b in (1, 2, 3, 4)]
        # The box GDAL asked for, as the access log has it: the line is out
        # before the answer, its reading here may lag behind.
        pattern = re.compile(r'"GET (/ogcapi/collections/aerial/map\?f=png&width=256&height=256&bbox=\S+)"')
        deadline = time.monotonic() + 10
        while True:
            asked = [m.group(1) for m in map(pattern.search, list(self.server.access_lines)) if m]
            if asked or time.monotonic() > deadline:
                break
            time.sleep(0.05)
        self.assertEqual(len(asked), 1, asked)
        query = urllib.parse.parse_qs(urllib.parse.urlsplit(asked[0]).query)
        self.assertEqual((query["width"], query["height"]), (["256"], ["256"]))
        _, _, _, getmap = self.server.get("/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=aerial&STYLES="
                                          f"&FORMAT=image/png&CRS=CRS:84&BBOX={query['bbox'][0]}&WIDTH=256&HEIGHT=256")
        expected = decoded(getmap)
        for band in range(3):
            self.assertTrue((window[band] == expected[band]).all(), f"band {band + 1} unlike the WMS's")
        self.assertTrue((window[3] == 255).all())

        tiles = gdal.OpenEx(address, open_options=["API=TILES", "CACHE=NO"])
        level, span = DEMO_HIGHEST_LEVEL, 180.0 / 2 ** DEMO_HIGHEST_LEVEL
        west, top, size = tiles.GetGeoTransform()[0], tiles.GetGeoTransform()[3], tiles.GetGeoTransform()[1]
        self.assertEqual((tiles.RasterXSize, size), (256 * 2 ** (level + 1), span / 256))
        row0, column0 = 9, 37  # tile rows and columns of WorldCRS84Quad at that level
        y = round((top - (90 - row0 * span)) / size)
        window = tiles.ReadAsArray(column0 * 256, y, 512, 256)
        for column in (column0, column0 + 1):
            box = (-180 + column * span, 90 - (row0 + 1) * span, -180 + (column + 1) * span, 90 - row0 * span)
            _, _, _, getmap = self.server.get(
                "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=aerial&STYLES=&FORMAT=image/png&CRS=CRS:84"
                f"&BBOX={box[0]!r},{box[1]!r},{box[2]!r},{box[3]!r}&WIDTH=256&HEIGHT=256")
            part = window[:3, :, 256 * (column - column0):256 * (column - column0 + 1)]
            self.assertTrue((part == decoded(getmap)).all(), f"tile column {column} unlike the WMS's")
        self.assertEqual(west, -180.0)

    def test_owslib_reads_the_api(self):
        """OWSLib's OGC API - Common modules: the landing page, the conformance declaration, the
        OpenAPI definition (found by its service-desc link), the collections."""
        api = API(self.root, timeout=30)
        self.assertEqual(sorted(api.conformance()["conformsTo"]), sorted(DECLARED))
        self.assertEqual(api.api()["info"]["title"], METADATA["title"])
        collections = Collections(self.root, timeout=30)
        self.assertEqual([c["id"] for c in collections.collections()["collections"]], ["map", "aerial", "hybrid"])
        self.assertEqual(collections.collection("hybrid")["dataType"], "map")


if __name__ == "__main__":
    unittest.main(verbosity=2)
