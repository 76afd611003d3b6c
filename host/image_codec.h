#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A decoded picture: rows of 3-byte RGB pixels without gaps.
struct RgbImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};

// Decodes a PNG or JPEG file held in memory (told apart by its signature).
// False, with the reason in `error`, for anything else or a broken file.
bool DecodeImage(const std::vector<uint8_t>& encoded, RgbImage& image, std::string& error);

bool EncodePng(const RgbImage& image, std::vector<uint8_t>& encoded, std::string& error);
bool EncodeJpeg(const RgbImage& image, int quality, std::vector<uint8_t>& encoded, std::string& error);

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes);
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
