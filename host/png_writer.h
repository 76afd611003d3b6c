#pragma once

#include <cstdint>
#include <string>
#include <vector>

// PNG's row filters, and Adaptive: a filter chosen for each row, the one
// whose bytes, read as signed, have the smallest sum of magnitudes.
enum class PngFilter : uint8_t { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4, Adaptive = 5 };

struct PngSettings {
    int level;         // libdeflate's compression level, 0 (stored) to 12
    PngFilter filter;
};

// The settings of map answers, where the time to encode counts as much as
// the bytes: libdeflate's fastest level on rows less the row above. Chosen
// by zarvo_png_bench over real map images (the README's table): the "up"
// filter turns imagery's smooth columns into small numbers and leaves flat
// map areas zeros; Paeth or a filter chosen per row gain little size for
// their time, and the next levels cost more time than they save bytes.
constexpr PngSettings kAnswerPngSettings{1, PngFilter::Up};

// The rows as PNG stores them before compression, at `out`: each row its
// filter's type byte and the filtered bytes, height x (3 x width + 1) bytes.
void FilterPngRows(const uint8_t* rgb, uint32_t width, uint32_t height, PngFilter filter, uint8_t* out);

// Writes rows of 3-byte RGB pixels without gaps as an 8-bit RGB PNG: the
// rows filtered, the zlib stream made by libdeflate in one call, the chunks
// framed here. False, with the reason, when the pixels do not match the
// size or the size is beyond PNG's.
bool WritePng(const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height, PngSettings settings,
              std::vector<uint8_t>& encoded, std::string& error);
