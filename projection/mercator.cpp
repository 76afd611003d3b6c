#include "projection/mercator.h"

#include <cmath>

#include "projection/power_of_two.h"
#include "projection/zoom.h"

namespace {

// 256 / 360, pi / 180 and 256 / (2 pi) as the tiling has always used them.
// The last is cut to twelve decimals on purpose: tile positions computed
// elsewhere with this value must match ours to the bit.
constexpr double kPixelsPerDegree = 0.7111111111111111;
constexpr double kRadiansPerDegree = 0.017453292519943295;
constexpr double kPixelsPerRadian = 40.743665431525;

// Keeps the logarithm finite near the poles (about 89.19 degrees).
constexpr double kMaxSine = 0.9999;

}  // namespace

double MercatorX(double lon, double scale) {
    return (lon * kPixelsPerDegree + 128.0) * scale;
}

double MercatorY(double lat, double scale) {
    double s = std::sin(lat * kRadiansPerDegree);
    if (s > kMaxSine) {
        s = kMaxSine;
    } else if (s < -kMaxSine) {
        s = -kMaxSine;
    }
    return (128.0 - ((std::log((1 + s) / (1 - s)) * 0.5) * kPixelsPerRadian)) * scale;
}

WorldPoint MercatorProject(double lon, double lat, int32_t scaleExponent) {
    const double scale = PowerOfTwo(scaleExponent);
    return WorldPoint{MercatorX(lon, scale), MercatorY(lat, scale)};
}
