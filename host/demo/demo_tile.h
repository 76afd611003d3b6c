#pragma once

#include <cstdint>
#include <string>

#include "host/image_codec.h"

// The look of one demo layer.
struct DemoStyle {
    std::string layer;      // "map", "aerial" or "hybrid"
    std::string extension;  // "png" or "jpeg"
    uint8_t graticule[3];
    uint8_t border[3];
    uint8_t label[3];
    bool aerialGround;      // textured ground instead of a plain map background
};

const DemoStyle& DemoStyleOf(const std::string& layer);

// The graticule spacing in degrees.
constexpr int kGraticuleDegrees = 10;

// Paints the demo tile at service zoom `zoom`, column `column` and row `row`
// (counted from the south): a background, the graticule at its exact
// Mercator pixels, the tile border and the tile's zoom/column/row.
RgbImage PaintDemoTile(const DemoStyle& style, int zoom, int column, int row);
