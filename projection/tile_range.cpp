#include "projection/tile_range.h"

#include <limits>

#include "projection/coord_transform.h"

void TileRange::AppendKeys(std::vector<TileKey>& out) const {
    if (Empty()) {
        return;
    }
    out.reserve(out.size() + Count());
    for (int32_t row = 0; row < rows; ++row) {
        for (int32_t column = 0; column < columns; ++column) {
            out.push_back(TileKey{x0 + column * tileWidth, y0 + row * tileHeight, zoom});
        }
    }
}

TileRange RequestTileRange(const CoordTransform& transform, const DataRequestBlock& request) {
    // Width times height fits 64 bits; times 3 it may not, so the bound is
    // applied to the pixel count.
    const uint64_t pixels = uint64_t{request.width} * request.height;
    if (pixels > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) / 3) {
        return TileRange{};
    }
    // The request stores each corner latitude first; the box wants longitude first.
    const GeoBox box{request.west, request.south, request.east, request.north};
    return transform.CoverBox(box, request.zoom);
}
