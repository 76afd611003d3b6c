#include "serve/drawing/map_grid.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "projection/zoom.h"

namespace {

PixelGrid MercatorGrid(const MapBox& box, uint32_t width, uint32_t height) {
    // The columns as a grid in degrees; the rows at their own latitudes.
    PixelGrid grid =
        GridFromEdges(LongitudeOfEasting(box.west), 0, LongitudeOfEasting(box.east), 0, width, height);
    grid.latticeNorth = 0;
    grid.dy = 0;
    grid.row0 = 0;
    auto latitudes = std::make_shared<std::vector<double>>(height);
    const double step = (box.north - box.south) / height;
    for (uint32_t row = 0; row < height; ++row) {
        (*latitudes)[row] = LatitudeOfNorthing(box.north - (row + 0.5) * step);
    }
    grid.rowLatitudes = std::move(latitudes);
    return grid;
}

}  // namespace

int32_t ChooseMercatorZoom(double dx, double dy, int32_t maxZoom) {
    const int32_t cap = std::max(1, std::min(maxZoom, kMaxZoom));
    // A box on the tiles' own grid (a WMTS tile) has pixels exactly a tile
    // pixel wide, less the rounding of its edges: that rounding must not
    // send it a zoom deeper, where every other tile row would be skipped.
    constexpr double kRounding = 1e-9;
    for (int32_t zoom = 1; zoom < cap; ++zoom) {
        const double tilePixel = 2 * kMercatorHalfWorld / (256.0 * std::ldexp(1.0, zoom - 1));
        if (tilePixel <= dx * (1 + kRounding) && tilePixel <= dy * (1 + kRounding)) return zoom;
    }
    return cap;
}

PixelGrid MapGrid(const MapBox& box, MapCrs crs, uint32_t width, uint32_t height) {
    if (crs == MapCrs::WebMercator) return MercatorGrid(box, width, height);
    return GridFromEdges(box.west, box.south, box.east, box.north, width, height);
}

int32_t MapZoom(const MapBox& box, MapCrs crs, uint32_t width, uint32_t height, int32_t maxZoom) {
    const double dx = (box.east - box.west) / width, dy = (box.north - box.south) / height;
    if (crs == MapCrs::WebMercator) return ChooseMercatorZoom(dx, dy, maxZoom);
    return ChooseImageZoom(dx, dy, box.south, box.north, maxZoom);
}
