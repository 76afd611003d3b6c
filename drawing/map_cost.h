#pragma once

#include <cstddef>
#include <cstdint>

#include "drawing/map_request.h"

// What drawing a map will take, known before it is drawn: its pixels, the
// tiles its box covers at its zoom and how many of them are not decoded in
// the cache. An estimate for admitting the request, never a bound.
struct MapCost {
    uint64_t pixels = 0;
    size_t tiles = 0;
    size_t tilesToFetch = 0;
};

// The tiles of the world a map's box covers at a plug-in zoom: columns
// [west, east] (counted on past the world's last, which wraps) and rows
// [north, south] from the north edge, within the world; none when the box
// lies wholly beyond the world's north or south edge. Without the
// placement's half tile pixel: the plug-in may list one more column or row.
struct TileSpan {
    int32_t zoom = 1;
    int64_t west = 0, east = -1;
    int64_t north = 0, south = -1;

    size_t Columns() const { return east < west ? 0 : static_cast<size_t>(east - west + 1); }
    size_t Rows() const { return south < north ? 0 : static_cast<size_t>(south - north + 1); }
};
TileSpan MapTileSpan(const MapRequest& map, int32_t zoom);
