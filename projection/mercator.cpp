#include "projection/mercator.h"

#include <cmath>

#include "projection/power_of_two.h"

namespace {

// 256 / 360, pi / 180 and 256 / (2 pi) as the tiling has always used them.
// The last is cut to twelve decimals on purpose: tile positions computed
// elsewhere with this value must match ours to the bit.
constexpr double kPixelsPerDegree = 0.7111111111111111;
constexpr double kRadiansPerDegree = 0.017453292519943295;
constexpr double kPixelsPerRadian = 40.743665431525;
// 180 / pi, the same double as 180.0 / kPi.
constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kPi = 3.14159265358979323846;

// Keeps the logarithm finite near the poles (about 89.19 degrees).
constexpr double kMaxSine = 0.9999;

// The latitude of a Mercator northing in radians of the unit sphere.
double LatitudeOfRadians(double northing) {
    return std::atan(std::sinh(northing)) * kDegreesPerRadian;
}

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

WorldPoint MercatorWorldPixel(double lon, double lat, int32_t zoom) {
    WorldPoint p = MercatorProject(lon, lat, zoom - 1);
    // Four world heights keep y positive for every latitude the sine clamp
    // lets through (down to about -73.75 world pixels at zoom 1).
    p.y += PowerOfTwo(zoom + 9);
    return p;
}

double LongitudeOfMercatorX(double x, double scale) {
    return (x / scale - 128.0) / kPixelsPerDegree;
}

double LatitudeOfMercatorY(double y, double scale) {
    return LatitudeOfRadians((128.0 - y / scale) / kPixelsPerRadian);
}

double LongitudeOfWorldX(double x, int32_t zoom) {
    return LongitudeOfMercatorX(x, PowerOfTwo(zoom - 1));
}

double LatitudeOfWorldY(double y, int32_t zoom) {
    return LatitudeOfMercatorY(y - PowerOfTwo(zoom + 9), PowerOfTwo(zoom - 1));
}

double LongitudeOfEasting(double metres) {
    return metres / kMercatorHalfWorld * 180.0;
}

double LatitudeOfNorthing(double metres) {
    return LatitudeOfRadians(metres / kMercatorHalfWorld * kPi);
}

double LatitudeNorthOf(double lat, double pixels, double scale) {
    // y / scale = 128 - atanh(sin(lat)) * kPixelsPerRadian; moving y north by
    // `pixels` adds pixels / (scale * kPixelsPerRadian) to the atanh.
    const double t = std::atanh(std::sin(lat * kRadiansPerDegree)) + pixels / (scale * kPixelsPerRadian);
    return std::asin(std::tanh(t)) / kRadiansPerDegree;
}
