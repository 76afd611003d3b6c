// The encoders answer every failure with false and its reason: libjpeg's
// default error handler ends the process, which a server must never do.
// The PNG encoder gives back every pixel through an independent decoder
// (libpng), whatever the filter, level and shape.

#include <gtest/gtest.h>
#include <png.h>

#include <random>
#include <string>

#include "host/image_decoding.h"
#include "host/jpeg_encoder.h"
#include "host/png_encoder.h"

namespace {

RgbImage Grey(int32_t width, int32_t height) {
    RgbImage image;
    image.width = width;
    image.height = height;
    image.pixels.assign(size_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height) * 3, 128);
    return image;
}

enum class Pattern { Noise, Smooth };

// Noise exercises every byte value through the filters' arithmetic;
// smooth rows with noisy ones between make the per-row choice change.
RgbImage Patterned(Pattern pattern, int32_t width, int32_t height) {
    RgbImage image = Grey(width, height);
    std::mt19937 random(11);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = &image.pixels[(size_t{static_cast<uint32_t>(y)} * static_cast<uint32_t>(width) + x) * 3];
            const bool noisy = pattern == Pattern::Noise || y % 7 == 3;
            for (int c = 0; c < 3; ++c) {
                p[c] = noisy ? static_cast<uint8_t>(random()) : static_cast<uint8_t>(x * (c + 1) + y * 3);
            }
        }
    }
    return image;
}

TEST(ImageEncodingTest, PngDecodesToTheSamePixels) {
    struct Case {
        const char* name;
        Pattern pattern;
        int32_t width, height;
        PngSettings settings;
    } cases[] = {
        {"answers", Pattern::Smooth, 256, 256, SettingsOf(PngCompression::Fast)},
        {"files", Pattern::Smooth, 256, 256, SettingsOf(PngCompression::Small)},
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
        const RgbImage image = Patterned(c.pattern, c.width, c.height);
        std::vector<uint8_t> file;
        std::string error;
        ASSERT_TRUE(EncodePng(image, c.settings, file, error)) << c.name << ": " << error;
        RgbImage decoded;
        ASSERT_TRUE(DecodeImage(file, ImageLimits{1024, 1024}, decoded, error)) << c.name << ": " << error;
        EXPECT_EQ(decoded.width, c.width) << c.name;
        EXPECT_EQ(decoded.height, c.height) << c.name;
        EXPECT_TRUE(decoded.pixels == image.pixels) << c.name;
    }
}

TEST(ImageEncodingTest, PngWithOpacityDecodesToTheSamePixels) {
    // Every fourth byte noise too: the filters take it as part of the pixel.
    const RgbaImage source = [] {
        const RgbImage rgb = Patterned(Pattern::Noise, 37, 23);
        RgbaImage rgba;
        rgba.width = rgb.width;
        rgba.height = rgb.height;
        std::mt19937 random(5);
        for (size_t i = 0; i < rgb.pixels.size(); i += 3) {
            rgba.pixels.insert(rgba.pixels.end(), {rgb.pixels[i], rgb.pixels[i + 1], rgb.pixels[i + 2],
                                                   static_cast<uint8_t>(random())});
        }
        return rgba;
    }();
    for (PngCompression compression : {PngCompression::Fast, PngCompression::Small}) {
        std::vector<uint8_t> file;
        std::string error;
        ASSERT_TRUE(EncodePng(source, compression, file, error)) << error;
        png_image png{};
        png.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_memory(&png, file.data(), file.size()));
        EXPECT_EQ(png.format & PNG_FORMAT_FLAG_ALPHA, PNG_FORMAT_FLAG_ALPHA);
        png.format = PNG_FORMAT_RGBA;
        std::vector<uint8_t> decoded(PNG_IMAGE_SIZE(png));
        ASSERT_TRUE(png_image_finish_read(&png, nullptr, decoded.data(), 0, nullptr));
        EXPECT_EQ(static_cast<int32_t>(png.width), source.width);
        EXPECT_TRUE(decoded == source.pixels);
    }
}

TEST(ImageEncodingTest, FailuresAreReportedNotFatal) {
    RgbImage mismatched = Grey(4, 4);
    mismatched.pixels.pop_back();
    struct Case {
        const char* name;
        bool png;
        RgbImage image;
        const char* reason;
        PngSettings settings = SettingsOf(PngCompression::Fast);
    } cases[] = {
        // libjpeg refuses both itself, through its error handler.
        {"JPEG without rows", false, Grey(16, 0), "JPEG encoder: "},
        {"JPEG beyond libjpeg's size", false, Grey(70000, 1), "JPEG encoder: "},
        {"JPEG pixels short", false, mismatched, "does not match its size"},
        {"PNG pixels short", true, mismatched, "does not match its size"},
        {"PNG without columns", true, Grey(0, 4), "does not match its size"},
        {"PNG level beyond libdeflate's", true, Grey(4, 4), "no PNG compression level 13", {13, PngFilter::Up}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> encoded;
        std::string error;
        const bool ok = c.png ? EncodePng(c.image, c.settings, encoded, error)
                              : EncodeJpeg(c.image, 90, encoded, error);
        EXPECT_FALSE(ok) << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
    }
}

}  // namespace
