#include "tests/host/hostile_tiles.h"

#include <zlib.h>

#include <cstring>
#include <random>
#include <string>

#include "host/image_decoding.h"
#include "host/jpeg_encoder.h"
#include "host/png_encoder.h"

namespace {

RgbImage Noise(int32_t width, int32_t height) {
    RgbImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * height * 3);
    std::mt19937 random(7);
    for (uint8_t& p : image.pixels) p = static_cast<uint8_t>(random());
    return image;
}

void PutBigEndian32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

}  // namespace

std::vector<uint8_t> NoisePng(int32_t width, int32_t height) {
    std::vector<uint8_t> file;
    std::string error;
    EncodePng(Noise(width, height), PngCompression::Small, file, error);
    return file;
}

std::vector<uint8_t> GoodPngTile() {
    return NoisePng(256, 256);
}

std::vector<uint8_t> GoodJpegTile() {
    std::vector<uint8_t> file;
    std::string error;
    EncodeJpeg(Noise(256, 256), 90, file, error);
    return file;
}

std::vector<uint8_t> PngClaiming(uint32_t width, uint32_t height) {
    std::vector<uint8_t> file;
    std::string error;
    EncodePng(Noise(1, 1), PngCompression::Small, file, error);
    // The IHDR chunk follows the 8-byte signature: length, type, width,
    // height, 5 more bytes, then the CRC of type and data.
    PutBigEndian32(&file[16], width);
    PutBigEndian32(&file[20], height);
    PutBigEndian32(&file[29], static_cast<uint32_t>(crc32(0, &file[12], 17)));
    return file;
}

std::vector<uint8_t> JpegClaiming(uint16_t width, uint16_t height) {
    std::vector<uint8_t> file;
    std::string error;
    EncodeJpeg(Noise(16, 16), 90, file, error);
    // The baseline frame header: FF C0, length, precision, height, width.
    for (size_t i = 2; i + 9 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] == 0xC0) {
            file[i + 5] = static_cast<uint8_t>(height >> 8);
            file[i + 6] = static_cast<uint8_t>(height);
            file[i + 7] = static_cast<uint8_t>(width >> 8);
            file[i + 8] = static_cast<uint8_t>(width);
            break;
        }
    }
    return file;
}

std::vector<uint8_t> Truncated(const std::vector<uint8_t>& file, double fraction) {
    return std::vector<uint8_t>(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() * fraction));
}
