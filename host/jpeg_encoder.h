#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/rgb_image.h"

// Encodes an RGB image as baseline JPEG of `quality` (1 to 100). False, with
// libjpeg's reason, when it fails (memory, an image it cannot hold); it
// never ends the process.
bool EncodeJpeg(const RgbImage& image, int quality, std::vector<uint8_t>& encoded, std::string& error);
