"""The map layer against ground truth: for each region, zarvo-render draws the
map layer from the world tile set, and GDAL rasterises the same GSHHG areas
straight onto the request's longitude/latitude grid. Land and water must
agree on nearly every pixel, and wherever the tiles have at least one pixel
per raster pixel, no coastline may be more than one raster pixel off.

Usage: ground_truth_test.py --render ZARVO_RENDER --plugin LIBRARY --tiles DIR
                            --vectors WORLD.gpkg --style-dir DIR [unittest options]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import unittest

import numpy as np
from osgeo import gdal, osr

gdal.UseExceptions()

# Set from the command line: the programs and files under test, and the
# layers' colours (geodata/map_style.py).
ARGS = None
STYLE = None


class Region:
    def __init__(self, name, zoom, west, south, east, north, width, height):
        self.name, self.zoom = name, zoom
        self.west, self.south, self.east, self.north = west, south, east, north
        self.width, self.height = width, height

    def column_step(self):
        return (self.east - self.west) / (self.width - 1)

    def row_step(self):
        return (self.north - self.south) / (self.height - 1)


# Sizes give about one tile pixel per raster pixel where the tiles are
# coarsest (the tiles of request zoom Z have 256 * 2^(Z-1) pixels around the
# world; Mercator gives them more per degree of latitude away from the
# equator), so every row is held to the one-pixel coastline bound.
REGIONS = [
    Region("Arctic Ocean up to 85 N, zoom 4", 4, 0, 76, 70, 85, 399, 212),
    Region("Ross Ice Shelf down to 85 S, zoom 4", 4, -178, -85, -140, -70, 217, 250),
    Region("East Africa's lakes and coast across the equator, zoom 6", 6, 28, -6, 42, 4, 319, 228),
    Region("Southern Ocean, zoom 1", 1, -175, -80, 175, -30, 249, 42),
    Region("Europe as the demo renders it, zoom 6", 6, -12, 34, 32, 62, 1000, 760),
]

MIN_AGREEMENT = 0.98


def render_map(region, out):
    command = [ARGS.render, "--plugin", ARGS.plugin, "--quiet", "--layer", "map",
               "--zoom", str(region.zoom),
               "--bbox", "%r,%r,%r,%r" % (region.west, region.south, region.east, region.north),
               "--size", "%dx%d" % (region.width, region.height), "--tiles", ARGS.tiles, "--out", out]
    run = subprocess.run(command, capture_output=True, text=True, timeout=120)
    if run.returncode != 0:
        raise AssertionError("%s failed: %s" % (" ".join(command), run.stderr.strip()))
    image = gdal.Open(out).ReadAsArray()
    # Red, green, blue and the alpha band that marks nodata.
    if image.shape != (4, region.height, region.width):
        raise AssertionError("%s is %r, not 4 x %d x %d" % (out, image.shape, region.height, region.width))
    if not (image[3] == 255).all():
        raise AssertionError("%s has nodata pixels inside the tiled world" % out)
    return image[:3]


def water_in_map(image):
    """Water where a pixel is bluer than an even mix of land and water; the
    map's lines keep that ratio, so they do not count."""
    red = image[0].astype(np.float64)
    blue = image[2].astype(np.float64)
    return blue > red * STYLE.WATER_RATIO


def rasterised_water(region, fine):
    """The GSHHG areas rasterised on the raster's own grid, or on a grid
    `fine` times finer that covers the same pixels. Pixel centres lie on the
    box's edges, so the grid's outer edge is half a step outside the box."""
    step_x, step_y = region.column_step(), region.row_step()
    grid = gdal.GetDriverByName("MEM").Create("", region.width * fine, region.height * fine, 1, gdal.GDT_Byte)
    grid.SetGeoTransform((region.west - step_x / 2, step_x / fine, 0, region.north + step_y / 2, 0, -step_y / fine))
    wgs84 = osr.SpatialReference()
    wgs84.ImportFromEPSG(4326)
    grid.SetProjection(wgs84.ExportToWkt())
    # Areas are stored land, lakes, islands in lakes, ponds: burnt in that
    # order each level covers the one it lies in; odd levels are land.
    gdal.Rasterize(grid, ARGS.vectors, layers=["areas"], attribute="level")
    return grid.ReadAsArray() % 2 == 0


# Sub-samples per raster pixel and axis for finding coastlines near a pixel.
FINE = 4


def within_one_pixel(fine_mask):
    """Raster pixels with a sample of `fine_mask` no more than one pixel away
    from their centre, along each axis: the pixel's own FINE x FINE samples
    and the nearer half of each neighbour's."""
    reach = FINE // 2
    padded = np.pad(fine_mask, reach, mode="edge")
    windows = np.lib.stride_tricks.sliding_window_view(padded, (2 * FINE, 2 * FINE))
    return windows[::FINE, ::FINE].any(axis=(2, 3))


def rows_with_enough_tile_pixels(region):
    """Rows where the tiles have at least one pixel per raster pixel both
    across and down."""
    tile_pixels_per_degree = 256 * 2 ** (region.zoom - 1) / 360.0
    across = tile_pixels_per_degree >= 1 / region.column_step()
    latitudes = region.north - np.arange(region.height) * region.row_step()
    down = tile_pixels_per_degree / np.cos(np.radians(latitudes)) >= 1 / region.row_step()
    return down & across


class GroundTruthTest(unittest.TestCase):
    def test_map_land_and_water_match_the_areas(self):
        with tempfile.TemporaryDirectory() as scratch:
            for index, region in enumerate(REGIONS):
                with self.subTest(region=region.name):
                    ours = water_in_map(render_map(region, os.path.join(scratch, "%d.png" % index)))
                    truth = rasterised_water(region, 1)
                    agreement = float(np.mean(ours == truth))
                    fine = rasterised_water(region, FINE)
                    checked = rows_with_enough_tile_pixels(region)
                    # Water drawn where no true water lies within a pixel, or land likewise.
                    displaced = ((ours & ~within_one_pixel(fine)) | (~ours & ~within_one_pixel(~fine))) & checked[:, None]
                    print("%-58s agreement %.4f, water %.3f, rows checked %d of %d, displaced pixels %d"
                          % (region.name, agreement, float(truth.mean()), int(checked.sum()), region.height,
                             int(displaced.sum())))
                    self.assertGreater(truth.mean(), 0.02, "no water: the region tests nothing")
                    self.assertLess(truth.mean(), 0.98, "no land: the region tests nothing")
                    self.assertGreaterEqual(agreement, MIN_AGREEMENT)
                    self.assertGreater(checked.sum(), 0)
                    if displaced.any():
                        rows, columns = np.nonzero(displaced)
                        self.fail("coastline more than one pixel off at %d pixels, first at lon %.4f lat %.4f"
                                  % (displaced.sum(), region.west + columns[0] * region.column_step(),
                                     region.north - rows[0] * region.row_step()))


class TileSetTest(unittest.TestCase):
    def test_every_tile_is_there_and_the_corners_decode(self):
        self.assertTrue(os.path.isfile(os.path.join(ARGS.tiles, "CREDITS.md")), "the data's credits travel with the set")
        for layer, extension in (("map", "png"), ("aerial", "jpeg"), ("hybrid", "png")):
            for zoom in range(6):
                side = 1 << zoom
                missing = [(x, y) for x in range(side) for y in range(side)
                           if not os.path.isfile(os.path.join(ARGS.tiles, layer, str(zoom), str(x),
                                                              "%d.%s" % (y, extension)))]
                self.assertEqual(missing, [], "%s zoom %d" % (layer, zoom))
                for x, y in {(0, 0), (side - 1, side - 1), (0, side - 1), (side - 1, 0)}:
                    path = os.path.join(ARGS.tiles, layer, str(zoom), str(x), "%d.%s" % (y, extension))
                    tile = gdal.Open(path)
                    self.assertEqual((tile.RasterXSize, tile.RasterYSize, tile.RasterCount), (256, 256, 3), path)

    def test_rows_are_counted_from_the_south(self):
        # Tile row 0 of zoom 1 is the southern half of the world: Antarctica
        # fills its bottom, the Arctic ocean the top of row 1.
        def water_share(y, rows):
            image = gdal.Open(os.path.join(ARGS.tiles, "map", "1", "0", "%d.png" % y)).ReadAsArray()
            return float(water_in_map(image[:, rows]).mean())
        self.assertLess(water_share(0, slice(240, 256)), 0.05)
        self.assertGreater(water_share(1, slice(0, 16)), 0.5)


def main():
    global ARGS, STYLE
    parser = argparse.ArgumentParser()
    for option in ("--render", "--plugin", "--tiles", "--vectors", "--style-dir"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    sys.dont_write_bytecode = True  # the tests leave nothing in the source tree
    sys.path.insert(0, ARGS.style_dir)
    import map_style  # noqa: E402

    STYLE = map_style
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
