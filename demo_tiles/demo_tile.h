#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/rgb_image.h"

// The look of one demo layer.
struct DemoStyle {
    std::string layer;      // "map", "aerial" or "hybrid"
    std::string extension;  // "png" or "jpeg"
    uint8_t graticule[3];
    uint8_t border[3];
    uint8_t label[3];
    bool aerialGround;      // a photograph's colours instead of a paper map's
};

const DemoStyle& DemoStyleOf(const std::string& layer);

// The graticule spacing in degrees.
constexpr int kGraticuleDegrees = 10;

// The ground of one tile position, shared by the three layers: elevation
// of every pixel, row by row.
struct TileTerrain {
    int zoom;
    int column;
    int row;  // counted from the south
    std::vector<double> elevation;
};

TileTerrain ComputeTileTerrain(int zoom, int column, int row);

// Paints the demo tile at service zoom `zoom`, column `column` and row `row`
// (counted from the south): its ground, the graticule at its exact
// Mercator pixels, the tile border and the tile's zoom/column/row.
RgbImage PaintDemoTile(const DemoStyle& style, const TileTerrain& terrain);
