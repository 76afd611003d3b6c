#include "demo_tiles/terrain.h"

#include <cmath>
#include <cstdint>

namespace {

constexpr double kLongestWave = 30.0;  // degrees: roughly continent-sized
constexpr int kMaxOctaves = 7;

double LatticeValue(int64_t x, int64_t y, int octave) {
    uint64_t h = static_cast<uint64_t>(x) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(y) * 0xC2B2AE3D27D4EB4Full ^
                 static_cast<uint64_t>(octave) * 0x165667B19E3779F9ull;
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
    return static_cast<double>(h >> 11) / static_cast<double>(uint64_t{1} << 53) * 2.0 - 1.0;
}

double Smooth(double t) {
    return t * t * (3 - 2 * t);
}

double ValueNoise(double x, double y, int octave) {
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const auto ix = static_cast<int64_t>(fx);
    const auto iy = static_cast<int64_t>(fy);
    const double tx = Smooth(x - fx);
    const double ty = Smooth(y - fy);
    const double top = LatticeValue(ix, iy, octave) * (1 - tx) + LatticeValue(ix + 1, iy, octave) * tx;
    const double bottom = LatticeValue(ix, iy + 1, octave) * (1 - tx) + LatticeValue(ix + 1, iy + 1, octave) * tx;
    return top * (1 - ty) + bottom * ty;
}

}  // namespace

double Elevation(double lon, double lat, int octaves) {
    double sum = 0.0;
    double amplitude = 1.0;
    double wave = kLongestWave;
    for (int octave = 0; octave < octaves; ++octave) {
        sum += amplitude * ValueNoise(lon / wave, lat / wave, octave);
        amplitude *= 0.55;
        wave *= 0.5;
    }
    // About as much land as sea, and polar ice caps of land.
    return sum + 0.1 + (std::fabs(lat) > 72 ? (std::fabs(lat) - 72) * 0.08 : 0.0);
}

int OctavesFor(double degreesPerPixel) {
    int octaves = 1;
    double wave = kLongestWave / 2;
    while (octaves < kMaxOctaves && wave > 3 * degreesPerPixel) {
        ++octaves;
        wave /= 2;
    }
    return octaves;
}
