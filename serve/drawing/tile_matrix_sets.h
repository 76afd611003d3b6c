#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "serve/drawing/map_request.h"

// The tile matrix sets every tiled door offers: the two of the OGC
// two-dimensional tile matrix set standard, of 256 x 256 tiles,
//   WorldCRS84Quad   longitude/latitude from (-180, 90), two tiles across
//                    and one down at level 0;
//   WebMercatorQuad  EPSG:3857 from (-20037508.34, 20037508.34), one tile
//                    at level 0, the tile service's own grid;
// and a twin of each for screens of twice the pixel density,
// WorldCRS84Quad512 and WebMercatorQuad512: the same extents, levels and
// tiles, each of 512 x 512 pixels, so its scales are half its twin's.
// Each level doubles the tiles in both directions.
enum class TileMatrixSetId { WorldCrs84Quad, WebMercatorQuad, WorldCrs84Quad512, WebMercatorQuad512 };

struct TileMatrixSet {
    TileMatrixSetId id;
    const char* identifier;   // as in the capabilities and the addresses
    const char* crs;          // the SupportedCRS URN
    const char* wellKnownScaleSet;  // null where WMTS 1.0.0 names none
    MapCrs mapCrs;            // the GetMap grid its tiles are drawn on
    double left, top;         // TopLeftCorner in the CRS's own axis order
    double level0TileSpan;    // of one tile at level 0, in CRS units
    uint32_t level0Columns, level0Rows;
    double level0Scale;       // ScaleDenominator at level 0 (0.28 mm pixels)
    uint32_t tileSize;        // pixels a side
};

constexpr size_t kTileMatrixSetCount = 4;

// Every set, in the order documents list them: WebMercatorQuad,
// WorldCRS84Quad, then their 512 px twins.
const std::array<TileMatrixSet, kTileMatrixSetCount>& TileMatrixSets();
const TileMatrixSet& TileMatrixSetOf(TileMatrixSetId id);
// The set named `identifier` (exact), or null.
const TileMatrixSet* FindTileMatrixSet(const std::string& identifier);
// The 512 px twin of a 256 px set; null for a twin itself.
const TileMatrixSet* HiDpiTwin(const TileMatrixSet& set);
// "WebMercatorQuad, WorldCRS84Quad, ...", for messages.
std::string TileMatrixSetsInWords();

// The levels offered: 0 up to and including this one. Level z of
// WebMercatorQuad is the tile service's own zoom z, so the levels stop at
// the tile set's deepest; the other sets offer as many.
int32_t HighestTileMatrix(int32_t maxPluginZoom);

uint32_t MatrixWidth(const TileMatrixSet& set, int32_t level);
uint32_t MatrixHeight(const TileMatrixSet& set, int32_t level);

// The box of one tile in its GetMap grid (degrees, or metres in EPSG:3857).
MapBox TileBox(const TileMatrixSet& set, int32_t level, uint32_t row, uint32_t column);

// One tile as the map every door draws for it: the GetMap of its box, its
// set's tile size a side. The tile must lie within its level.
MapRequest TileMap(const std::string& layer, const TileMatrixSet& set, int32_t level, uint32_t row, uint32_t column,
                   ImageFormat format);
