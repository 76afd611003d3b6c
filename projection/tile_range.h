#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <zarvo_data_plugin.h>
#include "projection/geo_types.h"

// The tiles that cover one request: a full grid of `columns` x `rows` tiles
// of one zoom, whose north-west tile has its corner at world pixel
// (x0, y0). The grid is listed row by row, north to south, each row west to
// east, so tile k of the list sits in grid row k / columns and grid column
// k % columns, and image k of a completed job is the picture of tile k.
struct TileRange {
    int32_t zoom = 0;
    int32_t x0 = 0;  // world-pixel x of the grid's west edge
    int32_t y0 = 0;  // offset world-pixel y of the grid's north edge
    int32_t tileWidth = 0;
    int32_t tileHeight = 0;
    int32_t columns = 0;
    int32_t rows = 0;

    bool Empty() const { return columns == 0 || rows == 0; }
    size_t Count() const { return static_cast<size_t>(columns) * static_cast<size_t>(rows); }

    // Tile k of the list, for k < Count().
    TileKey Key(size_t k) const {
        const auto row = static_cast<int32_t>(k / static_cast<size_t>(columns));
        const auto column = static_cast<int32_t>(k % static_cast<size_t>(columns));
        return TileKey{x0 + column * tileWidth, y0 + row * tileHeight, zoom};
    }

    // Appends every key of the range, in list order, after what `out` holds.
    void AppendKeys(std::vector<TileKey>& out) const;
};

// Bounds the memory one request can claim: a whole-world box at zoom 21
// would otherwise ask for about 10^12 tiles. A 4K screen at one tile pixel
// per screen pixel needs about 160.
constexpr int64_t kMaxTilesPerRequest = 65536;

// The grid of tiles of `tileWidth` x `tileHeight` world pixels that `box`
// touches at `zoom`, widened by two world pixels on every side, its corners
// projected to world pixels by `toWorldPixel(lon, lat, zoom)`. Empty for a
// box it cannot serve: a zoom outside 1..21, a corner that is not finite,
// bounds beyond the 32-bit range, a start west of the world, or more than
// kMaxTilesPerRequest tiles.
template <typename ToWorldPixel>
TileRange CoverBoxWith(const GeoBox& box, int32_t zoom, int32_t tileWidth, int32_t tileHeight,
                       const ToWorldPixel& toWorldPixel);

class CoordTransform;

// The range of a host's request: its box at its zoom. Empty for a request
// that cannot be served, also when its raster could not be described by a
// LayerImage (more than 2^31 - 1 bytes).
TileRange RequestTileRange(const CoordTransform& transform, const DataRequestBlock& request);
// The same in the service's own grid (256-pixel tiles of the spherical-
// Mercator world), which every layer of the plug-in lists: the tiles a
// request covers, without a layer's transform.
TileRange RequestTileRange(const DataRequestBlock& request);

// CoverBoxWith's parts that do not depend on the projection.
bool CanCoverBox(const GeoBox& box, int32_t zoom);
TileRange CoverCorners(const WorldPoint (&corners)[4], int32_t zoom, int32_t tileWidth, int32_t tileHeight);

template <typename ToWorldPixel>
TileRange CoverBoxWith(const GeoBox& box, int32_t zoom, int32_t tileWidth, int32_t tileHeight,
                       const ToWorldPixel& toWorldPixel) {
    if (!CanCoverBox(box, zoom)) {
        return TileRange{};
    }
    const WorldPoint corners[4] = {
        toWorldPixel(box.lon1, box.lat1, zoom),
        toWorldPixel(box.lon2, box.lat2, zoom),
        toWorldPixel(box.lon1, box.lat2, zoom),
        toWorldPixel(box.lon2, box.lat1, zoom),
    };
    return CoverCorners(corners, zoom, tileWidth, tileHeight);
}
