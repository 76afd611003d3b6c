"""Paints the world tile set of the three layers, service zooms 0 to 5, in the
service's layout OUT/LAYER/Z/X/Y.EXT (Y counted from the south).

Usage: paint_tiles.py --vectors WORLD.gpkg --imagery EARTH.jpg --credits CREDITS.md [--jobs N] OUT

Each zoom is painted whole in spherical Mercator (EPSG:3857) and then cut
into 256 x 256 tiles:
  map     land and water from the GSHHG areas, national borders, graticule
  aerial  the world image, warped from longitude/latitude to Mercator
  hybrid  the image with coastlines, borders and graticule
Land is rasterised at twice the deepest zoom's resolution and averaged
down, so every tile pixel holds the share of land under it and coastlines
are smooth at every zoom. Lines are rasterised at each zoom's own
resolution, so they stay one pixel wide instead of fading when averaged.
The areas are cut at the Mercator world's edge (about 85 degrees) before
they are projected: Antarctica's outline runs through the south pole, where
Mercator has no finite y.
Each layer's directory also gets a metadata.json, as tile trees exported
from MBTiles carry, whose "attribution" names the data it shows: servers
show it as the layer's credits.
"""

import argparse
import json
import multiprocessing
import os
import shutil
import sys

import numpy as np
from osgeo import gdal, gdal_array, ogr, osr

sys.dont_write_bytecode = True  # the build leaves nothing in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import map_style as style  # noqa: E402

MAX_ZOOM = 5
TILE = 256
HALF_WORLD = 20037508.342789244  # pi times the sphere's radius, in metres
WORLD_EDGE_LAT = 85.06  # a little beyond the world's edge at 85.0511
SUPERSAMPLE = 2

gdal.UseExceptions()
ogr.UseExceptions()
osr.UseExceptions()


def fail(message):
    sys.stderr.write("paint_tiles: %s\n" % message)
    sys.exit(1)


def spatial_reference(epsg):
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(epsg)
    srs.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    return srs


WGS84 = spatial_reference(4326)
MERCATOR = spatial_reference(3857)


def world_raster(pixels):
    """The whole Mercator world as a raster over `pixels` (bands, rows,
    columns), which GDAL then draws into directly."""
    raster = gdal_array.OpenArray(pixels)
    size = pixels.shape[-1]
    step = 2 * HALF_WORLD / size
    raster.SetGeoTransform((-HALF_WORLD, step, 0, HALF_WORLD, 0, -step))
    raster.SetProjection(MERCATOR.ExportToWkt())
    return raster


def box(west, south, east, north):
    ring = ogr.Geometry(ogr.wkbLinearRing)
    for x, y in ((west, south), (east, south), (east, north), (west, north), (west, south)):
        ring.AddPoint_2D(x, y)
    polygon = ogr.Geometry(ogr.wkbPolygon)
    polygon.AddGeometry(ring)
    return polygon


def mercator_layers(vectors_path):
    """The areas (field `level`, in burning order), sea coasts and borders in
    Mercator, and a graticule, in an in-memory data source."""
    source = gdal.OpenEx(vectors_path, gdal.OF_VECTOR)
    memory = gdal.GetDriverByName("Memory").Create("mercator", 0, 0, 0, gdal.GDT_Unknown)
    to_mercator = osr.CoordinateTransformation(WGS84, MERCATOR)
    world = box(-180, -WORLD_EDGE_LAT, 180, WORLD_EDGE_LAT)
    inside = "ST_MinY(geom) >= %r AND ST_MaxY(geom) <= %r" % (-WORLD_EDGE_LAT, WORLD_EDGE_LAT)

    # Level by level, so the areas stay in the order they are burnt in:
    # features inside the world are projected by GDAL, the few that reach
    # beyond its edge are cut at the edge first.
    # The hybrid layer draws the sea's coasts only (level 1): the outlines
    # of every lake and reservoir would bury the image in squiggles.
    for name, levels in (("areas", (1, 2, 3, 4)), ("shorelines", (1,)), ("borders", (1,))):
        for level in levels:
            selection = "SELECT geom, level FROM %s WHERE level = %d AND %%s ORDER BY fid" % (name, level)
            gdal.VectorTranslate(memory, source, SQLStatement=selection % inside, SQLDialect="SQLite",
                                 dstSRS=MERCATOR, layerName=name, accessMode="append")
            layer = memory.GetLayerByName(name)
            beyond = source.ExecuteSQL(selection % ("NOT (%s)" % inside), dialect="SQLite")
            for feature in beyond:
                clipped = feature.GetGeometryRef().Intersection(world)
                if clipped is None or clipped.IsEmpty():
                    continue
                clipped.Transform(to_mercator)
                out = ogr.Feature(layer.GetLayerDefn())
                out.SetGeometry(clipped)
                out.SetField("level", level)
                layer.CreateFeature(out)
            source.ReleaseResultSet(beyond)

    graticule = memory.CreateLayer("graticule", MERCATOR, ogr.wkbLineString)
    step = style.GRATICULE_STEP
    lines = [[(lon, -WORLD_EDGE_LAT), (lon, WORLD_EDGE_LAT)] for lon in range(-180, 180, step)]
    lines += [[(-180, lat), (180, lat)] for lat in range(-90 + step, 90, step)]
    for points in lines:
        line = ogr.Geometry(ogr.wkbLineString)
        for lon, lat in points:
            x, y = to_mercator.TransformPoint(lon, lat)[:2]
            line.AddPoint_2D(x, y)
        feature = ogr.Feature(graticule.GetLayerDefn())
        feature.SetGeometry(line)
        graticule.CreateFeature(feature)
    return memory


def halve(array, dtype):
    """Each 2 x 2 block of the last two axes summed, as `dtype`."""
    return (array[..., 0::2, 0::2].astype(dtype) + array[..., 1::2, 0::2] + array[..., 0::2, 1::2]
            + array[..., 1::2, 1::2])


def land_counts(vectors):
    """Per zoom, how many of the land samples under each pixel are land, and
    how many samples a pixel has."""
    size = (TILE << MAX_ZOOM) * SUPERSAMPLE
    level = np.zeros((1, size, size), np.uint8)
    gdal.Rasterize(world_raster(level), vectors, layers=["areas"], attribute="level")
    level = level[0] & 1  # odd levels are land (continents, islands in lakes)
    per_pixel = 1
    counts = {}
    for zoom in range(MAX_ZOOM + SUPERSAMPLE.bit_length() - 1, -1, -1):
        if zoom <= MAX_ZOOM:
            counts[zoom] = (level, per_pixel)
        per_pixel *= 4
        level = halve(level, np.uint8 if per_pixel < 256 else np.uint16)
    return counts


def line_masks(vectors, zoom):
    """Coastline, border and graticule pixels at one zoom, as 0/1 arrays."""
    masks = np.zeros((3, TILE << zoom, TILE << zoom), np.uint8)
    raster = world_raster(masks)
    for band, layer in enumerate(("shorelines", "borders", "graticule"), start=1):
        gdal.Rasterize(raster, vectors, layers=[layer], bands=[band], burnValues=[1])
    raster = None
    return masks.view(bool)


def placed_imagery(imagery_path):
    """The world image with its place on the globe: a plain picture of the
    whole globe, west to east and north to south."""
    image = gdal.Open(imagery_path)
    if image is None or image.RasterCount < 3:
        fail("%s is not an RGB image" % imagery_path)
    return gdal.Translate("", image, format="VRT", bandList=[1, 2, 3],
                          outputBounds=[-180, 90, 180, -90], outputSRS="EPSG:4326")


def imagery_strip(zoom, row):
    """One row of tiles of the world image in Mercator (bands first). Where
    the image has more pixels than the tiles, they are averaged."""
    if "imagery" not in WORK:
        WORK["imagery"] = placed_imagery(WORK["imagery_path"])
    image = WORK["imagery"]
    size = TILE << zoom
    step = 2 * HALF_WORLD / size
    north = HALF_WORLD - row * TILE * step
    warped = gdal.Warp("", image, format="MEM", dstSRS=MERCATOR.ExportToWkt(),
                       outputBounds=(-HALF_WORLD, north - TILE * step, HALF_WORLD, north),
                       width=size, height=TILE,
                       resampleAlg="average" if size < image.RasterXSize else "bilinear")
    return warped.ReadAsArray()


def colour_table(per_pixel):
    """The map's ground colour for each count of land samples, per band."""
    share = np.arange(per_pixel + 1, dtype=np.float64) / per_pixel
    return [np.rint(water + (land - water) * share).astype(np.uint8) for land, water in zip(style.LAND, style.WATER)]


def shade(pixels, mask, factors):
    for band, factor in enumerate(factors):
        pixels[band][mask] = np.rint(pixels[band][mask] * factor)


def blend(pixels, mask, colour_and_opacity):
    colour, opacity = colour_and_opacity
    for band, value in enumerate(colour):
        pixels[band][mask] = np.rint(pixels[band][mask] * (1 - opacity) + value * opacity)


# Filled in before the workers start, and shared with them by fork.
WORK = {}


# Short credit lines of the data sets (CREDITS.md has them in full).
GSHHG_CREDIT = "Shorelines and borders: GSHHG 2.3.7, P. Wessel and W. H. F. Smith (LGPL-3+)"
NASA_CREDIT = "Imagery: NASA Visible Earth"
LAYER_METADATA = (
    ("map", "png", "Land and water from GSHHG's shorelines and lakes, national borders, 10-degree graticule",
     GSHHG_CREDIT),
    ("aerial", "jpg", "The NASA Visible Earth world image", NASA_CREDIT),
    ("hybrid", "png", "The world image with GSHHG's coastlines, national borders and a 10-degree graticule",
     NASA_CREDIT + "; " + GSHHG_CREDIT),
)


def write_metadata(out):
    """metadata.json in each layer's directory, with the keys MBTiles uses."""
    for layer, image_format, description, attribution in LAYER_METADATA:
        metadata = {"name": layer, "description": description, "attribution": attribution,
                    "format": image_format, "minzoom": 0, "maxzoom": MAX_ZOOM, "type": "baselayer"}
        with open(os.path.join(out, layer, "metadata.json"), "w") as f:
            json.dump(metadata, f, indent=1)
            f.write("\n")


def write_tile(pixels, path, driver, options):
    tile = gdal.GetDriverByName("MEM").Create("", TILE, TILE, 3, gdal.GDT_Byte)
    tile.WriteArray(np.ascontiguousarray(pixels))
    gdal.GetDriverByName(driver).CreateCopy(path, tile, options=options)
    return os.path.getsize(path)


def paint_row(task):
    """Paints one row of tiles of one zoom in the three layers and writes
    them; returns how many bytes it wrote."""
    zoom, row = task
    top, bottom = row * TILE, (row + 1) * TILE
    counts, per_pixel = WORK["land"][zoom]
    coast, borders, graticule = WORK["lines"][zoom][:, top:bottom]

    strip = counts[top:bottom]
    ground = np.stack([table[strip] for table in colour_table(per_pixel)])
    shade(ground, graticule, style.GRATICULE_SHADE)
    shade(ground, borders, style.BORDER_SHADE)

    image = imagery_strip(zoom, row)
    hybrid = image.copy()
    blend(hybrid, graticule, style.HYBRID_GRATICULE)
    blend(hybrid, coast, style.HYBRID_COAST)
    blend(hybrid, borders, style.HYBRID_BORDER)

    tms_row = (1 << zoom) - 1 - row
    written = 0
    for column in range(1 << zoom):
        left, right = column * TILE, (column + 1) * TILE
        for layer, extension, pixels, driver, options in (
                ("map", "png", ground, "PNG", ["ZLEVEL=3"]),
                ("aerial", "jpeg", image, "JPEG", ["QUALITY=88"]),
                ("hybrid", "png", hybrid, "PNG", ["ZLEVEL=3"])):
            path = os.path.join(WORK["out"], layer, str(zoom), str(column), "%d.%s" % (tms_row, extension))
            written += write_tile(pixels[:, :, left:right], path, driver, options)
    return written


def paint(arguments):
    out = arguments.out
    shutil.rmtree(out, ignore_errors=True)
    for layer in ("map", "aerial", "hybrid"):
        for zoom in range(MAX_ZOOM + 1):
            for column in range(1 << zoom):
                os.makedirs(os.path.join(out, layer, str(zoom), str(column)))
    # GDAL would leave a side file next to a tile for anything PNG or JPEG
    # cannot hold itself; the tiles carry nothing of the kind.
    gdal.SetConfigOption("GDAL_PAM_ENABLED", "NO")

    vectors = mercator_layers(arguments.vectors)
    placed_imagery(arguments.imagery)  # fails here, before the workers start, if unreadable
    WORK.update(
        out=out,
        imagery_path=arguments.imagery,
        land=land_counts(vectors),
        lines={zoom: line_masks(vectors, zoom) for zoom in range(MAX_ZOOM + 1)},
    )
    tasks = [(zoom, row) for zoom in range(MAX_ZOOM, -1, -1) for row in range(1 << zoom)]
    with multiprocessing.get_context("fork").Pool(arguments.jobs) as pool:
        written = sum(pool.imap_unordered(paint_row, tasks))
    shutil.copyfile(arguments.credits, os.path.join(out, "CREDITS.md"))
    write_metadata(out)
    tiles = 3 * sum(4 ** zoom for zoom in range(MAX_ZOOM + 1))
    print("paint_tiles: %d tiles, %.1f MB, in %s" % (tiles, written / 1e6, out))


def main():
    parser = argparse.ArgumentParser(description="Paints the world tile set.")
    parser.add_argument("--vectors", required=True)
    parser.add_argument("--imagery", required=True)
    parser.add_argument("--credits", required=True)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("out")
    arguments = parser.parse_args()
    if not 1 <= arguments.jobs <= 64:
        fail("--jobs wants 1 to 64, not %d" % arguments.jobs)

    try:
        paint(arguments)
    except (RuntimeError, OSError) as error:  # GDAL's errors and the file system's, from here or a worker
        fail(str(error))


if __name__ == "__main__":
    main()
