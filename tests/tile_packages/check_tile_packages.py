#!/usr/bin/python3
"""GDAL reads the tile packages as it reads any MBTiles or GeoPackage.

Usage: check_tile_packages.py FIXTURE. FIXTURE (zarvo_tile_package_fixture)
writes the synthetic pyramid, levels 0-3 of solid tiles whose colour tells
their place, as an MBTiles file and as GeoPackages of both tile matrix
sets. GDAL's own drivers open them; the pixel at the centre of sample tiles
of every level (full resolution and overviews) has the tile's colour, so a
row counted from the wrong edge or a level misplaced shows; the metadata
map clients read is there; GDAL's GeoPackage validator finds nothing.
"""
import json
import os
import sqlite3
import subprocess
import sys
import tempfile

from osgeo import gdal
from osgeo_utils.samples import validate_gpkg

gdal.UseExceptions()
MAX_LEVEL = 3
TILE = 256
MERCATOR_HALF = 20037508.342789244


def colour(level, column, row, rows):
    """The colour synthetic_pyramid.cpp gives a tile."""
    if level >= 2 and row >= rows * 3 // 4:
        return (20, 60, 160)
    return (40 + 50 * level, 30 + column * 25 % 200, 30 + row * 25 % 200)


def check_pixels(path, columns0, rows0):
    dataset = gdal.Open(path)
    assert dataset.RasterCount == 4, f"{path}: {dataset.RasterCount} bands"
    assert dataset.RasterXSize == columns0 * TILE << MAX_LEVEL, path
    assert dataset.RasterYSize == rows0 * TILE << MAX_LEVEL, path
    checked = 0
    for level in range(MAX_LEVEL + 1):
        columns, rows = columns0 << level, rows0 << level
        bands = [dataset.GetRasterBand(b) for b in (1, 2, 3, 4)]
        if level < MAX_LEVEL:
            bands = [band.GetOverview(MAX_LEVEL - level - 1) for band in bands]
        assert bands[0].XSize == columns * TILE, f"{path}: level {level} is {bands[0].XSize} wide"
        for column, row in {(0, 0), (columns - 1, rows - 1), (columns // 2, rows // 3), (columns - 1, 0)}:
            x, y = column * TILE + TILE // 2, row * TILE + TILE // 2
            got = tuple(band.ReadAsArray(x, y, 1, 1)[0][0] for band in bands)
            want = colour(level, column, row, rows) + (255,)
            assert got == want, f"{path}: level {level} tile {column},{row}: {got}, want {want}"
            checked += 1
    return checked


def check_mbtiles(path):
    dataset = gdal.Open(path)
    assert dataset.GetDriver().ShortName == "MBTiles", path
    origin_x, size_x, _, origin_y, _, size_y = dataset.GetGeoTransform()
    assert abs(origin_x + MERCATOR_HALF) < 1e-6 and abs(origin_y - MERCATOR_HALF) < 1e-6, path
    metadata = dataset.GetMetadata()
    want = {"name": "Synthetic relief", "format": "png", "minzoom": "0", "maxzoom": str(MAX_LEVEL),
            "attribution": "Zarvo test pyramid", "description": "Solid tiles that tell their place",
            "type": "baselayer", "version": "1.0.0", "center": "0.0,0.0,0"}
    for key, value in want.items():
        assert metadata.get(key) == value, f"{path}: {key}={metadata.get(key)!r}, want {value!r}"
    bounds = [float(v) for v in metadata["bounds"].split(",")]
    assert bounds == [-180, -85.0511287798066, 180, 85.0511287798066], bounds
    return check_pixels(path, 1, 1)


def check_geopackage(path, epsg, columns0, rows0, span):
    validate_gpkg.check(path)
    dataset = gdal.Open(path)
    assert dataset.GetDriver().ShortName == "GPKG", path
    assert dataset.GetSpatialRef().GetAuthorityCode(None) == str(epsg), path
    metadata = dataset.GetMetadata()
    assert metadata.get("IDENTIFIER") == "Synthetic relief", metadata
    assert metadata.get("DESCRIPTION") == "Solid tiles that tell their place", metadata
    record = json.loads(metadata["GPKG_METADATA_ITEM_1"])
    assert record["attribution"] == "Zarvo test pyramid", record
    with sqlite3.connect(path) as db:
        rows = db.execute("SELECT zoom_level, matrix_width, matrix_height, tile_width, tile_height, pixel_x_size,"
                          " pixel_y_size FROM gpkg_tile_matrix ORDER BY zoom_level").fetchall()
        want = [(z, columns0 << z, rows0 << z, TILE, TILE, span / (TILE << z), span / (TILE << z))
                for z in range(MAX_LEVEL + 1)]
        assert rows == want, f"{path}: tile matrices {rows}, want {want}"
        (srs,) = db.execute("SELECT srs_id FROM gpkg_contents").fetchone()
        assert srs == epsg, srs
    return check_pixels(path, columns0, rows0)


def main():
    fixture = sys.argv[1]
    with tempfile.TemporaryDirectory() as scratch:
        cases = [
            ("relief.mbtiles", "WebMercatorQuad", lambda p: check_mbtiles(p)),
            ("relief-3857.gpkg", "WebMercatorQuad",
             lambda p: check_geopackage(p, 3857, 1, 1, 2 * MERCATOR_HALF)),
            ("relief-4326.gpkg", "WorldCRS84Quad", lambda p: check_geopackage(p, 4326, 2, 1, 180.0)),
        ]
        for name, tile_matrix_set, check in cases:
            path = os.path.join(scratch, name)
            subprocess.run([fixture, path, tile_matrix_set, str(MAX_LEVEL)], check=True, stdout=subprocess.DEVNULL)
            checked = check(path)
            print(f"{name}: GDAL reads {checked} sample tiles of levels 0-{MAX_LEVEL} right")


if __name__ == "__main__":
    main()
