#!/usr/bin/python3
"""GDAL places zarvo-render's outputs exactly where they were asked for.

Usage: check_georeference.py ZARVO_RENDER DEMO_TILES. Renders a box as a
GeoTIFF and as a PNG with world file, reads both back with GDAL (the PNG
once through its .aux.xml, once through its .pgw alone) and checks the
reference system, the pixel size and the corners to 1e-9 degrees: pixel
centres lie on the box's edges, so the corners lie half a pixel outside.
A JPEG and a COG are read for their bands and compression.

Then the assembly GDAL users do: two renders of adjacent -te boxes, and the
N parts of --chunk K/N run as separate processes by GNU parallel, each put
together with gdalbuildvrt (and gdal_translate) give exactly the pixels of
the one render of the whole; and pixels beyond the tiled world have alpha 0.
"""
import os
import shutil
import subprocess
import sys
import tempfile

from osgeo import gdal, osr

gdal.UseExceptions()
TOLERANCE = 1e-9
WEST, SOUTH, EAST, NORTH = -11.5, 35.25, 31.75, 61.5
WIDTH, HEIGHT = 701, 403


def check_close(name, got, want):
    if abs(got - want) > TOLERANCE:
        raise AssertionError(f"{name}: {got!r}, want {want!r}")


def check_placed(path, how):
    dataset = gdal.Open(path)
    assert (dataset.RasterXSize, dataset.RasterYSize, dataset.RasterCount) == (WIDTH, HEIGHT, 4), path
    interpretation = [dataset.GetRasterBand(b).GetColorInterpretation() for b in range(1, 5)]
    assert interpretation == [gdal.GCI_RedBand, gdal.GCI_GreenBand, gdal.GCI_BlueBand, gdal.GCI_AlphaBand], how
    step_x = (EAST - WEST) / (WIDTH - 1)
    step_y = (NORTH - SOUTH) / (HEIGHT - 1)
    origin_x, size_x, skew_x, origin_y, skew_y, size_y = dataset.GetGeoTransform()
    check_close(f"{how} pixel width", size_x, step_x)
    check_close(f"{how} pixel height", size_y, -step_y)
    assert skew_x == 0 and skew_y == 0, how
    check_close(f"{how} west corner", origin_x, WEST - step_x / 2)
    check_close(f"{how} north corner", origin_y, NORTH + step_y / 2)
    check_close(f"{how} east corner", origin_x + WIDTH * size_x, EAST + step_x / 2)
    check_close(f"{how} south corner", origin_y + HEIGHT * size_y, SOUTH - step_y / 2)
    # The centre of pixel (0, 0) is the north-west corner of the box.
    check_close(f"{how} first pixel centre x", origin_x + size_x / 2, WEST)
    check_close(f"{how} first pixel centre y", origin_y + size_y / 2, NORTH)
    return dataset


def check_wgs84(dataset, how):
    srs = dataset.GetSpatialRef()
    assert srs is not None, f"{how}: no reference system"
    srs.AutoIdentifyEPSG()
    assert srs.GetAuthorityCode(None) == "4326", f"{how}: {srs.ExportToWkt()}"


def render(program, tiles, out, *options):
    subprocess.run([program, "--quiet", "--layer", "map", "--zoom", "6", "--bbox", f"{WEST},{SOUTH},{EAST},{NORTH}",
                    "--size", f"{WIDTH}x{HEIGHT}", "--tiles", tiles, "--out", out, *options], check=True, timeout=60)


def run(*args):
    subprocess.run([str(a) for a in args], check=True, timeout=120)


def pixels(path):
    return gdal.Open(path).ReadRaster()


def check_assembly(program, tiles, scratch):
    grid = ["--quiet", "--layer", "map", "--zoom", "5", "--tiles", tiles, "-tr", "0.125", "0.125"]
    whole = os.path.join(scratch, "whole.tif")
    run(program, *grid, "-te", -30, 30, 40, 70, "--out", whole)
    halves = [os.path.join(scratch, name) for name in ("west.tif", "east.tif", "south.tif")]
    run(program, *grid, "-te", -30, 50, 5, 70, "--out", halves[0])
    run(program, *grid, "-te", 5, 50, 40, 70, "--out", halves[1])
    run(program, *grid, "-te", -30, 30, 40, 50, "--out", halves[2])
    assembled = os.path.join(scratch, "assembled.vrt")
    run("gdalbuildvrt", "-q", assembled, *halves)
    assert pixels(assembled) == pixels(whole), "adjacent -te renders do not assemble into the whole"

    parts = 5
    part = os.path.join(scratch, "part{}.tif")
    run("parallel", "--halt", "now,fail=1", program, *grid, "-te", -30, 30, 40, 70, "--chunk", "{}/" + str(parts),
        "--out", part.format("{}"), ":::", *range(1, parts + 1))
    run("gdalbuildvrt", "-q", assembled, *[part.format(k) for k in range(1, parts + 1)])
    translated = os.path.join(scratch, "translated.tif")
    run("gdal_translate", "-q", assembled, translated)
    assert pixels(translated) == pixels(whole), "--chunk parts do not assemble into the whole"


def check_world_edges(program, tiles, scratch):
    arctic = os.path.join(scratch, "arctic.tif")
    run(program, "--quiet", "--layer", "map", "--zoom", "3", "--tiles", tiles, "-te", -180, 80, 180, 90, "-ts", 360, 100,
        "--out", arctic)
    dataset = gdal.Open(arctic)
    alpha = dataset.GetRasterBand(4).ReadAsArray()
    rgb = dataset.ReadAsArray()[:3]
    for row in range(100):
        centre = 90 - (row + 0.5) * 0.1
        want = 0 if centre > 85.0511287798066 else 255
        assert (alpha[row] == want).all(), f"row {row} at {centre}: alpha {set(alpha[row])}, want {want}"
        if want == 0:
            assert (rgb[:, row] == 0).all(), f"row {row} at {centre} holds colours beyond the world"


def main():
    program, tiles = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as scratch:
        tif = os.path.join(scratch, "europe.tif")
        png = os.path.join(scratch, "europe.png")
        render(program, tiles, tif)
        render(program, tiles, png)
        assert os.path.exists(os.path.join(scratch, "europe.pgw")), "no world file"
        assert os.path.exists(png + ".aux.xml"), "no .aux.xml"
        check_wgs84(check_placed(tif, "GeoTIFF"), "GeoTIFF")
        check_wgs84(check_placed(png, "PNG"), "PNG")
        # What a program that reads only the world file sees.
        gdal.SetConfigOption("GDAL_GEOREF_SOURCES", "WORLDFILE")
        gdal.SetConfigOption("GDAL_PAM_ENABLED", "NO")
        check_placed(png, "PNG world file")
        # The same pixels in both files.
        gdal.SetConfigOption("GDAL_GEOREF_SOURCES", None)
        gdal.SetConfigOption("GDAL_PAM_ENABLED", None)
        assert gdal.Open(tif).ReadRaster() == gdal.Open(png).ReadRaster(), "GeoTIFF and PNG differ"
        print("GeoTIFF and PNG placed to 1e-9 degrees")
        # A JPEG is RGB (a fourth band would make it CMYK), its nodata a
        # mask; a COG is DEFLATE-compressed, as GeoTIFFs are.
        jpg, cog = os.path.join(scratch, "europe.jpg"), os.path.join(scratch, "cog.tif")
        render(program, tiles, jpg)
        render(program, tiles, cog, "-of", "COG")
        jpeg = gdal.Open(jpg)
        assert jpeg.RasterCount == 3, f"a JPEG of {jpeg.RasterCount} bands"
        assert jpeg.GetMetadataItem("SOURCE_COLOR_SPACE", "IMAGE_STRUCTURE") == "YCbCr"
        assert jpeg.GetRasterBand(1).GetMaskFlags() == gdal.GMF_PER_DATASET
        assert gdal.Open(cog).GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE") == "DEFLATE"
        print("JPEG in RGB with a mask, COG in DEFLATE")
        check_world_edges(program, tiles, scratch)
        print("beyond the world's edges: alpha 0")
        assert shutil.which("parallel"), "GNU parallel is missing (Debian's parallel)"
        check_assembly(program, tiles, scratch)
        print("adjacent -te renders and --chunk parts assemble exactly into the whole")


if __name__ == "__main__":
    main()
