#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/rgb_image.h"

// How hard the encoder works for a smaller file.
enum class PngCompression {
    Small,  // zlib's default level and libpng's choice of filter per row: files kept on disk
    Fast,   // zlib's fastest level on rows less the row above: answers made while a client waits
};

// Encodes an RGB image as PNG. False, with the reason, for an image whose
// pixels do not match its size, or when libpng or memory fails.
bool EncodePng(const RgbImage& image, PngCompression compression, std::vector<uint8_t>& encoded, std::string& error);
