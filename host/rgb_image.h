#pragma once

#include <cstdint>
#include <vector>

// A decoded picture or a finished raster: rows of 3-byte RGB pixels without
// gaps.
struct RgbImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};

// The same with a fourth byte a pixel, its opacity: 0 clear, 255 opaque.
struct RgbaImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};
