#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/rgb_image.h"

// The grey a transparent pixel is drawn on: the grey a missing tile is drawn
// in, so that a gap in a tile reads as a gap in the source does.
constexpr uint8_t kBlankTileGrey = 0xE0;

// Reads the pixels of a PNG held in memory as 8-bit sRGB, whatever its kind:
// a palette, grey and fewer than 8 bits are expanded; 16-bit samples are
// scaled to 8 bits (v * 255 / 65535, rounded); a gAMA chunk is honoured; and
// alpha (an alpha channel or a tRNS chunk) is composited onto
// kBlankTileGrey in 8-bit sRGB, c * a / 255 + grey * (255 - a) / 255,
// rounded, as browsers and image viewers draw a PNG on a page.
//
// The caller has had the header checked and its size held against its
// limits: the pixels are allocated from it. False, with the reason in
// `error`, when the PNG is corrupt.
bool ReadPngPixels(const std::vector<uint8_t>& png, RgbImage& image, std::string& error);
