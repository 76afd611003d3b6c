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

bool IsUsableTileImage(const TileImage& image, int32_t tileWidth, int32_t tileHeight) {
    if (image.pixels == nullptr || image.width != tileWidth ||
        (image.bytesPerPixel != 3 && image.bytesPerPixel != 4)) {
        return false;
    }
    return int64_t{image.byteSize} >= int64_t{tileWidth} * tileHeight * image.bytesPerPixel;
}
