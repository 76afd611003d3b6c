#include "drawing/tile_map.h"

#include "drawing/map_grid.h"
#include "projection/mercator.h"

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

bool MapTouchesTheWorld(const MapRequest& map) {
    // The rows' centres as the drawing places them.
    const PixelGrid grid = MapGrid(map.box, map.crs, map.width, map.height);
    for (uint32_t i = 0; i < grid.height; ++i) {
        if (CentreInWorld(grid.CentreLat(grid.row0 + i))) return true;
    }
    return false;
}
