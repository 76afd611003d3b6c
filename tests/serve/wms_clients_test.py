#!/usr/bin/python3
"""zarvo-serve against real WMS clients.

GDAL's WMS driver reads GetMaps and must get the very pixels zarvo-render
writes for the same request; OWSLib reads the capabilities of both
versions; bad requests get exception reports with the standard codes.

Environment: ZARVO_SERVE, ZARVO_RENDER, ZARVO_PLUGIN, ZARVO_DEMO_TILES.
"""
import math
import os
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from serve_harness import ZarvoServe  # noqa: E402

from osgeo import gdal  # noqa: E402
from owslib.wms import WebMapService  # noqa: E402

gdal.UseExceptions()
SERVE = os.environ["ZARVO_SERVE"]
RENDER = os.environ["ZARVO_RENDER"]
PLUGIN = os.environ["ZARVO_PLUGIN"]
TILES = os.environ["ZARVO_DEMO_TILES"]
DEMO_MAX_ZOOM = 6
COVERAGE_NORTH = 85.0511287798066


def choose_zoom(dx, dy, latitude, max_zoom):
    """The README's rule: the smallest zoom whose tiles have at least one
    pixel per output pixel in both directions at the middle latitude."""
    shrink = math.cos(latitude * (math.pi / 180.0))
    for zoom in range(1, max_zoom):
        tile_pixel = 360.0 / (256.0 * 2.0 ** (zoom - 1))
        if tile_pixel <= dx and tile_pixel * shrink <= dy:
            return zoom
    return max_zoom


def render_reference(layer, west, south, east, north, width, height, directory):
    """What zarvo-render writes for the pixel centres of a WMS box."""
    dx, dy = (east - west) / width, (north - south) / height
    box = ",".join(repr(v) for v in (west + dx / 2, south + dy / 2, east - dx / 2, north - dy / 2))
    zoom = choose_zoom(dx, dy, (south + north) / 2, DEMO_MAX_ZOOM)
    out = os.path.join(directory, "reference.png")
    subprocess.run([RENDER, "--quiet", "--plugin", PLUGIN, "--layer", layer, "--zoom", str(zoom), "--bbox", box,
                    "--size", "%dx%d" % (width, height), "--tiles", TILES, "--out", out],
                   check=True, stdout=subprocess.DEVNULL)
    return gdal.Open(out).ReadRaster(), zoom


def gdal_service(base, version, crs, layer, west, south, east, north, width, height):
    """A GDAL WMS description whose one block is the whole window, so that
    GDAL sends exactly one GetMap for exactly this box and size."""
    order = "<BBoxOrder>yxYX</BBoxOrder>" if version == "1.3.0" and crs == "EPSG:4326" else ""
    crs_tag = "CRS" if version == "1.3.0" else "SRS"
    return f"""<GDAL_WMS>
<Service name="WMS"><Version>{version}</Version><ServerUrl>{base}/wms?</ServerUrl>
<{crs_tag}>{crs}</{crs_tag}><ImageFormat>image/png</ImageFormat><Layers>{layer}</Layers><Styles></Styles>{order}</Service>
<DataWindow><UpperLeftX>{west!r}</UpperLeftX><UpperLeftY>{north!r}</UpperLeftY>
<LowerRightX>{east!r}</LowerRightX><LowerRightY>{south!r}</LowerRightY>
<SizeX>{width}</SizeX><SizeY>{height}</SizeY></DataWindow>
<BlockSizeX>{width}</BlockSizeX><BlockSizeY>{height}</BlockSizeY><BandsCount>3</BandsCount>
<Timeout>60</Timeout><MaxConnections>1</MaxConnections></GDAL_WMS>"""


class WmsClients(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = ZarvoServe(SERVE, TILES).__enter__()
        cls.scratch = tempfile.TemporaryDirectory()

    @classmethod
    def tearDownClass(cls):
        code, errors = cls.server.stop()
        cls.scratch.cleanup()
        assert code == 0, errors

    def test_gdal_reads_the_pixels_zarvo_render_writes(self):
        cases = [
            # version, crs, layer, west, south, east, north, width, height
            ("1.3.0", "EPSG:4326", "map", -12.0, 34.0, 32.0, 62.0, 1000, 760),
            ("1.3.0", "CRS:84", "aerial", 5.0, 44.0, 16.0, 50.0, 640, 333),
            ("1.1.1", "EPSG:4326", "hybrid", -100.0, -40.0, 60.0, 70.0, 517, 401),
            ("1.3.0", "EPSG:4326", "hybrid", 100.25, -10.5, 101.0, -10.0, 97, 64),
            ("1.1.1", "EPSG:4326", "map", -179.0, -80.0, 179.0, 80.0, 300, 200),
        ]
        for version, crs, layer, west, south, east, north, width, height in cases:
            with self.subTest(version=version, crs=crs, layer=layer, box=(west, south, east, north)):
                before = self.server.stats()["dataRequests"]
                dataset = gdal.Open(gdal_service(self.server.base, version, crs, layer, west, south, east, north,
                                                 width, height))
                self.assertEqual((dataset.RasterXSize, dataset.RasterYSize), (width, height))
                served = dataset.ReadRaster()
                dataset = None
                self.assertEqual(self.server.stats()["dataRequests"], before + 1, "one DataRequest per GetMap")
                expected, _ = render_reference(layer, west, south, east, north, width, height, self.scratch.name)
                self.assertEqual(len(served), len(expected))
                differing = sum(1 for a, b in zip(served, expected) if a != b)
                self.assertEqual(differing, 0, "bytes differing from zarvo-render")

    def test_reports_the_zoom_of_the_rule(self):
        cases = [
            (-180.0, -85.0, 180.0, 85.0, 256, 121),
            (0.0, 0.0, 90.0, 45.0, 256, 128),
            (-12.0, 34.0, 32.0, 62.0, 1000, 760),
            (10.0, 50.0, 10.01, 50.01, 100, 100),
        ]
        for west, south, east, north, width, height in cases:
            with self.subTest(box=(west, south, east, north)):
                status, _, headers, _ = self.server.get(
                    "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png"
                    f"&CRS=CRS:84&BBOX={west!r},{south!r},{east!r},{north!r}&WIDTH={width}&HEIGHT={height}")
                self.assertEqual(status, 200)
                dx, dy = (east - west) / width, (north - south) / height
                self.assertEqual(int(headers["X-Zarvo-Zoom"]),
                                 choose_zoom(dx, dy, (south + north) / 2, DEMO_MAX_ZOOM))
                # Where the answer's time went: the benchmark's time split reads it.
                self.assertRegex(headers["Server-Timing"],
                                 r"^tiles;dur=[\d.]+, raster;dur=[\d.]+, encode;dur=[\d.]+, wms;dur=[\d.]+$")

    def test_owslib_reads_both_capabilities(self):
        for version in ("1.3.0", "1.1.1"):
            with self.subTest(version=version):
                wms = WebMapService(self.server.base + "/wms", version=version, timeout=30)
                self.assertEqual(wms.identification.version, version)
                self.assertEqual(sorted(wms.contents), ["aerial", "hybrid", "map"])
                layer = wms["aerial"]
                self.assertIn("EPSG:4326", layer.crsOptions)
                if version == "1.3.0":
                    self.assertIn("CRS:84", layer.crsOptions)
                west, south, east, north = layer.boundingBoxWGS84
                self.assertEqual((west, east), (-180.0, 180.0))
                self.assertAlmostEqual(north, COVERAGE_NORTH, places=9)
                self.assertAlmostEqual(south, -COVERAGE_NORTH, places=9)
                self.assertEqual(sorted(wms.getOperationByName("GetMap").formatOptions), ["image/jpeg", "image/png"])
                image = wms.getmap(layers=["hybrid"], styles=[""], srs="EPSG:4326",
                                   bbox=(-10.0, 40.0, 20.0, 60.0), size=(300, 200), format="image/jpeg")
                self.assertEqual(image.read()[:3], b"\xff\xd8\xff")

    def test_capabilities_advertise_the_limits(self):
        status, content_type, _, body = self.server.get("/wms?SERVICE=WMS&REQUEST=GetCapabilities")
        self.assertEqual((status, content_type), (200, "text/xml"))
        ns = {"w": "http://www.opengis.net/wms"}
        root = ET.fromstring(body)
        self.assertEqual(root.find("w:Service/w:MaxWidth", ns).text, "2048")
        self.assertEqual(root.find("w:Service/w:MaxHeight", ns).text, "2048")
        boxes = root.findall("w:Capability/w:Layer/w:Layer/w:BoundingBox[@CRS='EPSG:4326']", ns)
        self.assertEqual(len(boxes), 3)
        self.assertEqual(float(boxes[0].get("minx")), -COVERAGE_NORTH)  # latitude first
        self.assertEqual(float(boxes[0].get("miny")), -180.0)

    def test_bad_requests_get_exception_reports(self):
        get_map = "/wms?SERVICE=WMS&REQUEST=GetMap&STYLES=&FORMAT=image/png&WIDTH=64&HEIGHT=64"
        cases = [
            # query, HTTP status, code, content type
            ("/wms", 400, "MissingParameterValue", "text/xml"),
            ("/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetFeatureInfo", 501, "OperationNotSupported", "text/xml"),
            (get_map + "&VERSION=1.3.0&LAYERS=roads&CRS=CRS:84&BBOX=0,0,1,1", 400, "LayerNotDefined", "text/xml"),
            (get_map + "&VERSION=1.1.1&LAYERS=roads&SRS=EPSG:4326&BBOX=0,0,1,1", 400, "LayerNotDefined",
             "application/vnd.ogc.se_xml"),
            (get_map + "&VERSION=1.3.0&LAYERS=map&CRS=EPSG:3857&BBOX=0,0,1,1", 400, "InvalidCRS", "text/xml"),
            (get_map + "&VERSION=1.1.1&LAYERS=map&SRS=EPSG:3857&BBOX=0,0,1,1", 400, "InvalidSRS",
             "application/vnd.ogc.se_xml"),
            (get_map.replace("image/png", "image/tiff") + "&VERSION=1.3.0&LAYERS=map&CRS=CRS:84&BBOX=0,0,1,1", 400,
             "InvalidFormat", "text/xml"),
            (get_map.replace("STYLES=", "STYLES=fancy") + "&VERSION=1.3.0&LAYERS=map&CRS=CRS:84&BBOX=0,0,1,1", 400,
             "StyleNotDefined", "text/xml"),
            (get_map + "&VERSION=1.3.0&LAYERS=map&CRS=CRS:84&BBOX=1,0,0,1", 400, "InvalidParameterValue", "text/xml"),
            (get_map.replace("WIDTH=64", "WIDTH=5000") + "&VERSION=1.3.0&LAYERS=map&CRS=CRS:84&BBOX=0,0,1,1", 400,
             "InvalidParameterValue", "text/xml"),
            (get_map + "&VERSION=1.3.0&LAYERS=map&CRS=CRS:84", 400, "MissingParameterValue", "text/xml"),
            ("/wms?SERVICE=WMS&REQUEST=GetMap&VERSION=1.3.0&LAYERS=%3Cx%3E&STYLES=&CRS=CRS:84", 400,
             "LayerNotDefined", "text/xml"),
        ]
        before = self.server.stats()["dataRequests"]
        for query, status, code, content_type in cases:
            with self.subTest(query=query):
                got_status, got_type, _, body = self.server.get(query)
                self.assertEqual((got_status, got_type), (status, content_type))
                report = ET.fromstring(body)  # well-formed, even with markup in the input
                exceptions = [e for e in report.iter() if e.tag.endswith("ServiceException")]
                self.assertEqual(len(exceptions), 1)
                self.assertEqual(exceptions[0].get("code"), code)
                self.assertTrue(exceptions[0].text)
        self.assertEqual(self.server.stats()["dataRequests"], before, "a refused request reaches no plug-in")

    def test_answers_are_cacheable_and_revalidate_without_drawing(self):
        get_map = ("/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png&CRS=CRS:84"
                   "&BBOX=0,0,45,45&WIDTH=64&HEIGHT=64")
        status, _, headers, _ = self.server.get(get_map)
        self.assertEqual(status, 200)
        tag = headers["ETag"]
        self.assertRegex(tag, r'^"[0-9a-f]{32}"$')
        self.assertEqual(headers["Cache-Control"], "public, max-age=3600")
        self.assertTrue(headers["Last-Modified"].endswith(" GMT"))
        before = self.server.stats()["dataRequests"]
        reordered = "/wms?" + "&".join(reversed(get_map[5:].split("&"))).replace("LAYERS=", "layers=")
        for query, sent, status in [(get_map, tag, 304), (reordered, "W/" + tag, 304), (get_map, '"x"', 200)]:
            with self.subTest(query=query, sent=sent):
                got, _, headers, body = self.server.get(query, headers={"If-None-Match": sent})
                self.assertEqual((got, headers["ETag"]), (status, tag))
                self.assertEqual(len(body) == 0, status == 304)
        self.assertEqual(self.server.stats()["dataRequests"], before + 1, "a 304 draws nothing")
        status, _, headers, _ = self.server.get(get_map.replace("LAYERS=map", "LAYERS=roads"),
                                                headers={"If-None-Match": "*"})
        self.assertEqual((status, headers["Cache-Control"], headers["ETag"]), (400, "no-store", None))

        # Another instance over the same files tags alike; the operator's address and caching policy.
        with ZarvoServe(SERVE, TILES, "--public-url", "https://maps.example.org/m", "--max-age", "60",
                        "--cors", "*") as other:
            status, _, headers, _ = other.get(get_map)
            self.assertEqual((status, headers["ETag"], headers["Cache-Control"]), (200, tag, "public, max-age=60"))
            self.assertEqual(headers["Access-Control-Allow-Origin"], "*")
            status, _, _, body = other.get("/wms?SERVICE=WMS&REQUEST=GetCapabilities",
                                           headers={"X-Forwarded-Host": "evil.example"})
            links = {e.get("{http://www.w3.org/1999/xlink}href") for e in ET.fromstring(body).iter()
                     if e.tag.endswith("OnlineResource")}
            self.assertEqual(links, {"https://maps.example.org/m/wms?"})

    def test_images_needing_too_many_tiles_are_refused_before_fetching(self):
        # Two pixels across and 2048 (or four) down: drawn at the zoom
        # its rows need, where the columns' centres lie thousands of tile
        # columns apart. The allowance follows the pixels, up to 1024.
        cases = [
            ("0,0,1,0.01", 2, 2048, "more than the 288 an image of its size may use"),
            ("0,0,18,0.0008", 2, 4, "more than the 64 an image of its size may use"),
            ("-180,0,180,0.01", 2, 2048, "more tiles than the plug-in lists for one request"),
        ]
        with ZarvoServe(SERVE, TILES, "--max-zoom", "21") as server:
            for bbox, width, height, words in cases:
                with self.subTest(bbox=bbox):
                    status, _, _, body = server.get(
                        "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png"
                        f"&CRS=CRS:84&BBOX={bbox}&WIDTH={width}&HEIGHT={height}")
                    self.assertEqual(status, 400)
                    self.assertIn(b'code="InvalidParameterValue"', body)
                    self.assertIn(words.encode(), body)
            self.assertEqual(server.stats()["tilesFetched"], 0)

    def test_boxes_off_the_tiles_are_filled_with_the_background(self):
        # Half of this box lies east of the antimeridian: those columns get
        # BGCOLOR; the other half is drawn.
        status, content_type, _, body = self.server.get(
            "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png&CRS=CRS:84"
            "&BBOX=170,0,190,10&WIDTH=40&HEIGHT=20&BGCOLOR=0x102030")
        self.assertEqual((status, content_type), (200, "image/png"))
        path = os.path.join(self.scratch.name, "half.png")
        with open(path, "wb") as f:
            f.write(body)
        pixels = gdal.Open(path).ReadAsArray()  # bands, rows, columns
        self.assertTrue(((pixels[:, :, 20:].transpose(1, 2, 0) == [0x10, 0x20, 0x30]).all()))
        self.assertFalse(((pixels[:, :, :20].transpose(1, 2, 0) == [0x10, 0x20, 0x30]).all()))
        before = self.server.stats()["dataRequests"]
        status, _, headers, _ = self.server.get(
            "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png&CRS=CRS:84"
            "&BBOX=200,0,210,10&WIDTH=16&HEIGHT=16")
        self.assertEqual(status, 200)
        self.assertNotIn("X-Zarvo-Zoom", headers)
        self.assertEqual(self.server.stats()["dataRequests"], before, "nothing on the tiles, nothing asked")


if __name__ == "__main__":
    unittest.main(verbosity=2)
