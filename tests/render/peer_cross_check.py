#!/usr/bin/python3
"""zarvo-render and GDAL, from the same tiles, render the same rasters.

Usage: peer_cross_check.py ZARVO_RENDER DEMO_TILES. Renders five boxes
(magnified and reduced, south and north, near the world's edge) with
zarvo-render, then the same grids (-te/-ts, outer edges) from the same tile
directory with GDAL: its WMS driver reads the directory as a TMS tile set
(service zoom = request zoom - 1, rows from the south) and gdalwarp resamples
it bilinearly onto EPSG:4326. Each box is also drawn with --plugin-grid, the
plug-in's own positions (a tile pixel's value at its north-west corner).

Passes when every box's placed render is nearer GDAL's than the plug-in-grid
render is, and its mean absolute difference is at most 2 levels (a reduced box differs
most: GDAL widens its kernel when it reduces, the plug-in samples).
"""
import os
import subprocess
import sys
import tempfile

import numpy
from osgeo import gdal

gdal.UseExceptions()
HALF_WORLD = 20037508.342789244  # metres, spherical Mercator
# name, zoom, west, south, east, north, width, height
BOXES = [
    ("europe", 6, 0.0, 40.0, 10.0, 50.0, 400, 400),
    ("germany x4", 6, 5.0, 47.0, 15.0, 55.0, 1600, 1280),
    ("iberia /1.6", 6, -10.0, 36.0, 4.0, 44.0, 200, 115),
    ("scandinavia", 5, 5.0, 58.0, 30.0, 71.0, 500, 260),
    ("arctic edge", 4, -60.0, 70.0, 0.0, 85.0, 300, 150),
]

TMS_DESCRIPTION = """<GDAL_WMS>
  <Service name="TMS"><ServerUrl>{url}/${{z}}/${{x}}/${{y}}.png</ServerUrl></Service>
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


def render(program, tiles, out, box, extra=()):
    _, zoom, west, south, east, north, width, height = box
    subprocess.run([program, "--quiet", "--overwrite", "--layer", "map", "--zoom", str(zoom), "-te", str(west),
                    str(south), str(east), str(north), "-ts", str(width), str(height), "--tiles", tiles, "--out",
                    out, *extra], check=True, timeout=120)
    return gdal.Open(out).ReadAsArray()[:3].astype(numpy.int32)


def main():
    program, tiles = sys.argv[1], os.path.abspath(sys.argv[2])
    failed = []
    with tempfile.TemporaryDirectory() as scratch:
        for box in BOXES:
            name, zoom, west, south, east, north, width, height = box
            description = os.path.join(scratch, "tiles.xml")
            with open(description, "w") as f:
                f.write(TMS_DESCRIPTION.format(url=f"file://{tiles}/map", half=HALF_WORLD, level=zoom - 1))
            peer = os.path.join(scratch, "peer.tif")
            gdal.Warp(peer, description, dstSRS="EPSG:4326", width=width, height=height, resampleAlg="bilinear",
                      outputBounds=(west, south, east, north), errorThreshold=0, overviewLevel="NONE")
            theirs = gdal.Open(peer).ReadAsArray().astype(numpy.int32)
            placed = numpy.abs(render(program, tiles, os.path.join(scratch, "ours.tif"), box) - theirs).mean()
            own = numpy.abs(render(program, tiles, os.path.join(scratch, "own.tif"), box, ["--plugin-grid"]) -
                            theirs).mean()
            print(f"{name:12} zoom {zoom} {width}x{height}: mean difference to gdalwarp {placed:.3f} levels "
                  f"(plug-in grid {own:.3f})")
            if not (placed < own and placed <= 2.0):
                failed.append(name)
    if failed:
        sys.exit("placed farther from gdalwarp than expected: " + ", ".join(failed))


if __name__ == "__main__":
    main()
