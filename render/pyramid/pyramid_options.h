#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drawing/map_request.h"
#include "drawing/tile_matrix_sets.h"

// What zarvo-render does: one raster, a pyramid of tiles, or the merge of
// pyramid parts.
enum class RenderMode { Raster, Pyramid, Merge };

// A pyramid of tiles, as asked on the command line; the layer, the area
// (-te or --bbox), the tiles, --out, --chunk and --max-memory are the
// raster's options, read the same way.
struct PyramidOptions {
    int32_t minLevel = 0, maxLevel = 0;  // --levels A-B, the tile matrix set's levels
    TileMatrixSetId set = TileMatrixSetId::WebMercatorQuad;
    uint32_t tileSize = 256;  // 512: the set's 512-pixel twin
    ImageFormat format = ImageFormat::Png;
    // Tiles on which no pixel lies on the tiled world (WorldCRS84Quad rows
    // beyond the Mercator world's edges) are written too.
    bool writeEmpty = false;
    bool areaGiven = false;               // -te or --bbox: RenderOptions' west, south, east, north
    std::vector<std::string> mergeParts;  // --merge PART...
};
