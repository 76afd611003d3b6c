#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "serve/drawing/map_request.h"

// The two tile matrix sets of the OGC two-dimensional tile matrix set
// standard that the WMTS offers, both of 256 x 256 tiles:
//   WorldCRS84Quad   longitude/latitude from (-180, 90), two tiles across
//                    and one down at level 0;
//   WebMercatorQuad  EPSG:3857 from (-20037508.34, 20037508.34), one tile
//                    at level 0, the tile service's own grid.
// Each level doubles the tiles in both directions.
enum class TileMatrixSetId { WorldCrs84Quad, WebMercatorQuad };

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
};

constexpr uint32_t kWmtsTileSize = 256;

const TileMatrixSet& TileMatrixSetOf(TileMatrixSetId id);
// Every set offered, for the documents that list them all.
const std::vector<const TileMatrixSet*>& AllTileMatrixSets();
// The set named `identifier` (exact), or null.
const TileMatrixSet* FindTileMatrixSet(const std::string& identifier);

// The levels offered: 0 up to and including this one. Level z of
// WebMercatorQuad is the tile service's own zoom z, so the levels stop at
// the tile set's deepest; WorldCRS84Quad offers as many.
int32_t HighestTileMatrix(int32_t maxPluginZoom);

uint32_t MatrixWidth(const TileMatrixSet& set, int32_t level);
uint32_t MatrixHeight(const TileMatrixSet& set, int32_t level);

// The box of one tile in its GetMap grid (degrees, or metres in EPSG:3857).
MapBox TileBox(const TileMatrixSet& set, int32_t level, uint32_t row, uint32_t column);
