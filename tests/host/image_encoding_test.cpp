// The encoders answer every failure with false and its reason: libjpeg's
// default error handler ends the process, which a server must never do.
// The PNG encoder gives back every pixel through an independent decoder
// (libpng), whatever the filter, level and shape; lossless WebP too
// (libwebp's decoder), lossy WebP pixels close to the image's.

#include <gtest/gtest.h>
#include <png.h>
#include <webp/decode.h>

#include <cstdlib>
#include <random>
#include <string>

#include "host/image_decoding.h"
#include "host/jpeg_encoder.h"
#include "host/png_encoder.h"
#include "host/webp_encoder.h"

namespace {

RgbImage Grey(int32_t width, int32_t height) {
    RgbImage image;
    image.width = width;
    image.height = height;
    image.pixels.assign(size_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height) * 3, 128);
    return image;
}

enum class Pattern { Noise, Smooth, Gradient };

// Noise exercises every byte value through the filters' arithmetic;
// smooth rows with noisy ones between make the per-row choice change; a
// gradient is what a lossy encoder keeps close.
RgbImage Patterned(Pattern pattern, int32_t width, int32_t height) {
    RgbImage image = Grey(width, height);
    if (pattern == Pattern::Gradient) {
        for (size_t i = 0; i < image.pixels.size(); ++i) {
            const size_t pixel = i / 3, columns = static_cast<uint32_t>(width);
            const size_t x = pixel % columns, y = pixel / columns;
            image.pixels[i] = static_cast<uint8_t>(i % 3 == 0 ? x * 255 / width : i % 3 == 1 ? y * 255 / height : 96);
        }
        return image;
    }
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

TEST(ImageEncodingTest, WebpKeepsThePixelsOrComesCloseToThem) {
    struct Case {
        const char* name;
        Pattern pattern;
        int32_t width, height;
        WebpSettings settings;
        double meanDifference;  // at most, over the bands
    } cases[] = {
        {"lossless, the drawn map's setting", Pattern::Noise, 37, 23, {true, 50, 1}, 0},
        {"lossless, the least effort", Pattern::Smooth, 256, 256, {true, 0, 0}, 0},
        {"lossless, one column", Pattern::Noise, 1, 300, {true, 50, 1}, 0},
        {"lossy, the photographs' setting", Pattern::Gradient, 512, 512, {false, 85, 0}, 1.5},
        {"lossy, odd sides", Pattern::Gradient, 37, 23, {false, 85, 0}, 3},
    };
    for (const Case& c : cases) {
        const RgbImage image = Patterned(c.pattern, c.width, c.height);
        std::vector<uint8_t> file;
        std::string error;
        ASSERT_TRUE(EncodeWebp(image, c.settings, file, error)) << c.name << ": " << error;
        int width = 0, height = 0;
        uint8_t* decoded = WebPDecodeRGB(file.data(), file.size(), &width, &height);
        ASSERT_NE(decoded, nullptr) << c.name;
        const std::vector<uint8_t> pixels(decoded, decoded + size_t{static_cast<uint32_t>(width)} * height * 3);
        WebPFree(decoded);
        ASSERT_EQ(width, c.width) << c.name;
        ASSERT_EQ(height, c.height) << c.name;
        double difference = 0;
        for (size_t i = 0; i < pixels.size(); ++i) difference += std::abs(int{pixels[i]} - int{image.pixels[i]});
        EXPECT_LE(difference / static_cast<double>(pixels.size()), c.meanDifference) << c.name;
    }
}

TEST(ImageEncodingTest, FailuresAreReportedNotFatal) {
    RgbImage mismatched = Grey(4, 4);
    mismatched.pixels.pop_back();
    enum class Codec { Png, Jpeg, Webp };
    struct Case {
        const char* name;
        Codec codec;
        RgbImage image;
        const char* reason;
        PngSettings settings = SettingsOf(PngCompression::Fast);
        WebpSettings webp = WebpSettings{};
    } cases[] = {
        // libjpeg refuses both itself, through its error handler.
        {"JPEG without rows", Codec::Jpeg, Grey(16, 0), "JPEG encoder: "},
        {"JPEG beyond libjpeg's size", Codec::Jpeg, Grey(70000, 1), "JPEG encoder: "},
        {"JPEG pixels short", Codec::Jpeg, mismatched, "does not match its size"},
        {"PNG pixels short", Codec::Png, mismatched, "does not match its size"},
        {"PNG without columns", Codec::Png, Grey(0, 4), "does not match its size"},
        {"PNG level beyond libdeflate's", Codec::Png, Grey(4, 4), "no PNG compression level 13", {13, PngFilter::Up}},
        {"WebP pixels short", Codec::Webp, mismatched, "does not match its size"},
        {"WebP beyond its size", Codec::Webp, Grey(16384, 1), "larger than 16383"},
        {"WebP quality beyond 100", Codec::Webp, Grey(4, 4), "no quality 101", {}, {false, 101, 4}},
        {"WebP method beyond 6", Codec::Webp, Grey(4, 4), "method 7", {}, {true, 50, 7}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> encoded;
        std::string error;
        const bool ok = c.codec == Codec::Png    ? EncodePng(c.image, c.settings, encoded, error)
                        : c.codec == Codec::Jpeg ? EncodeJpeg(c.image, 90, encoded, error)
                                                 : EncodeWebp(c.image, c.webp, encoded, error);
        EXPECT_FALSE(ok) << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
    }
}

}  // namespace
