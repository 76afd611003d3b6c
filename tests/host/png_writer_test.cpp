// The PNG writer gives back every pixel through an independent decoder
// (libpng), whatever the filter, level and shape, and refuses rasters that
// do not match their size.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "host/image_codec.h"
#include "host/png_writer.h"

namespace {

enum class Pattern { Noise, Smooth };

// Noise exercises every byte value through the filters' arithmetic;
// smooth rows with noisy ones between make the per-row choice change.
std::vector<uint8_t> Pixels(Pattern pattern, uint32_t width, uint32_t height) {
    std::vector<uint8_t> pixels(size_t{width} * height * 3);
    std::mt19937 random(11);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = &pixels[(size_t{y} * width + x) * 3];
            const bool noisy = pattern == Pattern::Noise || y % 7 == 3;
            for (int c = 0; c < 3; ++c) {
                p[c] = noisy ? static_cast<uint8_t>(random()) : static_cast<uint8_t>(x * (c + 1) + y * 3);
            }
        }
    }
    return pixels;
}

TEST(PngWriterTest, DecodesToTheSamePixels) {
    struct Case {
        const char* name;
        Pattern pattern;
        uint32_t width, height;
        PngSettings settings;
    } cases[] = {
        {"answer settings, smooth", Pattern::Smooth, 256, 256, kAnswerPngSettings},
        {"none", Pattern::Noise, 37, 23, {1, PngFilter::None}},
        {"sub", Pattern::Noise, 37, 23, {1, PngFilter::Sub}},
        {"up", Pattern::Noise, 37, 23, {1, PngFilter::Up}},
        {"average", Pattern::Noise, 37, 23, {1, PngFilter::Average}},
        {"paeth", Pattern::Noise, 37, 23, {1, PngFilter::Paeth}},
        {"adaptive", Pattern::Smooth, 64, 50, {6, PngFilter::Adaptive}},
        {"stored (level 0)", Pattern::Smooth, 40, 40, {0, PngFilter::Paeth}},
        {"level 12", Pattern::Smooth, 40, 40, {12, PngFilter::Adaptive}},
        {"one pixel", Pattern::Noise, 1, 1, {1, PngFilter::Paeth}},
        {"one column: no left neighbour", Pattern::Noise, 1, 300, {1, PngFilter::Adaptive}},
        {"one row: no row above", Pattern::Smooth, 300, 1, {1, PngFilter::Adaptive}},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> pixels = Pixels(c.pattern, c.width, c.height);
        std::vector<uint8_t> file;
        std::string error;
        ASSERT_TRUE(WritePng(pixels, c.width, c.height, c.settings, file, error)) << c.name << ": " << error;
        RgbImage decoded;
        ASSERT_TRUE(DecodeImage(file, ImageLimits{1024, 1024}, decoded, error)) << c.name << ": " << error;
        EXPECT_EQ(decoded.width, static_cast<int32_t>(c.width)) << c.name;
        EXPECT_EQ(decoded.height, static_cast<int32_t>(c.height)) << c.name;
        EXPECT_TRUE(decoded.pixels == pixels) << c.name;
    }
}

TEST(PngWriterTest, RefusesWhatItCannotWrite) {
    const std::vector<uint8_t> pixels(4 * 4 * 3, 128);
    struct Case {
        const char* name;
        uint32_t width, height;
        PngSettings settings;
        const char* reason;
    } cases[] = {
        {"too few pixels", 5, 4, kAnswerPngSettings, "does not match its size"},
        {"too many pixels", 4, 3, kAnswerPngSettings, "does not match its size"},
        {"no width", 0, 4, kAnswerPngSettings, "not 0 x 4"},
        {"beyond PNG's sides", 0x80000000u, 1, kAnswerPngSettings, "pixels a side"},
        {"no such level", 4, 4, {13, PngFilter::Up}, "no PNG compression level 13"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> file;
        std::string error;
        EXPECT_FALSE(WritePng(pixels, c.width, c.height, c.settings, file, error)) << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
    }
}

}  // namespace
