#!/usr/bin/python3
"""zarvo-serve against real WMS and WMTS clients.

GDAL's WMS driver reads GetMaps and must get the pixels zarvo-render
writes for the same grid, BGCOLOR where it writes nodata; EPSG:3857 GetMaps
are as faithful to the tiles as EPSG:4326 ones; OWSLib reads the capabilities of both versions and
the WMTS's with its 512 px tile matrix sets; GDAL's WMTS driver reads tiles,
in both densities, that are the GetMaps of their boxes; the capabilities
validate against the OGC schemas; bad requests get exception reports with
the standard codes.

Environment: ZARVO_SERVE, ZARVO_RENDER, ZARVO_PLUGIN, ZARVO_DEMO_TILES,
ZARVO_WORLD_TILES.
"""
import math
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from serve_harness import ZarvoServe  # noqa: E402

from osgeo import gdal, osr  # noqa: E402
from owslib.wms import WebMapService  # noqa: E402
from owslib.wmts import WebMapTileService  # noqa: E402

gdal.UseExceptions()
# GDAL's WMS and WMTS drivers would keep the tiles they read in a cache
# beside the working directory, and read them back from there next time.
gdal.SetConfigOption("GDAL_ENABLE_WMS_CACHE", "NO")
SERVE = os.environ["ZARVO_SERVE"]
RENDER = os.environ["ZARVO_RENDER"]
PLUGIN = os.environ["ZARVO_PLUGIN"]
TILES = os.environ["ZARVO_DEMO_TILES"]
# The world tile set (built unless configured off) carries credits and real
# imagery; without it those checks skip.
WORLD_TILES = os.environ.get("ZARVO_WORLD_TILES", "")
HAVE_WORLD = os.path.isdir(WORLD_TILES)
DEMO_MAX_ZOOM = 6
COVERAGE_NORTH = 85.0511287798066
HALF_WORLD = 20037508.342789244
# The OGC schemas as Debian ships them (with MapProxy's tests).
SCHEMAS = "/usr/share/python3-mapproxy/test/schemas"


def mercator_x(lon):
    return lon / 180.0 * HALF_WORLD


def mercator_y(lat):
    return math.log(math.tan(math.pi / 4 + math.radians(lat) / 2)) / math.pi * HALF_WORLD


def decoded(body):
    """The bands, rows and columns of an image file's bytes."""
    gdal.FileFromMemBuffer("/vsimem/decoded", body)
    pixels = gdal.Open("/vsimem/decoded").ReadAsArray()
    gdal.Unlink("/vsimem/decoded")
    return pixels


def tile_source(layer, level):
    """One layer of a tile set as GDAL's TMS reader sees it, at one service
    zoom."""
    extension = "jpeg" if layer == "aerial" else "png"
    gdal.FileFromMemBuffer("/vsimem/tiles.xml", f"""<GDAL_WMS><Service name="TMS">
<ServerUrl>file://{WORLD_TILES}/{layer}/${{z}}/${{x}}/${{y}}.{extension}</ServerUrl></Service>
<DataWindow><UpperLeftX>{-HALF_WORLD!r}</UpperLeftX><UpperLeftY>{HALF_WORLD!r}</UpperLeftY>
<LowerRightX>{HALF_WORLD!r}</LowerRightX><LowerRightY>{-HALF_WORLD!r}</LowerRightY>
<TileLevel>{level}</TileLevel><TileCountX>1</TileCountX><TileCountY>1</TileCountY><YOrigin>bottom</YOrigin></DataWindow>
<Projection>EPSG:3857</Projection><BlockSizeX>256</BlockSizeX><BlockSizeY>256</BlockSizeY><BandsCount>3</BandsCount>
</GDAL_WMS>""")
    return gdal.Open("/vsimem/tiles.xml")


def warped(source, epsg, box, width, height):
    """gdalwarp -r bilinear of the tiles onto a grid of outer edges `box`."""
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(epsg)
    srs.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    target = gdal.GetDriverByName("MEM").Create("", width, height, 3, gdal.GDT_Byte)
    minx, miny, maxx, maxy = box
    target.SetGeoTransform((minx, (maxx - minx) / width, 0, maxy, 0, -(maxy - miny) / height))
    target.SetProjection(srs.ExportToWkt())
    gdal.Warp(target, source, resampleAlg="bilinear", overviewLevel="NONE")
    return target.ReadAsArray().astype(np.int16)


def choose_zoom(dx, dy, latitude, max_zoom):
    """The zoom rule of docs/serve.md: the smallest zoom whose tiles have at least one
    pixel per output pixel in both directions at the middle latitude."""
    shrink = math.cos(latitude * (math.pi / 180.0))
    for zoom in range(1, max_zoom):
        tile_pixel = 360.0 / (256.0 * 2.0 ** (zoom - 1))
        if tile_pixel <= dx and tile_pixel * shrink <= dy:
            return zoom
    return max_zoom


def render_reference(layer, west, south, east, north, width, height, directory, *options):
    """What zarvo-render writes for a WMS box's grid: the pixels and where
    they are nodata."""
    dx, dy = (east - west) / width, (north - south) / height
    middle = (max(south, -COVERAGE_NORTH) + min(north, COVERAGE_NORTH)) / 2
    zoom = choose_zoom(dx, dy, middle, DEMO_MAX_ZOOM)
    out = os.path.join(directory, "reference.tif")
    subprocess.run([RENDER, "--quiet", "--overwrite", *options, "--plugin", PLUGIN, "--layer", layer, "--zoom", str(zoom),
                    "-te", repr(west), repr(south), repr(east), repr(north), "-ts", str(width), str(height),
                    "--tiles", TILES, "--out", out],
                   check=True, stdout=subprocess.DEVNULL)
    pixels = gdal.Open(out).ReadAsArray()
    return pixels[:3], pixels[3] == 0


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
        # The world tile set carries its credits, and real imagery to be
        # faithful to.
        cls.world = ZarvoServe(SERVE, WORLD_TILES if HAVE_WORLD else TILES).__enter__()
        cls.scratch = tempfile.TemporaryDirectory()

    @classmethod
    def tearDownClass(cls):
        code, errors = cls.server.stop()
        world_code, world_errors = cls.world.stop()
        cls.scratch.cleanup()
        assert code == 0 and world_code == 0, errors + world_errors

    def test_gdal_reads_the_pixels_zarvo_render_writes(self):
        cases = [
            # version, crs, layer, west, south, east, north, width, height
            ("1.3.0", "EPSG:4326", "map", -12.0, 34.0, 32.0, 62.0, 1000, 760),
            ("1.3.0", "CRS:84", "aerial", 5.0, 44.0, 16.0, 50.0, 640, 333),
            ("1.1.1", "EPSG:4326", "hybrid", -100.0, -40.0, 60.0, 70.0, 517, 401),
            ("1.3.0", "EPSG:4326", "hybrid", 100.25, -10.5, 101.0, -10.0, 97, 64),
            ("1.1.1", "EPSG:4326", "map", -179.0, -80.0, 179.0, 80.0, 300, 200),
            # Across longitude 180 and over the north edge: BGCOLOR where
            # zarvo-render writes nodata, the columns east of 180 drawn.
            ("1.3.0", "CRS:84", "map", 150.0, 60.0, 200.0, 90.0, 200, 120),
            ("1.1.1", "EPSG:4326", "hybrid", -200.0, -90.0, -160.0, -70.0, 160, 80),
        ]
        for version, crs, layer, west, south, east, north, width, height in cases:
            with self.subTest(version=version, crs=crs, layer=layer, box=(west, south, east, north)):
                dataset = gdal.Open(gdal_service(self.server.base, version, crs, layer, west, south, east, north,
                                                 width, height))
                self.assertEqual((dataset.RasterXSize, dataset.RasterYSize), (width, height))
                served = dataset.ReadAsArray()
                dataset = None
                expected, nodata = render_reference(layer, west, south, east, north, width, height,
                                                    self.scratch.name)
                self.assertTrue((served[:, ~nodata] == expected[:, ~nodata]).all(), "pixels unlike zarvo-render's")
                self.assertTrue((served[:, nodata] == 255).all(), "nodata not in the background colour")
        # The plug-in's own positions, for images like the application's: as
        # zarvo-render --plugin-grid writes them, under entity tags of their own.
        west, south, east, north, width, height = 5.0, 44.0, 16.0, 50.0, 640, 333
        query = ("/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=aerial&STYLES=&FORMAT=image/png&CRS=CRS:84"
                 f"&BBOX={west!r},{south!r},{east!r},{north!r}&WIDTH={width}&HEIGHT={height}")
        with ZarvoServe(SERVE, TILES, "--plugin-grid") as own:
            _, _, headers, body = own.get(query)
            expected, _ = render_reference("aerial", west, south, east, north, width, height, self.scratch.name,
                                           "--plugin-grid")
            self.assertTrue((decoded(body) == expected).all(), "pixels unlike zarvo-render --plugin-grid's")
            self.assertNotEqual(headers["ETag"], self.server.get(query)[2]["ETag"])

    @unittest.skipUnless(HAVE_WORLD, "the world tile set was not built")
    def test_epsg3857_is_as_faithful_to_the_tiles_as_epsg4326(self):
        """The same areas as EPSG:3857 and EPSG:4326 GetMaps, each against
        gdalwarp -r bilinear of the tiles it was drawn from onto its own grid,
        each tile pixel's value at its centre; a 3857 image made by warping a
        4326 one again would lose to the 4326 image here."""
        boxes = [("map", -180, -85, 180, 85), ("aerial", -20, 30, 40, 70), ("hybrid", 0, 40, 20, 60),
                 ("map", 5, 44, 15, 54), ("hybrid", 100, -10, 130, 20), ("hybrid", -30, 55, 0, 70)]
        size = 512
        differences = {"EPSG:3857": [], "CRS:84": []}
        for layer, west, south, east, north in boxes:
            for crs, epsg, box in (("EPSG:3857", 3857, (mercator_x(west), mercator_y(south), mercator_x(east),
                                                        mercator_y(north))),
                                   ("CRS:84", 4326, (west, south, east, north))):
                status, _, headers, body = self.world.get(
                    f"/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS={layer}&STYLES=&FORMAT=image/png"
                    f"&CRS={crs}&BBOX={box[0]!r},{box[1]!r},{box[2]!r},{box[3]!r}&WIDTH={size}&HEIGHT={size}")
                self.assertEqual(status, 200)
                reference = warped(tile_source(layer, int(headers["X-Zarvo-Zoom"]) - 1), epsg, box,
                                   size, size)
                differences[crs].append(float(np.mean(np.abs(decoded(body).astype(np.int16) - reference))))
        mercator, geographic = np.mean(differences["EPSG:3857"]), np.mean(differences["CRS:84"])
        self.assertLessEqual(mercator, geographic, differences)
        # And GDAL's WMS driver reads the EPSG:3857 images as they are served
        # (whole metres, which GDAL's eight decimals keep).
        west, south, east, north = (float(round(v)) for v in (mercator_x(5), mercator_y(44), mercator_x(15),
                                                               mercator_y(54)))
        dataset = gdal.Open(gdal_service(self.world.base, "1.3.0", "EPSG:3857", "map", west, south, east, north,
                                         300, 200))
        _, _, _, body = self.world.get(
            "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png&CRS=EPSG:3857"
            f"&BBOX={west!r},{south!r},{east!r},{north!r}&WIDTH=300&HEIGHT=200")
        self.assertTrue((dataset.ReadAsArray() == decoded(body)).all())

    def test_wmts_tiles_are_the_getmaps_of_their_boxes(self):
        wmts = WebMapTileService(self.server.base + "/wmts/1.0.0/WMTSCapabilities.xml", timeout=30)
        self.assertEqual(sorted(wmts.contents), ["aerial", "hybrid", "map"])
        self.assertEqual(sorted(wmts.contents["map"].tilematrixsetlinks),
                         ["WebMercatorQuad", "WebMercatorQuad512", "WorldCRS84Quad", "WorldCRS84Quad512"])
        self.assertEqual(sorted(wmts.contents["map"].formats), ["image/jpeg", "image/png", "image/webp"])
        # The 512 px twins: the same levels and tiles, twice the pixels, half the scale.
        for name in ("WebMercatorQuad", "WorldCRS84Quad"):
            single, twin = wmts.tilematrixsets[name].tilematrix, wmts.tilematrixsets[name + "512"].tilematrix
            self.assertEqual(sorted(single, key=int), [str(z) for z in range(DEMO_MAX_ZOOM)])
            self.assertEqual(sorted(twin), sorted(single))
            for level in single:
                self.assertEqual((twin[level].matrixwidth, twin[level].matrixheight, twin[level].topleftcorner),
                                 (single[level].matrixwidth, single[level].matrixheight, single[level].topleftcorner))
                self.assertEqual((single[level].tilewidth, twin[level].tilewidth, twin[level].tileheight),
                                 (256, 512, 512))
                self.assertEqual(twin[level].scaledenominator, single[level].scaledenominator / 2)
        self.assertEqual(wmts.tilematrixsets["WebMercatorQuad"].tilematrix["3"].matrixwidth, 8)
        self.assertEqual(wmts.tilematrixsets["WorldCRS84Quad"].tilematrix["0"].matrixwidth, 2)
        # A tile's box as the tile matrix set standard gives it: edges from
        # the top-left corner by whole tile spans.
        sets = {"WebMercatorQuad": ("EPSG:3857", -HALF_WORLD, HALF_WORLD, 2 * HALF_WORLD),
                "WorldCRS84Quad": ("CRS:84", -180.0, 90.0, 180.0)}
        cases = [("WebMercatorQuad", 3, 3, 4), ("WebMercatorQuad", 0, 0, 0), ("WorldCRS84Quad", 2, 1, 5),
                 ("WorldCRS84Quad", 0, 0, 1), ("WorldCRS84Quad", 5, 7, 40), ("WebMercatorQuad512", 3, 3, 4),
                 ("WorldCRS84Quad512", 2, 1, 5)]
        for matrix_set, level, row, column in cases:
            crs, left, top, span = sets[matrix_set.replace("512", "")]
            size = 512 if matrix_set.endswith("512") else 256
            span /= 2 ** level
            box = (left + column * span, top - (row + 1) * span, left + (column + 1) * span, top - row * span)
            with self.subTest(matrix_set=matrix_set, level=level, row=row, column=column):
                tile = wmts.gettile(layer="hybrid", tilematrixset=matrix_set, tilematrix=str(level), row=row,
                                    column=column, format="image/png").read()
                _, _, _, rest = self.server.get(f"/wmts/1.0.0/hybrid/default/{matrix_set}/{level}/{row}/{column}.png")
                _, _, _, getmap = self.server.get(
                    "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=hybrid&STYLES=&FORMAT=image/png"
                    f"&CRS={crs}&BBOX={box[0]!r},{box[1]!r},{box[2]!r},{box[3]!r}&WIDTH={size}&HEIGHT={size}")
                self.assertEqual(tile, rest)
                self.assertEqual(tile, getmap)
        # GDAL's WMTS driver, in both densities: a window of the deepest
        # level is its tiles.
        for matrix_set, size in (("WebMercatorQuad", 256), ("WebMercatorQuad512", 512)):
            with self.subTest(gdal=matrix_set):
                dataset = gdal.Open(f"WMTS:{self.server.base}/wmts/1.0.0/WMTSCapabilities.xml,layer=map,"
                                    f"tilematrixset={matrix_set}")
                self.assertEqual(dataset.RasterXSize, size * 2 ** (DEMO_MAX_ZOOM - 1))
                window = dataset.ReadAsArray(size * 17, size * 9, 2 * size, size)
                for column in (17, 18):
                    _, _, _, tile = self.server.get(f"/wmts/1.0.0/map/default/{matrix_set}/5/9/{column}.png")
                    self.assertTrue((window[:3, :, size * (column - 17):size * (column - 16)] == decoded(tile)).all())

    def test_bad_wmts_requests_get_ows_exception_reports(self):
        get_tile = "/wmts?SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&STYLE=default&FORMAT=image/png"
        cases = [
            # path, HTTP status, exception code, locator
            ("/wmts?REQUEST=GetCapabilities", 400, "MissingParameterValue", "SERVICE"),
            ("/wmts?SERVICE=WMTS&REQUEST=GetFeatureInfo", 501, "OperationNotSupported", "REQUEST"),
            (get_tile + "&LAYER=roads&TILEMATRIXSET=WebMercatorQuad&TILEMATRIX=0&TILEROW=0&TILECOL=0", 400,
             "InvalidParameterValue", "LAYER"),
            (get_tile + "&LAYER=map&TILEMATRIXSET=GoogleMapsCompatible&TILEMATRIX=0&TILEROW=0&TILECOL=0", 400,
             "InvalidParameterValue", "TILEMATRIXSET"),
            (get_tile + "&LAYER=map&TILEMATRIXSET=WebMercatorQuad&TILEMATRIX=6&TILEROW=0&TILECOL=0", 400,
             "InvalidParameterValue", "TILEMATRIX"),
            (get_tile + "&LAYER=map&TILEMATRIXSET=WorldCRS84Quad&TILEMATRIX=1&TILEROW=2&TILECOL=0", 400,
             "TileOutOfRange", "TILEROW"),
            (get_tile + "&LAYER=map&TILEMATRIXSET=WorldCRS84Quad&TILEMATRIX=1&TILEROW=0&TILECOL=4", 400,
             "TileOutOfRange", "TILECOL"),
            (get_tile + "&LAYER=map&TILEMATRIXSET=WebMercatorQuad&TILEMATRIX=0&TILEROW=0", 400,
             "MissingParameterValue", "TILECOL"),
            (get_tile + "&LAYER=map&TILEMATRIXSET=WebMercatorQuad&TILEMATRIX=1&TILEROW=x&TILECOL=0", 400,
             "InvalidParameterValue", "TILEROW"),
            # Cut at 64 bytes between its characters.
            (get_tile + "&LAYER=" + "%C3%A9" * 40 + "&TILEMATRIXSET=WebMercatorQuad&TILEMATRIX=0&TILEROW=0&TILECOL=0",
             400, "InvalidParameterValue", "LAYER"),
            ("/wmts/1.0.0/map/default/WebMercatorQuad/2/4/0.png", 404, "TileOutOfRange", "TILEROW"),
            ("/wmts/1.0.0/map/default/WebMercatorQuad/2/0/0.gif", 404, "InvalidParameterValue", "FORMAT"),
            ("/wmts/1.0.0/map/default/WebMercatorQuad/2/0/0.jpg", 404, "InvalidParameterValue", "FORMAT"),
            ("/wmts/1.0.0/%3Cx%3E/default/WebMercatorQuad/2/0/0.png", 404, "InvalidParameterValue", "LAYER"),
            # An encoded '/' is part of a name; bytes that are no characters are quoted as U+FFFD.
            ("/wmts/1.0.0/map%2Fdefault/WebMercatorQuad/2/0/0.png", 404, "InvalidParameterValue", "path"),
            ("/wmts/1.0.0/%C0%AF/default/WebMercatorQuad/2/0/0.png", 404, "InvalidParameterValue", "LAYER"),
            ("/wmts/1.0.0/map/%ED%A0%80/WebMercatorQuad/2/0/0.png", 404, "InvalidParameterValue", "STYLE"),
            ("/wmts/1.0.0/map/default/%EF%BF%BF/2/0/0.png", 404, "InvalidParameterValue", "TILEMATRIXSET"),
            ("/wmts/1.0.0/map/default/WebMercatorQuad/%C0%AF/0/0.png", 404, "InvalidParameterValue", "TILEMATRIX"),
        ]
        before = self.server.stats()["dataRequests"]
        for path, status, code, locator in cases:
            with self.subTest(path=path):
                got_status, content_type, _, body = self.server.get(path)
                self.assertEqual((got_status, content_type), (status, "application/xml"))
                exception = ET.fromstring(body).find("{http://www.opengis.net/ows/1.1}Exception")
                self.assertEqual((exception.get("exceptionCode"), exception.get("locator")), (code, locator))
        self.assertEqual(self.server.stats()["dataRequests"], before, "a refused request reaches no plug-in")

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
                wms = WebMapService(self.world.base + "/wms", version=version, timeout=30)
                self.assertEqual(wms.identification.version, version)
                self.assertEqual(sorted(wms.contents), ["aerial", "hybrid", "map"])
                self.assertIn("WMTS", wms.identification.keywords)
                self.assertEqual((wms.identification.fees, wms.identification.accessconstraints), ("none", "none"))
                # Each layer credits the data it shows, as the tile set says.
                if HAVE_WORLD:
                    credits = {name: wms[name].attribution.get("title", "") for name in ("map", "aerial", "hybrid")}
                    self.assertTrue("GSHHG" in credits["map"] and "NASA" not in credits["map"], credits)
                    self.assertTrue("NASA" in credits["aerial"] and "GSHHG" not in credits["aerial"], credits)
                    self.assertTrue("NASA" in credits["hybrid"] and "GSHHG" in credits["hybrid"], credits)
                self.assertNotIn("roads", wms["hybrid"].title)
                # From a world on one tile to one zoom past the deepest (6).
                if version == "1.3.0":
                    self.assertEqual(float(wms["map"].min_scale_denominator.text), 559082264.0287178 / 2 ** 6)
                layer = wms["aerial"]
                self.assertIn("EPSG:4326", layer.crsOptions)
                self.assertIn("EPSG:3857", layer.crsOptions)
                if version == "1.3.0":
                    self.assertIn("CRS:84", layer.crsOptions)
                west, south, east, north = layer.boundingBoxWGS84
                self.assertEqual((west, east), (-180.0, 180.0))
                self.assertAlmostEqual(north, COVERAGE_NORTH, places=9)
                self.assertAlmostEqual(south, -COVERAGE_NORTH, places=9)
                self.assertEqual(sorted(wms.getOperationByName("GetMap").formatOptions),
                                 ["image/jpeg", "image/png", "image/webp"])
                image = wms.getmap(layers=["hybrid"], styles=[""], srs="EPSG:4326",
                                   bbox=(-10.0, 40.0, 20.0, 60.0), size=(300, 200), format="image/jpeg")
                self.assertEqual(image.read()[:3], b"\xff\xd8\xff")

    @unittest.skipUnless(shutil.which("xmllint") and os.path.isdir(SCHEMAS),
                         "the OGC schemas (Debian's python3-mapproxy) or xmllint (libxml2-utils) are missing")
    def test_capabilities_validate_against_the_ogc_schemas(self):
        cases = [
            ("/wms?SERVICE=WMS&REQUEST=GetCapabilities&VERSION=1.3.0", ["--schema", "wms/1.3.0/capabilities_1_3_0.xsd"]),
            ("/wms?SERVICE=WMS&REQUEST=GetCapabilities&VERSION=1.1.1", ["--dtdvalid", "wms/1.1.1/WMS_MS_Capabilities.dtd"]),
            ("/wmts/1.0.0/WMTSCapabilities.xml", ["--schema", "wmts/1.0/wmtsGetCapabilities_response.xsd"]),
            ("/wmts?SERVICE=WMTS&REQUEST=GetCapabilities", ["--schema", "wmts/1.0/wmtsGetCapabilities_response.xsd"]),
        ]
        for query, schema in cases:
            with self.subTest(query=query):
                status, _, _, body = self.world.get(query)
                self.assertEqual(status, 200)
                path = os.path.join(self.scratch.name, "capabilities.xml")
                with open(path, "wb") as f:
                    f.write(body)
                checked = subprocess.run(["xmllint", "--nonet", "--noout", schema[0], os.path.join(SCHEMAS, schema[1]),
                                          path], capture_output=True, text=True)
                self.assertEqual(checked.returncode, 0, checked.stderr)

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
            (get_map + "&VERSION=1.3.0&LAYERS=map&CRS=EPSG:32632&BBOX=0,0,1,1", 400, "InvalidCRS", "text/xml"),
            (get_map + "&VERSION=1.1.1&LAYERS=map&SRS=EPSG:900913&BBOX=0,0,1,1", 400, "InvalidSRS",
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
        reordered = "/wms?" + "&".join(reversed(get_map[5:].split("&"))).replace("LAYERS=", "layers=")
        since = {"If-Modified-Since": headers["Last-Modified"]}
        for query, sent, status in [(get_map, {"If-None-Match": tag}, 304), (reordered, {"If-None-Match": "W/" + tag}, 304),
                                    (get_map, {"If-None-Match": '"x"'}, 200), (get_map, since, 304)]:
            with self.subTest(query=query, sent=sent):
                before = self.server.stats()["dataRequests"]
                got, _, headers, body = self.server.get(query, headers=sent)
                self.assertEqual((got, headers["ETag"]), (status, tag))
                self.assertEqual(len(body) == 0, status == 304)
                drew = self.server.stats()["dataRequests"] > before
                self.assertEqual(drew, status == 200, "a 304 draws nothing")
        status, _, headers, _ = self.server.get(get_map.replace("LAYERS=map", "LAYERS=roads"),
                                                headers={"If-None-Match": "*"})
        self.assertEqual((status, headers["Cache-Control"], headers["ETag"]), (400, "no-store", None))
        # WMTS tiles are maps too, in either form.
        for tile in ["/wmts/1.0.0/map/default/WebMercatorQuad/2/1/1.png",
                     "/wmts?SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER=map&STYLE=default&FORMAT=image/png"
                     "&TILEMATRIXSET=WorldCRS84Quad&TILEMATRIX=1&TILEROW=1&TILECOL=2"]:
            with self.subTest(tile=tile):
                status, _, headers, _ = self.server.get(tile)
                self.assertEqual((status, headers["Cache-Control"]), (200, "public, max-age=3600"))
                before = self.server.stats()["dataRequests"]
                status, _, _, body = self.server.get(tile, headers={"If-None-Match": headers["ETag"]})
                self.assertEqual((status, body), (304, b""))
                self.assertEqual(self.server.stats()["dataRequests"], before, "a 304 draws nothing")

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
            status, _, _, body = other.get("/wmts/1.0.0/WMTSCapabilities.xml")
            addresses = {value for e in ET.fromstring(body).iter() for name, value in e.attrib.items()
                         if name.endswith("href") or name == "template"}
            self.assertTrue(addresses)
            for address in addresses:
                self.assertTrue(address.startswith("https://maps.example.org/m/wmts"), address)

    def test_images_needing_too_many_tiles_are_refused_before_fetching(self):
        # Two pixels across and 2048 (or four) down: drawn at the zoom
        # its rows need, where the columns' centres lie thousands of tile
        # columns apart. The allowance follows the pixels, up to 1024. In
        # EPSG:3857 the pairs of rows would each need few tiles, but
        # together more.
        cases = [
            ("CRS:84", "0,0,1,0.01", 2, 2048, "more tiles than the 288 an image of its size may use"),
            ("CRS:84", "0,0,18,0.0008", 2, 4, "more tiles than the 64 an image of its size may use"),
            ("CRS:84", "-180,0,180,0.01", 2, 2048, "more tiles than the 288 an image of its size may use"),
            ("EPSG:3857", "-20037508,0,0,700000", 2, 2048, "more tiles than the 288 an image of its size may use"),
        ]
        with ZarvoServe(SERVE, TILES, "--max-zoom", "21") as server:
            for crs, bbox, width, height, words in cases:
                with self.subTest(crs=crs, bbox=bbox):
                    status, _, _, body = server.get(
                        "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png"
                        f"&CRS={crs}&BBOX={bbox}&WIDTH={width}&HEIGHT={height}")
                    self.assertEqual(status, 400)
                    self.assertIn(b'code="InvalidParameterValue"', body)
                    self.assertIn(words.encode(), body)
            self.assertEqual(server.stats()["tilesFetched"], 0)

    def test_boxes_off_the_tiles_are_filled_with_the_background(self):
        # North of the world's edge, BGCOLOR; east of 180, the world again.
        x = [repr(mercator_x(lon)) for lon in (170, 190, -190, -170)]
        # TRANSPARENT=TRUE: the same colours, and no alpha but where the world ends.
        cases = [("CRS:84", "170,80,190,90", "-190,80,-170,90", ""),
                 ("EPSG:3857", f"{x[0]},19000000,{x[1]},21000000", f"{x[2]},19000000,{x[3]},21000000", ""),
                 ("CRS:84", "170,80,190,90", "-190,80,-170,90", "&TRANSPARENT=TRUE")]
        for crs, box, wrapped, transparent in cases:
            with self.subTest(crs=crs, transparent=transparent):
                images = []
                for bbox in (box, wrapped):
                    status, content_type, _, body = self.server.get(
                        "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png"
                        f"&CRS={crs}&BBOX={bbox}&WIDTH=40&HEIGHT=20&BGCOLOR=0x102030{transparent}")
                    self.assertEqual((status, content_type), (200, "image/png"))
                    images.append(decoded(body).transpose(1, 2, 0).astype(np.int16))
                outside = (images[0][:, :, :3] == [0x10, 0x20, 0x30]).all(axis=2)
                self.assertTrue(outside[:10].all() and not outside[10:].any(), outside)
                # A world west: the same places, but for the rounding of their longitudes.
                self.assertLessEqual(int(np.abs(images[0] - images[1]).max()), 1)
                bands = images[0].shape[2]
                self.assertEqual(bands, 4 if transparent else 3)
                if transparent:
                    self.assertTrue((images[0][:, :, 3] == np.where(outside, 0, 255)).all())
        before = self.server.stats()["dataRequests"]
        status, _, headers, _ = self.server.get(
            "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png&CRS=CRS:84"
            "&BBOX=0,86,10,90&WIDTH=16&HEIGHT=16")
        self.assertEqual(status, 200)
        self.assertNotIn("X-Zarvo-Zoom", headers)
        self.assertEqual(self.server.stats()["dataRequests"], before, "nothing on the tiles, nothing asked")


if __name__ == "__main__":
    unittest.main(verbosity=2)
