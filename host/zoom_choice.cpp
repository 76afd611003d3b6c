#include "host/zoom_choice.h"

#include <algorithm>
#include <cmath>

#include "projection/mercator.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int32_t kTopZoom = 21;

}  // namespace

int32_t ChooseZoom(double dx, double dy, double latitude, int32_t maxZoom) {
    const int32_t cap = std::max(1, std::min(maxZoom, kTopZoom));
    // Degrees per tile pixel at zoom z: 360 / (256 * 2^(z-1)) across, and
    // that times cos(latitude) up and down (Mercator stretches by sec).
    const double shrink = std::cos(latitude * (kPi / 180.0));
    for (int32_t zoom = 1; zoom < cap; ++zoom) {
        const double tilePixel = 360.0 / (256.0 * std::ldexp(1.0, zoom - 1));
        if (tilePixel <= dx && tilePixel * shrink <= dy) return zoom;
    }
    return cap;
}

int32_t ChooseImageZoom(double dx, double dy, double south, double north, int32_t maxZoom) {
    const double onTilesNorth = std::min(north, kWorldNorth);
    const double onTilesSouth = std::max(south, kWorldSouth);
    const double middle = onTilesNorth > onTilesSouth ? (onTilesNorth + onTilesSouth) / 2 : 0;
    return ChooseZoom(dx, dy, middle, maxZoom);
}
