#!/usr/bin/python3
"""zarvo-render and GDAL, from the same tiles, render the same raster.

Usage: peer_cross_check.py ZARVO_RENDER DEMO_TILES. Renders a region with
zarvo-render, then the same region from the same tile directory with GDAL:
its WMS driver reads the directory as a TMS tile set (service zoom = request
zoom - 1, rows from the south) and gdalwarp resamples it bilinearly onto
EPSG:4326. GDAL's pixels are areas, ours are samples on the box's edges, so
GDAL's extent is widened by half a pixel on every side. Both rasters magnify
the tiles a little (about 1.5 raster pixels per tile pixel), so GDAL's
bilinear kernel is the plain one, without widening for reduction.

Passes when the median absolute difference is 0 and the mean at most 2 levels.
"""
import os
import subprocess
import sys
import tempfile

import numpy
from osgeo import gdal

gdal.UseExceptions()
WEST, SOUTH, EAST, NORTH = 0.0, 40.0, 10.0, 50.0
WIDTH, HEIGHT = 400, 400
ZOOM = 6
HALF_WORLD = 20037508.342789244  # metres, spherical Mercator

TMS_DESCRIPTION = """<GDAL_WMS>
  <Service name="TMS"><ServerUrl>file://{tiles}/map/${{z}}/${{x}}/${{y}}.png</ServerUrl></Service>
  <DataWindow>
    <UpperLeftX>-{half}</UpperLeftX><UpperLeftY>{half}</UpperLeftY>
    <LowerRightX>{half}</LowerRightX><LowerRightY>-{half}</LowerRightY>
    <TileLevel>{level}</TileLevel><TileCountX>1</TileCountX><TileCountY>1</TileCountY>
    <YOrigin>bottom</YOrigin>
  </DataWindow>
  <Projection>EPSG:3857</Projection>
  <BlockSizeX>256</BlockSizeX><BlockSizeY>256</BlockSizeY><BandsCount>3</BandsCount>
</GDAL_WMS>
"""


def main():
    program, tiles = sys.argv[1], os.path.abspath(sys.argv[2])
    with tempfile.TemporaryDirectory() as scratch:
        ours = os.path.join(scratch, "ours.tif")
        subprocess.run([program, "--quiet", "--layer", "map", "--zoom", str(ZOOM), "--bbox",
                        f"{WEST},{SOUTH},{EAST},{NORTH}", "--size", f"{WIDTH}x{HEIGHT}", "--tiles", tiles,
                        "--out", ours], check=True, timeout=60)
        description = os.path.join(scratch, "tiles.xml")
        with open(description, "w") as f:
            f.write(TMS_DESCRIPTION.format(tiles=tiles, half=HALF_WORLD, level=ZOOM - 1))
        step_x = (EAST - WEST) / (WIDTH - 1)
        step_y = (NORTH - SOUTH) / (HEIGHT - 1)
        peer = os.path.join(scratch, "peer.tif")
        gdal.Warp(peer, description, dstSRS="EPSG:4326", width=WIDTH, height=HEIGHT, resampleAlg="bilinear",
                  outputBounds=(WEST - step_x / 2, SOUTH - step_y / 2, EAST + step_x / 2, NORTH + step_y / 2),
                  errorThreshold=0, overviewLevel="NONE")
        a = gdal.Open(ours).ReadAsArray().astype(numpy.int32)
        b = gdal.Open(peer).ReadAsArray().astype(numpy.int32)
        assert a.shape == b.shape == (3, HEIGHT, WIDTH), (a.shape, b.shape)
        difference = numpy.abs(a - b)
        median, mean = float(numpy.median(difference)), float(difference.mean())
        print(f"zarvo-render vs gdalwarp: median {median}, mean {mean:.3f}, max {difference.max()} levels")
        if median != 0 or mean > 2:
            sys.exit("the rasters differ more than a resampling detail")


if __name__ == "__main__":
    main()
