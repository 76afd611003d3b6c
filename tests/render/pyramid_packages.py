"""Reading the tile packages zarvo-render's pyramids write, independently of
the program: every tile of an MBTiles file, a GeoPackage, a PMTiles archive
or a {z}/{x}/{y} directory by its level, column and row from the north, and
what each keeps besides its tiles. Shared by the pyramid tests.
"""
import glob
import gzip
import os
import re
import sqlite3
import struct
import subprocess

RENDER = os.environ.get("ZARVO_RENDER", "")


def render(*args):
    """zarvo-render with these arguments: (exit code, stdout, stderr)."""
    run = subprocess.run([RENDER, *args], capture_output=True, text=True, timeout=600)
    return run.returncode, run.stdout, run.stderr


def counts(summary):
    """The tiles drawn, skipped as present and empty that a run reports."""
    found = re.search(r"(\d+) tiles drawn, (\d+) skipped as present, (\d+) empty", summary)
    assert found, "no counts in: " + summary
    return tuple(int(n) for n in found.groups())


def _varint(data, at):
    value = shift = 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, at


def _zxy(tile_id):
    """The level, column and row of a PMTiles tile id (the Hilbert curve)."""
    level = base = 0
    while base + (1 << 2 * level) <= tile_id:
        base += 1 << 2 * level
        level += 1
    position, x, y, side = tile_id - base, 0, 0, 1
    while side < 1 << level:
        rx = 1 & (position // 2)
        ry = 1 & (position ^ rx)
        if ry == 0:
            if rx == 1:
                x, y = side - 1 - x, side - 1 - y
            x, y = y, x
        x, y = x + side * rx, y + side * ry
        position //= 4
        side *= 2
    return level, x, y


def pmtiles_header(path):
    with open(path, "rb") as f:
        head = f.read(127)
    assert head[:7] == b"PMTiles" and head[7] == 3, f"{path}: not a PMTiles version 3 archive"
    fields = struct.unpack_from("<11Q", head, 8)
    names = ("root_offset", "root_length", "metadata_offset", "metadata_length", "leaf_offset", "leaf_length",
             "data_offset", "data_length", "addressed", "entries", "contents")
    header = dict(zip(names, fields))
    header["internal_compression"], header["tile_type"] = head[97], head[99]
    header["min_zoom"], header["max_zoom"] = head[100], head[101]
    return header


def _pmtiles_tiles(path):
    header = pmtiles_header(path)
    assert header["internal_compression"] == 2, f"{path}: directories not gzipped"
    with open(path, "rb") as f:
        archive = f.read()
    tiles = {}

    def directory(offset, length):
        data = gzip.decompress(archive[offset:offset + length])
        count, at = _varint(data, 0)
        columns = []
        for _ in range(4):
            values = []
            for _ in range(count):
                value, at = _varint(data, at)
                values.append(value)
            columns.append(values)
        ids, runs, lengths, offsets = columns
        tile_id = previous_end = 0
        for i in range(count):
            tile_id += ids[i]
            start = previous_end if i > 0 and offsets[i] == 0 else offsets[i] - 1
            previous_end = start + lengths[i]
            if runs[i] == 0:
                directory(header["leaf_offset"] + start, lengths[i])
                continue
            body = archive[header["data_offset"] + start:header["data_offset"] + start + lengths[i]]
            for n in range(runs[i]):
                tiles[_zxy(tile_id + n)] = body

    directory(header["root_offset"], header["root_length"])
    return tiles


def _sqlite(path):
    # As any client opens it: a journal a killed writer left is rolled back.
    if not os.path.exists(path):
        raise FileNotFoundError(path)
    return sqlite3.connect(path)


def tile_table(db):
    return db.execute("SELECT table_name FROM gpkg_contents WHERE data_type = 'tiles'").fetchone()[0]


def read_tiles(target):
    """Every tile of the package at `target`: {(level, column, row from the
    north): bytes}. An unfinished PMTiles archive is read from its staging
    file."""
    if "{z}" in target:
        root, tail = target.split("{z}", 1)
        extension = os.path.splitext(tail)[1]
        tiles = {}
        for path in glob.glob(os.path.join(root, "*", "*", "*" + extension)):
            level, column, name = path[len(root):].split(os.sep)
            with open(path, "rb") as f:
                tiles[(int(level), int(column), int(name[:-len(extension)]))] = f.read()
        return tiles
    if target.endswith(".pmtiles") and not os.path.exists(target + ".unfinished.mbtiles"):
        return _pmtiles_tiles(target)
    if target.endswith(".pmtiles"):
        target += ".unfinished.mbtiles"
    with _sqlite(target) as db:
        if target.endswith(".gpkg"):
            rows = db.execute(f'SELECT zoom_level, tile_column, tile_row, tile_data FROM "{tile_table(db)}"')
            return {(z, x, y): bytes(data) for z, x, y, data in rows}
        rows = db.execute("SELECT zoom_level, tile_column, tile_row, tile_data FROM tiles")
        return {(z, x, (1 << z) - 1 - y): bytes(data) for z, x, y, data in rows}


def integrity(path):
    """SQLite's own check of a package file: "ok" when sound."""
    with _sqlite(path) as db:
        return db.execute("PRAGMA integrity_check").fetchone()[0]


def sqlite_metadata(path):
    """What an MBTiles file or a GeoPackage keeps besides its tiles, the
    times things were written left out."""
    with _sqlite(path) as db:
        if path.endswith(".mbtiles"):
            return dict(db.execute("SELECT name, value FROM metadata"))
        kept = {}
        for table in ("gpkg_spatial_ref_sys", "gpkg_contents", "gpkg_tile_matrix_set", "gpkg_tile_matrix",
                      "gpkg_extensions", "gpkg_metadata", "gpkg_metadata_reference"):
            cursor = db.execute(f"SELECT * FROM {table}")
            names = [d[0] for d in cursor.description]
            kept[table] = sorted(tuple(v for n, v in zip(names, row) if n not in ("last_change", "timestamp"))
                                 for row in cursor)
        return kept
