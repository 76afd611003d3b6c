#pragma once

#include <cstdint>

// Zoom levels whose world size, 2^(zoom+7) pixels, and y offset,
// 2^(zoom+9), both fit a positive 32-bit integer.
constexpr int32_t kMinZoom = 1;
constexpr int32_t kMaxZoom = 21;

constexpr bool IsSupportedZoom(int32_t zoom) {
    return zoom >= kMinZoom && zoom <= kMaxZoom;
}
