#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Encodes rows of 3-byte RGB pixels as PNG with the settings for answers
// (kAnswerPngSettings). False, with the reason, when the pixels do not
// match the size.
bool EncodeMapPng(const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height, std::vector<uint8_t>& encoded,
                  std::string& error);
