#include "host/demo/demo_tile.h"

#include <cmath>
#include <stdexcept>
#include <vector>

#include "host/demo/bitmap_font.h"
#include "projection/mercator.h"

namespace {

constexpr int kTile = 256;

const DemoStyle kStyles[] = {
    {"map", "png", {200, 30, 30}, {150, 150, 160}, {40, 40, 60}, false},
    {"aerial", "jpeg", {255, 220, 0}, {90, 90, 90}, {255, 255, 255}, true},
    {"hybrid", "png", {255, 255, 255}, {120, 120, 120}, {255, 230, 0}, true},
};

// Marks the pixels of one axis of the tile that hold a graticule line: the
// pixel into which the line's exact world coordinate falls and one on
// either side, so that the line survives resampling to a coarser raster.
std::vector<bool> LinePixels(double origin, double scale, bool longitudes) {
    std::vector<bool> marked(kTile, false);
    const int limit = longitudes ? 180 : 80;
    for (int degrees = -limit; degrees <= limit; degrees += kGraticuleDegrees) {
        const double world = longitudes ? MercatorX(degrees, scale) : MercatorY(degrees, scale);
        const double centre = std::floor(world - origin);
        for (double pixel = centre - 1; pixel <= centre + 1; ++pixel) {
            if (pixel >= 0 && pixel < kTile) {
                marked[static_cast<size_t>(pixel)] = true;
            }
        }
    }
    return marked;
}

void Background(const DemoStyle& style, double lat, int a, int b, int zoom, uint8_t* p) {
    // Colour bands by latitude make the north-south stretch visible.
    const double band = (lat + 90.0) / 180.0;
    if (!style.aerialGround) {
        p[0] = static_cast<uint8_t>(235 - 25 * band);
        p[1] = static_cast<uint8_t>(230 - 10 * band);
        p[2] = static_cast<uint8_t>(205 + 40 * band);
        return;
    }
    const int grain = ((a * 7 + b * 13 + zoom * 5) ^ (a * b)) & 15;
    p[0] = static_cast<uint8_t>(60 + 50 * band + grain);
    p[1] = static_cast<uint8_t>(95 + 30 * (1 - band) + grain);
    p[2] = static_cast<uint8_t>(50 + 60 * band + grain / 2);
}

}  // namespace

const DemoStyle& DemoStyleOf(const std::string& layer) {
    for (const DemoStyle& s : kStyles) {
        if (s.layer == layer) return s;
    }
    throw std::invalid_argument("no demo style for layer " + layer);
}

RgbImage PaintDemoTile(const DemoStyle& style, int zoom, int column, int row) {
    RgbImage image;
    image.width = kTile;
    image.height = kTile;
    image.pixels.resize(kTile * kTile * 3);
    const double scale = std::ldexp(1.0, zoom);
    const int top = (1 << zoom) - 1 - row;  // rows counted from the north
    const double originX = static_cast<double>(column) * kTile;
    const double originY = static_cast<double>(top) * kTile;
    const std::vector<bool> meridians = LinePixels(originX, scale, true);
    const std::vector<bool> parallels = LinePixels(originY, scale, false);

    for (int b = 0; b < kTile; ++b) {
        // Latitude of the row's centre, for the background bands only.
        const double mercator = (128.0 - (originY + b + 0.5) / scale) / 40.743665431525;
        const double lat = std::atan(std::sinh(mercator)) * 57.29577951308232;
        for (int a = 0; a < kTile; ++a) {
            uint8_t* p = &image.pixels[(static_cast<size_t>(b) * kTile + a) * 3];
            const uint8_t* color = nullptr;
            // The graticule wins over the border: lines such as the prime
            // meridian run exactly along tile edges.
            if (meridians[static_cast<size_t>(a)] || parallels[static_cast<size_t>(b)]) {
                color = style.graticule;
            } else if (a == 0 || b == 0 || a == kTile - 1 || b == kTile - 1) {
                color = style.border;
            }
            if (color != nullptr) {
                p[0] = color[0];
                p[1] = color[1];
                p[2] = color[2];
            } else {
                Background(style, lat, a, b, zoom, p);
            }
        }
    }
    DrawText(image, 6, 6, 2,
             std::to_string(zoom) + "/" + std::to_string(column) + "/" + std::to_string(row), style.label);
    return image;
}
