#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/rgb_image.h"

// How a WebP file is written. Lossy: `quality` 0 to 100 trades bytes for
// likeness to the image. Lossless: every pixel kept, `quality` 0 to 100 is
// the effort spent on fewer bytes. `method` 0 (fastest) to 6 (smallest).
struct WebpSettings {
    bool lossless = false;
    int quality = 80;
    int method = 4;
};

// The largest side WebP can hold.
constexpr int32_t kMaxWebpSide = 16383;

// Encodes an RGB image as WebP (VP8 when lossy, VP8L when lossless), on the
// calling thread. False, with the reason, for an image whose pixels do not
// match its size or that WebP cannot hold, for settings out of range, or
// when memory fails; it never ends the process.
bool EncodeWebp(const RgbImage& image, const WebpSettings& settings, std::vector<uint8_t>& encoded,
                std::string& error);
