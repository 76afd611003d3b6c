#include "serve/drawing/tile_matrix_sets.h"

#include <algorithm>
#include <cmath>

#include "projection/zoom.h"
#include "serve/drawing/map_grid.h"

namespace {

constexpr double kCrs84Level0Scale = 279541132.0143588675;
constexpr double kMercatorLevel0Scale = 559082264.0287178;

const std::array<TileMatrixSet, kTileMatrixSetCount> kSets = {{
    {TileMatrixSetId::WebMercatorQuad, "WebMercatorQuad", "urn:ogc:def:crs:EPSG::3857",
     "urn:ogc:def:wkss:OGC:1.0:GoogleMapsCompatible", MapCrs::WebMercator, -kMercatorHalfWorld, kMercatorHalfWorld,
     2 * kMercatorHalfWorld, 1, 1, kMercatorLevel0Scale, 256},
    {TileMatrixSetId::WorldCrs84Quad, "WorldCRS84Quad", "urn:ogc:def:crs:OGC:1.3:CRS84", nullptr, MapCrs::LonLat,
     -180.0, 90.0, 180.0, 2, 1, kCrs84Level0Scale, 256},
    // The twins: pixels half as wide on the ground; WMTS 1.0.0's
    // well-known scale sets are all of 256 px tiles.
    {TileMatrixSetId::WebMercatorQuad512, "WebMercatorQuad512", "urn:ogc:def:crs:EPSG::3857", nullptr,
     MapCrs::WebMercator, -kMercatorHalfWorld, kMercatorHalfWorld, 2 * kMercatorHalfWorld, 1, 1,
     kMercatorLevel0Scale / 2, 512},
    {TileMatrixSetId::WorldCrs84Quad512, "WorldCRS84Quad512", "urn:ogc:def:crs:OGC:1.3:CRS84", nullptr,
     MapCrs::LonLat, -180.0, 90.0, 180.0, 2, 1, kCrs84Level0Scale / 2, 512},
}};

}  // namespace

const std::array<TileMatrixSet, kTileMatrixSetCount>& TileMatrixSets() {
    return kSets;
}

const TileMatrixSet& TileMatrixSetOf(TileMatrixSetId id) {
    for (const TileMatrixSet& set : kSets) {
        if (set.id == id) return set;
    }
    return kSets[0];
}

const TileMatrixSet* FindTileMatrixSet(const std::string& identifier) {
    for (const TileMatrixSet& set : kSets) {
        if (identifier == set.identifier) return &set;
    }
    return nullptr;
}

const TileMatrixSet* HiDpiTwin(const TileMatrixSet& set) {
    switch (set.id) {
        case TileMatrixSetId::WebMercatorQuad: return &TileMatrixSetOf(TileMatrixSetId::WebMercatorQuad512);
        case TileMatrixSetId::WorldCrs84Quad: return &TileMatrixSetOf(TileMatrixSetId::WorldCrs84Quad512);
        default: return nullptr;
    }
}

std::string TileMatrixSetsInWords() {
    std::string words;
    for (size_t i = 0; i < kSets.size(); ++i) {
        if (i > 0) words += i + 1 == kSets.size() ? " and " : ", ";
        words += kSets[i].identifier;
    }
    return words;
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

MapRequest TileMap(const std::string& layer, const TileMatrixSet& set, int32_t level, uint32_t row, uint32_t column,
                   ImageFormat format) {
    MapRequest map;
    map.layer = layer;
    map.crs = set.mapCrs;
    map.box = TileBox(set, level, row, column);
    map.width = map.height = set.tileSize;
    map.format = format;
    return map;
}
