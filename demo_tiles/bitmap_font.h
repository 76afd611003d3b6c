#pragma once

#include <cstdint>
#include <string>

#include "host/rgb_image.h"

// Draws `text` (digits, '/', '-' and '.'; other characters leave a gap) into
// `image` with its top-left corner at (x, y), each font pixel `scale` image
// pixels wide. Clipped to the image.
void DrawText(RgbImage& image, int x, int y, int scale, const std::string& text, const uint8_t rgb[3]);
