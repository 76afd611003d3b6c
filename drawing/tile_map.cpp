#include "drawing/tile_map.h"

MapRequest TileMapRequest(const std::string& layer, const TileMatrixSet& set, int32_t level, uint32_t row,
                          uint32_t column, ImageFormat format) {
    MapRequest map;
    map.layer = layer;
    map.crs = set.mapCrs;
    map.box = TileBox(set, level, row, column);
    map.width = map.height = kWmtsTileSize;
    map.format = format;
    return map;
}
