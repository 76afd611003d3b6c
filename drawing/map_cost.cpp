#include "drawing/map_cost.h"

#include <algorithm>
#include <cmath>

#include "drawing/map_grid.h"
#include "projection/mercator.h"
#include "projection/world_tile.h"

namespace {

// Where a longitude or an easting lies in tiles from the world's west edge,
// and a latitude or a northing in tiles from its north edge, at `tiles` a side.
double TileX(double x, MapCrs crs, double tiles) {
    return crs == MapCrs::WebMercator ? (x + kMercatorHalfWorld) / (2 * kMercatorHalfWorld) * tiles
                                      : MercatorX(x, tiles) / kZarvoTileSize;
}

double TileY(double y, MapCrs crs, double tiles) {
    if (crs == MapCrs::WebMercator) return (kMercatorHalfWorld - y) / (2 * kMercatorHalfWorld) * tiles;
    return MercatorY(std::clamp(y, kCoverageSouth, kCoverageNorth), tiles) / kZarvoTileSize;
}

}  // namespace

TileSpan MapTileSpan(const MapRequest& map, int32_t zoom) {
    TileSpan span;
    span.zoom = zoom;
    const double tiles = std::ldexp(1.0, zoom - 1);
    const double west = std::floor(TileX(map.box.west, map.crs, tiles));
    const double east = std::floor(TileX(map.box.east, map.crs, tiles));
    const double north = std::floor(TileY(map.box.north, map.crs, tiles));
    const double south = std::floor(TileY(map.box.south, map.crs, tiles));
    // A box around the world more than once covers each column once.
    span.west = static_cast<int64_t>(std::clamp(west, -2 * tiles, 2 * tiles));
    span.east = static_cast<int64_t>(std::clamp(east, -2 * tiles, 2 * tiles));
    if (span.east - span.west >= static_cast<int64_t>(tiles)) span.east = span.west + static_cast<int64_t>(tiles) - 1;
    const double edge = map.crs == MapCrs::WebMercator ? kMercatorHalfWorld : kCoverageNorth;
    if (map.box.south >= edge || map.box.north <= -edge) return span;  // wholly beyond an edge: no rows
    span.north = static_cast<int64_t>(std::max(north, 0.0));
    span.south = static_cast<int64_t>(std::min(south, tiles - 1));
    return span;
}
