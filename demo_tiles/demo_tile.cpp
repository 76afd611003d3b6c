#include "demo_tiles/demo_tile.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "demo_tiles/bitmap_font.h"
#include "demo_tiles/terrain.h"
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

uint8_t Mix(uint8_t a, uint8_t b, double t) {
    return static_cast<uint8_t>(a + (b - a) * std::min(1.0, std::max(0.0, t)));
}

void MixColour(const uint8_t a[3], const uint8_t b[3], double t, uint8_t* out) {
    for (int ch = 0; ch < 3; ++ch) out[ch] = Mix(a[ch], b[ch], t);
}

// A paper map: pale sea, a darker coastline, land from lowland to hills.
void MapGround(double elevation, uint8_t* p) {
    static const uint8_t kDeep[3] = {150, 188, 226};
    static const uint8_t kShallow[3] = {182, 212, 240};
    static const uint8_t kCoast[3] = {96, 128, 160};
    static const uint8_t kLow[3] = {238, 236, 220};
    static const uint8_t kHigh[3] = {212, 196, 164};
    if (std::fabs(elevation) < 0.005) {
        MixColour(kCoast, kCoast, 0, p);
    } else if (elevation < 0) {
        MixColour(kShallow, kDeep, -elevation * 3, p);
    } else {
        MixColour(kLow, kHigh, elevation * 2, p);
    }
}

// A photograph from above: dark sea, green lowland, brown hills, snow.
void AerialGround(double elevation, int a, int b, uint8_t* p) {
    static const uint8_t kSea[3] = {18, 48, 84};
    static const uint8_t kShore[3] = {40, 86, 110};
    static const uint8_t kGreen[3] = {64, 104, 48};
    static const uint8_t kBrown[3] = {132, 112, 76};
    static const uint8_t kSnow[3] = {236, 236, 240};
    if (elevation < 0) {
        MixColour(kShore, kSea, -elevation * 6, p);
    } else if (elevation < 0.45) {
        MixColour(kGreen, kBrown, elevation / 0.45, p);
    } else {
        MixColour(kBrown, kSnow, (elevation - 0.45) * 5, p);
    }
    const int grain = (((a * 7 + b * 13) ^ (a * b)) & 15) - 8;
    for (int ch = 0; ch < 3; ++ch) p[ch] = static_cast<uint8_t>(std::min(255, std::max(0, p[ch] + grain)));
}

}  // namespace

const DemoStyle& DemoStyleOf(const std::string& layer) {
    for (const DemoStyle& s : kStyles) {
        if (s.layer == layer) return s;
    }
    throw std::invalid_argument("no demo style for layer " + layer);
}

TileTerrain ComputeTileTerrain(int zoom, int column, int row) {
    TileTerrain terrain;
    terrain.zoom = zoom;
    terrain.column = column;
    terrain.row = row;
    terrain.elevation.resize(kTile * kTile);
    const double scale = std::ldexp(1.0, zoom);
    const int top = (1 << zoom) - 1 - row;  // rows counted from the north
    const int octaves = OctavesFor(360.0 / (256.0 * scale));
    for (int b = 0; b < kTile; ++b) {
        // The pixel centre's latitude and longitude.
        const double lat = LatitudeOfMercatorY(static_cast<double>(top) * kTile + b + 0.5, scale);
        for (int a = 0; a < kTile; ++a) {
            const double lon = LongitudeOfMercatorX(static_cast<double>(column) * kTile + a + 0.5, scale);
            terrain.elevation[static_cast<size_t>(b) * kTile + a] = Elevation(lon, lat, octaves);
        }
    }
    return terrain;
}

RgbImage PaintDemoTile(const DemoStyle& style, const TileTerrain& terrain) {
    RgbImage image;
    image.width = kTile;
    image.height = kTile;
    image.pixels.resize(kTile * kTile * 3);
    const double scale = std::ldexp(1.0, terrain.zoom);
    const int top = (1 << terrain.zoom) - 1 - terrain.row;
    const std::vector<bool> meridians = LinePixels(static_cast<double>(terrain.column) * kTile, scale, true);
    const std::vector<bool> parallels = LinePixels(static_cast<double>(top) * kTile, scale, false);

    for (int b = 0; b < kTile; ++b) {
        for (int a = 0; a < kTile; ++a) {
            uint8_t* p = &image.pixels[(static_cast<size_t>(b) * kTile + a) * 3];
            // The graticule wins over the border: lines such as the prime
            // meridian run exactly along tile edges.
            const uint8_t* color = nullptr;
            if (meridians[static_cast<size_t>(a)] || parallels[static_cast<size_t>(b)]) {
                color = style.graticule;
            } else if (a == 0 || b == 0 || a == kTile - 1 || b == kTile - 1) {
                color = style.border;
            }
            if (color != nullptr) {
                p[0] = color[0];
                p[1] = color[1];
                p[2] = color[2];
                continue;
            }
            const double elevation = terrain.elevation[static_cast<size_t>(b) * kTile + a];
            if (style.aerialGround) {
                AerialGround(elevation, a, b, p);
            } else {
                MapGround(elevation, p);
            }
        }
    }
    DrawText(image, 6, 6, 2,
             std::to_string(terrain.zoom) + "/" + std::to_string(terrain.column) + "/" + std::to_string(terrain.row),
             style.label);
    return image;
}
