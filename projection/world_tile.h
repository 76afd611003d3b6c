#pragma once

#include <cstdint>

#include "projection/geo_types.h"

// The service's tiles: 256 world pixels square, 2^(zoom-1) columns and as
// many rows over the world at a request's zoom.
constexpr int32_t kZarvoTileSize = 256;

// Where a tile the plug-in lists lies in the world. The plug-in lists rows
// beyond the world's north and south edges, and columns east of the last
// one for a box that reaches across longitude 180; longitude wraps, so such
// a column is the column `wrap` worlds west.
struct WorldTileKey {
    int32_t zoom = 0;    // the request's zoom
    int64_t column = 0;  // wrapped into the world: 0 to 2^(zoom-1) - 1
    int64_t row = 0;     // counted from the world's north edge
    int64_t wrap = 0;    // how many worlds east of the world the plug-in listed it

    int64_t WorldTiles() const { return int64_t{1} << (zoom - 1); }
    // A row north or south of the world: there is no such tile.
    bool OutsideWorld() const { return row < 0 || row >= WorldTiles(); }
};

// The world tile of tile `key` of a request's range (a supported zoom).
WorldTileKey LocateWorldTile(const TileKey& key);
