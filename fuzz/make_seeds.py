#!/usr/bin/env python3
"""Writes the seed corpus of the plug-in call fuzzer into DIR.

Each seed is a short program of calls in the fuzzer's input format (see
plugin_call_fuzzer.cpp): an opcode byte, then its fields in order.
Usage: make_seeds.py DIR
"""
import os
import struct
import sys

BIND, CALLBACKS, REQUEST, COMPLETE = range(4)
MAP, AERIAL, HYBRID, MIXED_CASE, LONG, NULL_NAME, RANDOM_NAME = range(7)
NAN, INF, NEG_INF = "nan", "inf", "-inf"


def bind(name=MAP, layer_id=1, extra=b""):
    return bytes([BIND, name]) + extra + bytes([layer_id & 0xFF])


def callbacks(no_download=False, no_event=False, refuse=False, inline=False):
    flags = no_download | no_event << 1 | refuse << 2 | inline << 3
    return bytes([CALLBACKS, flags])


def degrees(value):
    if value == NAN:
        return bytes([1])
    if value == INF:
        return bytes([2])
    if value == NEG_INF:
        return bytes([3])
    if abs(value) < 256 and float(value * 128).is_integer():
        return bytes([4]) + struct.pack("<h", int(value * 128))
    return bytes([0]) + struct.pack("<d", value)


def size(value):
    if value < 256:
        return bytes([0, value])
    return bytes([1]) + struct.pack("<I", value)


def request_fields(zoom, west, south, east, north, width, height, layer_id=1):
    return (bytes([(zoom + 5) % 256, layer_id & 0xFF]) + size(width) + size(height) +
            degrees(west) + degrees(south) + degrees(east) + degrees(north) + bytes(range(16)))


def request(*fields, null=False, **named):
    return bytes([REQUEST]) + request_fields(*fields, **named) + bytes([0 if null else 1])


def complete(mode=0, images=b"", status=None):
    """Completes the first pending job; `images` holds one shape byte (and
    its fields) per image, or nothing for well-formed 3-byte tiles."""
    pick = 0 if status is None else 0x80
    head = bytes([COMPLETE, pick]) + (b"" if status is None else struct.pack("<i", status))
    return head + bytes([mode]) + images


def image(width=None, height=None, bytes_per_pixel=None, byte_size=None, four_bytes=False, no_pixels=False):
    shape = ((width is not None) | (height is not None) << 1 | (bytes_per_pixel is not None) << 2 |
             four_bytes << 3 | (byte_size is not None) << 4 | no_pixels << 5)
    out = bytes([shape])
    if width is not None:
        out += struct.pack("<i", width)
    if height is not None:
        out += struct.pack("<i", height)
    if bytes_per_pixel is not None:
        out += struct.pack("<b", bytes_per_pixel)
    if byte_size is not None:
        out += struct.pack("<i", byte_size)
    return out


ONE_TILE = (3, 10, 50, 20, 60, 2, 2)
TWO_TILES = (3, 89.7, 50, 89.8, 60, 2, 2)
FOUR_TILES = (3, 80, 0, 100, 10, 30, 20)

SEEDS = {
    "one-tile": bind() + callbacks() + request(*ONE_TILE) + complete(),
    "inline-completion": bind(AERIAL) + callbacks(inline=True) + request(*FOUR_TILES),
    "eastern-neighbours": bind() + callbacks() + request(*TWO_TILES) + complete(),
    "twice-the-images": bind() + callbacks() + request(*TWO_TILES) + complete(mode=1),
    "one-image-too-many": bind() + callbacks() + request(*ONE_TILE) + complete(mode=2),
    "null-items": bind() + callbacks() + request(*ONE_TILE) + complete(mode=4),
    "zero-byte-image": bind() + callbacks() + request(*TWO_TILES) + complete(images=image() + image(byte_size=0)),
    "four-byte-tiles": bind() + callbacks() + request(*TWO_TILES) + complete(
        images=image(four_bytes=True) + image(four_bytes=True)),
    "narrow-tile": bind() + callbacks() + request(*ONE_TILE) + complete(images=image(width=255)),
    "odd-depth": bind() + callbacks() + request(*ONE_TILE) + complete(images=image(bytes_per_pixel=2)),
    "short-buffer": bind() + callbacks() + request(*ONE_TILE) + complete(images=image(byte_size=196607)),
    "no-pixels": bind() + callbacks() + request(*ONE_TILE) + complete(images=image(no_pixels=True)),
    "failed-download": bind() + callbacks() + request(*ONE_TILE) + complete(status=5),
    "null-request": bind() + callbacks() + request(*ONE_TILE, null=True),
    "nan-edge": bind() + callbacks(inline=True) + request(3, NAN, 50, 20, 60, 2, 2),
    "infinite-edges": bind() + callbacks(inline=True) + request(3, NEG_INF, 50, INF, 60, 2, 2),
    "zoom-0": bind() + callbacks(inline=True) + request(0, 10, 50, 20, 60, 2, 2),
    "zoom-22": bind() + callbacks(inline=True) + request(22, 10, 50, 10.001, 50.001, 2, 2),
    "zoom-21": bind() + callbacks(inline=True) + request(21, 10, 50, 10.0001, 50.0001, 3, 3),
    "whole-world": bind(HYBRID) + callbacks(inline=True) + request(1, -180, -85.05, 180, 85.05, 64, 64),
    "west-of-the-world": bind() + callbacks(inline=True) + request(3, -190, 0, -170, 10, 16, 4),
    "single-pixel": bind() + callbacks(inline=True) + request(5, 0, 0, 0, 0, 1, 1),
    "empty-raster": bind() + callbacks(inline=True) + request(3, 10, 50, 20, 60, 0, 7),
    "huge-raster": bind() + callbacks(inline=True) + request(3, 10, 50, 20, 60, 65536, 32768),
    "too-many-tiles": bind() + callbacks(inline=True) + request(21, -180, -80, 180, 80, 8, 8),
    "names": (bind(MIXED_CASE, 0) + bind(LONG, 1) + bind(NULL_NAME, 2) +
              bind(RANDOM_NAME, 3, bytes([4]) + "MäP!".encode("utf-16-le")) + bind(AERIAL, 0xFB)),
    "no-download-callback": bind() + callbacks(no_download=True) + request(*ONE_TILE),
    "no-event-callback": bind() + callbacks(no_event=True, inline=True) + request(*FOUR_TILES),
    "refused": bind() + callbacks(refuse=True) + request(*ONE_TILE),
    "rebinding": (bind(MAP, 7) + callbacks() + request(*ONE_TILE, layer_id=7) + bind(AERIAL, 7) +
                  complete() + bind(RANDOM_NAME, 7, bytes([2, 0x41, 0, 0x42, 0])) + request(*ONE_TILE, layer_id=7)),
}


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    print(f"{len(SEEDS)} seeds in {out}")


if __name__ == "__main__":
    main()
