#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tile_packages/pyramid.h"

// A small pyramid for the tests: every tile of levels 0 to `maxLevel` of a
// set, each a solid colour that tells its place (check_tile_packages.py
// computes the same colours), except that the south quarter of every level
// from 2 on is one "sea" tile repeated, so that archives meet runs and
// repeated contents.
struct SyntheticTile {
    tile_packages::PyramidTile tile;
    std::vector<uint8_t> bytes;
};

enum class SyntheticSet { WebMercatorQuad, WorldCrs84Quad };

tile_packages::PyramidDescription SyntheticDescription(SyntheticSet set, int maxLevel);

// The tiles as 256-pixel PNGs, in level, column, row order.
std::vector<SyntheticTile> SyntheticTiles(const tile_packages::PyramidDescription& description);

// Fixed byte strings with the PNG signature instead of images, cheap
// enough for pyramids large enough to need leaf directories. Clients that
// do not decode take them as they are.
std::vector<SyntheticTile> SyntheticByteStrings(const tile_packages::PyramidDescription& description);
