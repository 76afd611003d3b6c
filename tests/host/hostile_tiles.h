#pragma once

#include <cstdint>
#include <vector>

// Tile files made to hurt a host, and good ones to compare with.

// A real 256 x 256 tile of noise (noise keeps JPEG from compressing it away).
std::vector<uint8_t> GoodPngTile();
std::vector<uint8_t> GoodJpegTile();
// A real PNG of noise of any size.
std::vector<uint8_t> NoisePng(int32_t width, int32_t height);

// A valid PNG whose header claims width x height pixels: a few dozen bytes.
std::vector<uint8_t> PngClaiming(uint32_t width, uint32_t height);
// A valid JPEG whose frame header claims width x height pixels.
std::vector<uint8_t> JpegClaiming(uint16_t width, uint16_t height);

// The first `fraction` of a good tile's bytes.
std::vector<uint8_t> Truncated(const std::vector<uint8_t>& file, double fraction);

// A 256 x 256 tile of the same noise whose compressed image data runs on
// after the last row with `mebibytesOfZeros` MiB of zeros (about a thousand
// to one, so a gigabyte takes about a megabyte), then corrupt data and a
// chunk with a wrong CRC.
std::vector<uint8_t> NoisePngWithZerosAfter(uint32_t mebibytesOfZeros);
// A decompression bomb: a valid PNG of side x side black pixels whose
// image data, a few hundred kB for a side of 8192, inflates to all of them.
std::vector<uint8_t> PngBomb(uint32_t side);
// The pixels of the good tiles' noise, row by row, RGB.
std::vector<uint8_t> NoiseTilePixels();

// A 256 x 256 PNG of one colour type (0 grey, 2 RGB, 4 grey and alpha, 6
// RGBA) and depth (8 or 16), every pixel of the samples `pixel`.
std::vector<uint8_t> UniformPngTile(uint8_t colourType, uint8_t depth, const std::vector<uint16_t>& pixel);
