#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Encodes rows of 3-byte RGB pixels as PNG, tuned for answering map
// requests: zlib's fastest level, each row less the one above. False, with
// the reason, on a libpng error.
bool EncodeMapPng(const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height, std::vector<uint8_t>& encoded,
                  std::string& error);
