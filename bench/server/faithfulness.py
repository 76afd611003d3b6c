"""How the GetMap images of zarvo-serve, MapServer and MapProxy agree with
each other and with the tiles, and what their encodings cost in size.

For each box of boxes.txt the servers' 512 x 512 images (PNG and JPEG) are
compared with each other (mean absolute difference over the three bands,
0 to 255, for each pair of servers) and with these references:
  tiles  GDAL's warp of the tile set's deepest zoom onto the image's
         EPSG:4326 grid, bilinear (its kernel widened when it shrinks),
         from the same GDAL TMS description MapServer reads: mean absolute
         difference over the three bands, 0 to 255;
  corner the same warp with every tile pixel's value placed at its
         north-west corner instead of its centre, at the zoom zarvo-serve
         drew the box at (its X-Zarvo-Zoom header): the plug-in's placement;
  truth  for the map layer, GSHHG's land and water areas rasterised by GDAL
         on the same grid (as tests/geodata/ground_truth_test.py does): the
         share of pixels whose land or water agrees.
Then the sizes: each server's mean answer, and zarvo-serve's rasters
encoded again as JPEG at other qualities, with the time each takes here
(zarvo_png_bench does the same for PNG with zarvo-serve's own encoder).

Usage: faithfulness.py --boxes boxes.txt --images DIR --sources DIR
                       --vectors WORLD.gpkg --style-dir DIR
DIR of images holds SERVER-INDEX.FORMAT; DIR of sources LAYER.xml.
"""

import argparse
import os
import re
import sys
import time

import numpy as np
from osgeo import gdal, osr

gdal.UseExceptions()
SIZE = 512
SERVERS = (("zarvo", "zarvo-serve"), ("mapserver", "MapServer 8"), ("mapproxy", "MapProxy 1.15"))


def read_boxes(path):
    boxes = []
    for line in open(path):
        fields = line.split()
        if fields and not fields[0].startswith("#"):
            boxes.append((fields[0], *map(float, fields[1:5])))
    return boxes


def wgs84_wkt():
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(4326)
    return srs.ExportToWkt()


def grid(west, south, east, north, bands):
    raster = gdal.GetDriverByName("MEM").Create("", SIZE, SIZE, bands, gdal.GDT_Byte)
    raster.SetGeoTransform((west, (east - west) / SIZE, 0, north, 0, -(north - south) / SIZE))
    raster.SetProjection(wgs84_wkt())
    return raster


def warped_tiles(source, west, south, east, north):
    target = grid(west, south, east, north, 3)
    gdal.Warp(target, source, resampleAlg="bilinear", overviewLevel="NONE", multithread=True)
    return target.ReadAsArray().astype(np.int16)


HALF_WORLD = 20037508.342789244


def corner_placed(description, zoom):
    """The TMS description with its grid moved half a tile pixel of plug-in
    zoom `zoom` west and north: each pixel's value then sits at its corner."""
    half = HALF_WORLD / (256 * 2 ** (zoom - 1))
    text = open(description).read()
    for tag, value in (("UpperLeftX", -HALF_WORLD - half), ("LowerRightX", HALF_WORLD - half),
                       ("UpperLeftY", HALF_WORLD + half), ("LowerRightY", -HALF_WORLD + half)):
        text = re.sub(r"<%s>[^<]*</%s>" % (tag, tag), "<%s>%r</%s>" % (tag, value, tag), text)
    gdal.FileFromMemBuffer("/vsimem/corner.xml", text)
    return gdal.Open("/vsimem/corner.xml")


def zoom_of(headers):
    match = re.search(r"^X-Zarvo-Zoom:\s*(\d+)", open(headers).read(), re.IGNORECASE | re.MULTILINE)
    if not match:
        raise SystemExit("faithfulness: no X-Zarvo-Zoom in %s" % headers)
    return int(match.group(1))


def rasterised_water(vectors, west, south, east, north):
    target = grid(west, south, east, north, 1)
    # Levels: land, lake, island in a lake, pond; odd levels are land.
    gdal.Rasterize(target, vectors, layers=["areas"], attribute="level")
    return target.ReadAsArray() % 2 == 0


def water_in_map(image, water_ratio):
    return image[2].astype(np.float64) > image[0].astype(np.float64) * water_ratio


def encode_costs(rasters):
    """Mean size and encoding time of the rasters under GDAL's JPEG encoder
    (the same libjpeg-turbo the servers use)."""
    settings = [("JPEG", ["QUALITY=75"], "JPEG quality 75"),
                ("JPEG", ["QUALITY=85"], "JPEG quality 85"),
                ("JPEG", ["QUALITY=90"], "JPEG quality 90")]
    rows = []
    for driver, options, name in settings:
        sizes, start = [], time.perf_counter()
        for raster in rasters:
            gdal.GetDriverByName(driver).CreateCopy("/vsimem/encoded", raster, options=options)
            sizes.append(gdal.VSIStatL("/vsimem/encoded").size)
            gdal.Unlink("/vsimem/encoded")
        rows.append((name, np.mean(sizes), (time.perf_counter() - start) * 1000 / len(rasters)))
    return rows


def main():
    parser = argparse.ArgumentParser()
    for flag in ("--boxes", "--images", "--sources", "--vectors", "--style-dir"):
        parser.add_argument(flag, required=True)
    args = parser.parse_args()
    sys.path.insert(0, args.style_dir)
    sys.dont_write_bytecode = True
    import map_style

    servers = tuple((server, name) for server, name in SERVERS
                    if os.path.exists(os.path.join(args.images, "%s-1.png" % server)))
    sources = {layer: gdal.Open(os.path.join(args.sources, layer + ".xml")) for layer in ("map", "aerial", "hybrid")}
    differences = {}  # (server, format) -> per box
    corner_differences = {}
    agreements = {}   # (server, format) -> per map box
    sizes = {}
    pairs = [(a, b) for i, (a, _) in enumerate(servers) for b, _ in servers[i + 1:]]
    between = {}      # (server, server, format) -> per box
    print("| box | layer | reference | " + " | ".join("%s %s" % (n, f.upper()) for _, n in servers
                                                   for f in ("png", "jpeg")) + " |")
    print("|---|---|---|" + "---:|" * (2 * len(servers)))
    for index, (layer, west, south, east, north) in enumerate(read_boxes(args.boxes), start=1):
        reference = warped_tiles(sources[layer], west, south, east, north)
        zoom = zoom_of(os.path.join(args.images, "zarvo-%d.png.headers" % index))
        corner = warped_tiles(corner_placed(os.path.join(args.sources, layer + ".xml"), zoom),
                              west, south, east, north)
        water = rasterised_water(args.vectors, west, south, east, north) if layer == "map" else None
        tiles_row, corner_row, truth_row = [], [], []
        images = {}
        for server, _ in servers:
            for fmt in ("png", "jpeg"):
                path = os.path.join(args.images, "%s-%d.%s" % (server, index, fmt))
                sizes.setdefault((server, fmt), []).append(os.path.getsize(path))
                image = gdal.Open(path).ReadAsArray().astype(np.int16)[:3]
                images[(server, fmt)] = image
                difference = float(np.mean(np.abs(image - reference)))
                differences.setdefault((server, fmt), []).append(difference)
                tiles_row.append("%.2f" % difference)
                corner_difference = float(np.mean(np.abs(image - corner)))
                corner_differences.setdefault((server, fmt), []).append(corner_difference)
                corner_row.append("%.2f" % corner_difference)
                if water is not None:
                    agreement = float(np.mean(water_in_map(image, map_style.WATER_RATIO) == water))
                    agreements.setdefault((server, fmt), []).append(agreement)
                    truth_row.append("%.4f" % agreement)
        for a, b in pairs:
            for fmt in ("png", "jpeg"):
                between.setdefault((a, b, fmt), []).append(
                    float(np.mean(np.abs(images[(a, fmt)] - images[(b, fmt)]))))
        name = "%g,%g,%g,%g" % (west, south, east, north)
        print("| %s | %s | tiles: mean abs. difference | %s |" % (name, layer, " | ".join(tiles_row)))
        print("| %s | %s | corner (zoom %d): mean abs. difference | %s |" % (name, layer, zoom, " | ".join(corner_row)))
        if truth_row:
            print("| %s | %s | truth: land/water agreement | %s |" % (name, layer, " | ".join(truth_row)))
    print("\n| server | format | mean abs. difference from the tiles | from the corner-placed tiles | "
          "land/water agreement (map boxes) | mean size kB |")
    print("|---|---|---:|---:|---:|---:|")
    for server, name in servers:
        for fmt in ("png", "jpeg"):
            print("| %s | %s | %.2f | %.2f | %.4f | %.1f |" % (
                name, fmt.upper(), np.mean(differences[(server, fmt)]), np.mean(corner_differences[(server, fmt)]),
                np.mean(agreements[(server, fmt)]),
                np.mean(sizes[(server, fmt)]) / 1024))

    names = dict(servers)
    boxes = read_boxes(args.boxes)
    print("\nThe servers against each other: mean abs. difference (0 to 255) of their PNG images, and of their JPEG\n"
          "images in brackets")
    print("| box | layer | " + " | ".join("%s / %s" % (names[a], names[b]) for a, b in pairs) + " |")
    print("|---|---|" + "---:|" * len(pairs))
    for index, (layer, west, south, east, north) in enumerate(boxes):
        print("| %g,%g,%g,%g | %s | %s |" % (west, south, east, north, layer, " | ".join(
            "%.2f (%.2f)" % (between[(a, b, "png")][index], between[(a, b, "jpeg")][index]) for a, b in pairs)))
    print("| mean | | %s |" % " | ".join(
        "%.2f (%.2f)" % (np.mean(between[(a, b, "png")]), np.mean(between[(a, b, "jpeg")])) for a, b in pairs))

    rasters = [gdal.Open(os.path.join(args.images, "zarvo-%d.png" % i)) for i in range(1, len(boxes) + 1)]
    print("\nzarvo-serve's rasters encoded again as JPEG (GDAL, one thread, mean over the boxes):")
    print("| encoding | mean size kB | ms per image |")
    print("|---|---:|---:|")
    for name, size, milliseconds in encode_costs(rasters):
        print("| %s | %.1f | %.1f |" % (name, size / 1024, milliseconds))


if __name__ == "__main__":
    main()
