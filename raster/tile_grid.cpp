#include "raster/tile_grid.h"

#include <cstdint>

TileGrid::TileGrid(const TileRange& range, const TileImage* images)
    : images(images),
      tileWidth(range.tileWidth),
      tileHeight(range.tileHeight),
      x0(range.x0),
      y0(range.y0),
      columns(range.columns),
      rows(range.rows) {}

AxisSample TileGrid::Locate(double v, int64_t origin, int32_t tileSize, int32_t tileCount) {
    AxisSample s{};
    // The sample's pixel and the next one must both lie in the grid. The
    // test is made on the double, so NaN and values beyond the 32-bit range
    // fail it before any conversion.
    int64_t lastStart = origin + int64_t{tileCount} * tileSize - 1;
    if (lastStart > INT32_MAX) {
        lastStart = INT32_MAX;
    }
    if (!(v >= static_cast<double>(origin) && v < static_cast<double>(lastStart))) {
        return s;
    }
    const int32_t p = static_cast<int32_t>(v);
    const int32_t rel = static_cast<int32_t>(p - origin);
    s.inside = true;
    s.tile = rel / tileSize;
    s.pixel = rel % tileSize;
    if (s.pixel + 1 < tileSize) {
        s.nextTile = s.tile;
        s.nextPixel = s.pixel + 1;
    } else {
        s.nextTile = s.tile + 1;
        s.nextPixel = 0;
    }
    s.frac = v - p;
    return s;
}

bool IsUsableTileImage(const TileImage& image, int32_t tileWidth, int32_t tileHeight) {
    if (image.pixels == nullptr || image.width != tileWidth ||
        (image.bytesPerPixel != 3 && image.bytesPerPixel != 4)) {
        return false;
    }
    return int64_t{image.byteSize} >= int64_t{tileWidth} * tileHeight * image.bytesPerPixel;
}
