#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/rgb_image.h"

// PNG's row filters, and Adaptive: a filter chosen for each row, the one
// whose bytes, read as signed, have the smallest sum of magnitudes.
enum class PngFilter : uint8_t { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4, Adaptive = 5 };

struct PngSettings {
    int level;  // libdeflate's compression level, 0 (stored) to 12
    PngFilter filter;
};

// How hard the encoder works for a smaller file. The settings of each were
// chosen by zarvo_png_bench over real map images (docs/performance.md's table).
enum class PngCompression {
    // Files kept on disk: as small as libpng's defaults make them, in less
    // time than those take.
    Small,
    // Answers made while a client waits, where the time counts as much as
    // the bytes: libdeflate's fastest level on rows less the row above. The
    // "up" filter turns imagery's smooth columns into small numbers and
    // leaves flat map areas zeros; Paeth or a filter chosen per row gain
    // little size for their time, the next levels more time than bytes.
    Fast,
};

PngSettings SettingsOf(PngCompression compression);

// Encodes an RGB image as an 8-bit RGB PNG: the rows filtered, the zlib
// stream made by libdeflate in one call, the chunks framed here. False,
// with the reason, for an image whose pixels do not match its size, for
// settings out of range, or when memory fails.
bool EncodePng(const RgbImage& image, PngCompression compression, std::vector<uint8_t>& encoded, std::string& error);
bool EncodePng(const RgbImage& image, PngSettings settings, std::vector<uint8_t>& encoded, std::string& error);
// As above, an 8-bit RGBA PNG: `alpha` holds one byte for each pixel.
bool EncodePngWithAlpha(const RgbImage& image, const std::vector<uint8_t>& alpha, PngCompression compression,
                        std::vector<uint8_t>& encoded, std::string& error);

// The rows as PNG stores them before compression, at `out`: each row its
// filter's type byte and the filtered bytes, height x (3 x width + 1) bytes.
void FilterPngRows(const uint8_t* rgb, uint32_t width, uint32_t height, PngFilter filter, uint8_t* out);
