#include "serve/drawing/tile_matrix_sets.h"

#include <algorithm>
#include <cmath>

#include "projection/zoom.h"
#include "serve/drawing/map_grid.h"

namespace {

const TileMatrixSet kSets[] = {
    {TileMatrixSetId::WorldCrs84Quad, "WorldCRS84Quad", "urn:ogc:def:crs:OGC:1.3:CRS84", nullptr, MapCrs::LonLat,
     -180.0, 90.0, 180.0, 2, 1, 279541132.0143588675},
    {TileMatrixSetId::WebMercatorQuad, "WebMercatorQuad", "urn:ogc:def:crs:EPSG::3857",
     "urn:ogc:def:wkss:OGC:1.0:GoogleMapsCompatible", MapCrs::WebMercator, -kMercatorHalfWorld, kMercatorHalfWorld,
     2 * kMercatorHalfWorld, 1, 1, 559082264.0287178},
};

}  // namespace

const TileMatrixSet& TileMatrixSetOf(TileMatrixSetId id) {
    return id == TileMatrixSetId::WorldCrs84Quad ? kSets[0] : kSets[1];
}

const std::vector<const TileMatrixSet*>& AllTileMatrixSets() {
    static const std::vector<const TileMatrixSet*> sets = [] {
        std::vector<const TileMatrixSet*> all;
        for (const TileMatrixSet& set : kSets) all.push_back(&set);
        return all;
    }();
    return sets;
}

const TileMatrixSet* FindTileMatrixSet(const std::string& identifier) {
    for (const TileMatrixSet& set : kSets) {
        if (identifier == set.identifier) return &set;
    }
    return nullptr;
}

int32_t HighestTileMatrix(int32_t maxPluginZoom) {
    // Plug-in zoom z is the service's zoom z - 1.
    return std::max(0, std::min(maxPluginZoom, kMaxZoom) - 1);
}

uint32_t MatrixWidth(const TileMatrixSet& set, int32_t level) {
    return set.level0Columns << level;
}

uint32_t MatrixHeight(const TileMatrixSet& set, int32_t level) {
    return set.level0Rows << level;
}

MapBox TileBox(const TileMatrixSet& set, int32_t level, uint32_t row, uint32_t column) {
    const double span = std::ldexp(set.level0TileSpan, -level);
    // Both edges from the corner, so that neighbouring tiles share theirs
    // to the bit.
    const double west = set.left + column * span, east = set.left + (column + 1.0) * span;
    const double north = set.top - row * span, south = set.top - (row + 1.0) * span;
    return MapBox{west, south, east, north};
}
