"""Shorelines, lakes and national borders of the whole world from GSHHG, as
a GeoPackage in longitude/latitude (EPSG:4326).

Usage: gshhg_vectors.py [--gmt GMT] OUT.gpkg

GMT stores GSHHG in bins and dumps each bin's piece of a shoreline as a
segment of its own. The segments of one shoreline meet end to end, so the
closed outlines are found again by joining each segment to the one that
starts where it ends. Outlines that cross the 180th meridian are joined
across it and cut back into pieces on either side, and Antarctica's outline,
which runs once around the pole, is closed through the pole.

Layers written:
  areas      polygons, field `level`: 1 land, 2 lake, 3 island in a lake,
             4 pond on such an island; stored in that order, so painting
             them in turn gives land and water with lakes and their islands
  shorelines the dumped segments, field `level`, for drawing coastlines
  borders    national borders
"""

import argparse
import os
import struct
import subprocess
import sys
import tempfile

from osgeo import gdal, ogr, osr

# Intermediate resolution: its shorelines keep detail down to about a
# kilometre, a little finer than a tile pixel at the deepest zoom.
RESOLUTION = "i"

ogr.UseExceptions()
osr.UseExceptions()


def fail(message):
    sys.stderr.write("gshhg_vectors: %s\n" % message)
    sys.exit(1)


def dump(gmt, feature_option):
    """Runs `gmt coast -M` for the whole world and returns (level, points)
    per segment; the level is the number at the end of each header."""
    command = [gmt, "coast", "-Rd", "-D" + RESOLUTION, feature_option, "-M"]
    try:
        # GMT leaves a gmt.history file in its working directory.
        with tempfile.TemporaryDirectory() as scratch:
            result = subprocess.run(command, check=True, capture_output=True, text=True, cwd=scratch, timeout=600)
    except (OSError, subprocess.SubprocessError) as error:
        detail = getattr(error, "stderr", "") or str(error)
        fail("%s failed: %s" % (" ".join(command), detail.strip()))
    segments = []
    for line in result.stdout.splitlines():
        try:
            if line.startswith(">"):
                segments.append((int(line.rsplit(None, 1)[-1]), []))
            elif line:
                x, y = line.split()[:2]
                segments[-1][1].append((float(x), float(y)))
        except (ValueError, IndexError):
            fail("%s wrote a line that is neither a segment header nor a point: %r" % (" ".join(command), line[:80]))
    if not segments:
        fail("%s wrote no segments" % " ".join(command))
    return segments


def across_dateline(point):
    """The same place named from the other side of the 180th meridian."""
    x, y = point
    return (-x, y) if abs(x) == 180.0 else None


def join_rings(segments):
    """Joins segments that meet end to end, also across the 180th meridian."""
    rings = []
    by_start = {}
    for points in segments:
        if len(points) < 2:
            continue
        if points[0] == points[-1]:
            rings.append(points)
        else:
            by_start.setdefault(points[0], []).append(points)

    def take_from(point):
        for key in (point, across_dateline(point)):
            waiting = by_start.get(key)
            if waiting:
                piece = waiting.pop()
                if not waiting:
                    del by_start[key]
                return piece
        return None

    while by_start:
        start = next(iter(by_start))
        ring = list(take_from(start))
        while ring[-1] != ring[0] and across_dateline(ring[-1]) != ring[0]:
            piece = take_from(ring[-1])
            if piece is None:
                fail("a shoreline stays open at %r" % (ring[-1],))
            ring.extend(piece[1:] if piece[0] == ring[-1] else piece)
        rings.append(ring)
    return rings


def unwrap(ring):
    """Longitudes made continuous where the ring steps across the 180th
    meridian (they may then leave -180..180)."""
    offset = 0.0
    previous = ring[0][0]
    out = []
    for x, y in ring:
        if x - previous > 180:
            offset -= 360
        elif x - previous < -180:
            offset += 360
        previous = x
        out.append((x + offset, y))
    return out


def coordinates(points):
    return struct.pack("<%dd" % (2 * len(points)), *(c for point in points for c in point))


# Geometries are built from well-known binary: point by point through the
# bindings costs seconds for the world's shorelines.
def polygon_of(points):
    if points[0] != points[-1]:
        points = points + [points[0]]
    return ogr.CreateGeometryFromWkb(struct.pack("<BIII", 1, ogr.wkbPolygon, 1, len(points)) + coordinates(points))


def line_of(points):
    return ogr.CreateGeometryFromWkb(struct.pack("<BII", 1, ogr.wkbLineString, len(points)) + coordinates(points))


def box(west, south, east, north):
    return polygon_of([(west, south), (east, south), (east, north), (west, north)])


def polygons_in(geometry):
    """Copies of the polygons a clipping result holds (it may also hold
    lines or points where the outline only touches the clip box)."""
    if geometry is None or geometry.IsEmpty():
        return []
    if geometry.GetGeometryType() == ogr.wkbPolygon:
        return [geometry.Clone()]
    found = []
    for k in range(geometry.GetGeometryCount()):
        found += polygons_in(geometry.GetGeometryRef(k))
    return found


def world_pieces(ring):
    """The ring as polygons within -180..180 longitude."""
    if all(abs(b[0] - a[0]) <= 180 for a, b in zip(ring, ring[1:])):
        return [polygon_of(ring)]
    points = unwrap(ring)
    if points[-1][0] != points[0][0]:
        # Once around the pole: close the outline along the pole's latitude.
        pole = -90.0 if sum(y for _, y in points) < 0 else 90.0
        points += [(points[-1][0], pole), (points[0][0], pole)]
    # Where the outline touches itself (as Eurasia's does) GEOS cannot clip
    # it until it is made valid; the check's own warning says nothing new.
    polygon = polygon_of(points)
    gdal.PushErrorHandler("CPLQuietErrorHandler")
    valid = polygon.IsValid()
    gdal.PopErrorHandler()
    if not valid:
        polygon = polygon.MakeValid()
    pieces = []
    for turn in (-2, -1, 0, 1, 2):
        shift = 360.0 * turn
        for single in polygons_in(polygon.Intersection(box(-180 + shift, -90, 180 + shift, 90))):
            for r in range(single.GetGeometryCount()):
                edge = single.GetGeometryRef(r)
                for p in range(edge.GetPointCount()):
                    edge.SetPoint_2D(p, edge.GetX(p) - shift, edge.GetY(p))
            pieces.append(single)
    return pieces


def write_vectors(arguments):
    shores = dump(arguments.gmt, "-W")
    borders = dump(arguments.gmt, "-N1")
    # Written under another name and renamed when complete, so an
    # interrupted run never leaves a file that looks finished.
    directory, name = os.path.split(arguments.out)
    out = os.path.join(directory, "partial-" + name)

    wgs84 = osr.SpatialReference()
    wgs84.ImportFromEPSG(4326)
    wgs84.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    if os.path.exists(out):
        os.remove(out)
    data = ogr.GetDriverByName("GPKG").CreateDataSource(out)

    # Readers take every feature in turn and never search by place, so the
    # layers go without a spatial index, which only slows the writing.
    def new_layer(name, kind):
        layer = data.CreateLayer(name, wgs84, kind, options=["SPATIAL_INDEX=NO"])
        layer.CreateField(ogr.FieldDefn("level", ogr.OFTInteger))
        return layer

    areas = new_layer("areas", ogr.wkbPolygon)
    areas.StartTransaction()
    for level in (1, 2, 3, 4):
        for ring in join_rings([points for lvl, points in shores if lvl == level]):
            if len(set(ring)) < 3:
                continue  # a sliver where a shoreline touches a bin's edge: no area
            for polygon in world_pieces(ring):
                feature = ogr.Feature(areas.GetLayerDefn())
                feature.SetField("level", level)
                feature.SetGeometry(polygon)
                areas.CreateFeature(feature)
    areas.CommitTransaction()

    for name, segments in (("shorelines", shores), ("borders", borders)):
        layer = new_layer(name, ogr.wkbLineString)
        layer.StartTransaction()
        for level, points in segments:
            if len(points) < 2:
                continue
            feature = ogr.Feature(layer.GetLayerDefn())
            feature.SetField("level", level)
            feature.SetGeometry(line_of(points))
            layer.CreateFeature(feature)
        layer.CommitTransaction()
    data = None
    os.replace(out, arguments.out)


def main():
    parser = argparse.ArgumentParser(description="Writes GSHHG's shorelines, lakes and borders as a GeoPackage.")
    parser.add_argument("--gmt", default="gmt", help="the gmt program")
    parser.add_argument("out")
    arguments = parser.parse_args()
    try:
        write_vectors(arguments)
    except (RuntimeError, OSError) as error:  # GDAL's errors and the file system's
        fail(str(error))


if __name__ == "__main__":
    main()
