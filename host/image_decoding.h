#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/rgb_image.h"

// The largest picture a decoder may allocate for, checked against the size
// the file declares in its header before any pixel memory is taken.
struct ImageLimits {
    uint32_t maxWidth;
    uint32_t maxHeight;
};

// Decodes a PNG or JPEG file held in memory (told apart by its signature).
// False, with the reason in `error`, for anything else, a picture larger than
// `limits`, or a file that is truncated or corrupt (a JPEG decoder's warning
// counts as corruption).
bool DecodeImage(const std::vector<uint8_t>& encoded, const ImageLimits& limits, RgbImage& image, std::string& error);

// The side of every tile of the service, in pixels.
constexpr int32_t kTileSide = 256;

// Decodes one tile: a picture of exactly kTileSide x kTileSide pixels, any
// other size refused before decoding.
bool DecodeTile(const std::vector<uint8_t>& encoded, RgbImage& image, std::string& error);
