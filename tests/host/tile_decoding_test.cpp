// Tile decoding refuses what is not a whole 256 x 256 tile, by the header's
// word before any pixel memory is taken.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/image_decoding.h"
#include "tests/host/hostile_tiles.h"

namespace {

// Every byte inflated in this program, the PNG decoder's included: zlib is
// a shared library, so this definition stands in for its own and counts.
uint64_t inflatedBytes = 0;

}  // namespace

extern "C" int inflate(z_streamp stream, int flush) {
    using Inflate = int (*)(z_streamp, int);
    static const auto zlibInflate = reinterpret_cast<Inflate>(dlsym(RTLD_NEXT, "inflate"));
    const uInt before = stream->avail_out;
    const int result = zlibInflate(stream, flush);
    inflatedBytes += before - stream->avail_out;
    return result;
}

namespace {

// A tile decodes to its pixels, and the decoder inflates about the image and
// no more: a gigabyte of zeros compressed after the last row, or corrupt data
// after it, is never reached.
TEST(TileDecodingTest, GoodTilesDecodeAndTheDecoderStopsAfterTheImage) {
    const std::vector<uint8_t> noise = NoiseTilePixels();
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        bool lossless;
    } cases[] = {
        {"PNG", GoodPngTile(), true},
        {"JPEG", GoodJpegTile(), false},
        {"PNG with a gigabyte of zeros after the image", NoisePngWithZerosAfter(1024), true},
    };
    for (const Case& c : cases) {
        RgbImage image;
        std::string error;
        inflatedBytes = 0;
        ASSERT_TRUE(DecodeTile(c.file, image, error)) << c.name << ": " << error;
        EXPECT_LT(inflatedBytes, 4u * noise.size()) << c.name;
        EXPECT_EQ(image.width, 256) << c.name;
        EXPECT_EQ(image.height, 256) << c.name;
        ASSERT_EQ(image.pixels.size(), noise.size()) << c.name;
        if (c.lossless) {
            EXPECT_TRUE(image.pixels == noise) << c.name;
        }
    }
}

// Every kind of PNG reads as the 8-bit sRGB a browser shows: 16 bits scaled
// to 8, alpha composited onto the blank tile's grey (224) in sRGB.
TEST(TileDecodingTest, EveryKindOfPngReadsAsItIsShown) {
    struct Case {
        const char* name;
        uint8_t colourType, depth;
        std::vector<uint16_t> pixel;
        uint8_t r, g, b;
    } cases[] = {
        {"8-bit RGB", 2, 8, {200, 30, 60}, 200, 30, 60},
        {"16-bit grey", 0, 16, {40000}, 156, 156, 156},
        {"16-bit RGB", 2, 16, {200 * 257, 30 * 257, 60 * 257}, 200, 30, 60},
        {"RGBA, transparent", 6, 8, {200, 30, 60, 0}, 224, 224, 224},
        {"RGBA, half", 6, 8, {200, 30, 60, 128}, 212, 127, 142},
        {"16-bit grey and alpha", 4, 16, {0, 65535}, 0, 0, 0},
    };
    for (const Case& c : cases) {
        RgbImage image;
        std::string error;
        ASSERT_TRUE(DecodeTile(UniformPngTile(c.colourType, c.depth, c.pixel), image, error))
            << c.name << ": " << error;
        const std::vector<uint8_t> expected = {c.r, c.g, c.b};
        EXPECT_EQ(std::vector<uint8_t>(image.pixels.begin(), image.pixels.begin() + 3), expected) << c.name;
        EXPECT_EQ(std::vector<uint8_t>(image.pixels.end() - 3, image.pixels.end()), expected) << c.name;
    }
}

TEST(TileDecodingTest, HostileFilesAreRefusedWithTheirReason) {
    const std::vector<uint8_t> png = GoodPngTile();
    const std::vector<uint8_t> jpeg = GoodJpegTile();
    std::vector<uint8_t> corruptJpeg = jpeg;
    // An end-of-image marker in the middle of the picture's data.
    corruptJpeg[corruptJpeg.size() / 2] = 0xFF;
    corruptJpeg[corruptJpeg.size() / 2 + 1] = 0xD9;
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        const char* reason;
    } cases[] = {
        {"PNG bomb", PngClaiming(1000000, 1000000), "PNG declares 1000000 x 1000000 pixels, more than the 256 x 256"},
        {"wide PNG", PngClaiming(100000, 1), "PNG declares 100000 x 1 pixels"},
        {"JPEG bomb", JpegClaiming(65500, 65500), "JPEG declares 65500 x 65500 pixels, more than the 256 x 256"},
        {"small PNG", NoisePng(255, 256), "not a 256 x 256 tile but 255 x 256"},
        {"truncated PNG", Truncated(png, 0.5), "broken PNG"},
        {"truncated JPEG", Truncated(jpeg, 0.5), "broken JPEG: Premature end of JPEG file"},
        {"corrupt JPEG", corruptJpeg, "broken JPEG"},
        {"header only JPEG", Truncated(jpeg, 0.05), "broken JPEG"},
        {"text", {'<', 'h', 't', 'm', 'l', '>'}, "neither PNG nor JPEG"},
        {"empty", {}, "neither PNG nor JPEG"},
    };
    for (const Case& c : cases) {
        RgbImage image;
        std::string error;
        EXPECT_FALSE(DecodeTile(c.file, image, error)) << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
        EXPECT_TRUE(image.pixels.empty()) << c.name;
    }
}

// A decompression bomb, a file of a few hundred kB that inflates to
// hundreds of MB of pixels, is refused by its header before any of it is
// inflated; the same picture within the limits decodes and inflates no more
// than its pixels.
TEST(TileDecodingTest, ABombIsRefusedBeforeItInflates) {
    struct Case {
        const char* name;
        uint32_t side;
        ImageLimits limits;
        const char* reason;  // null: decoded
    } cases[] = {
        {"a bomb for a tile", 8192, {256, 256}, "PNG declares 8192 x 8192 pixels, more than the 256 x 256"},
        {"a bomb for larger limits", 8192, {4096, 4096}, "PNG declares 8192 x 8192 pixels"},
        {"a picture the limits take", 1024, {1024, 1024}, nullptr},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> file = PngBomb(c.side);
        const uint64_t pixelBytes = uint64_t{c.side} * c.side * 3;
        ASSERT_LT(file.size() * 500, pixelBytes) << c.name << ": no bomb";
        RgbImage image;
        std::string error;
        inflatedBytes = 0;
        const bool decoded = DecodeImage(file, c.limits, image, error);
        if (c.reason != nullptr) {
            EXPECT_FALSE(decoded) << c.name;
            EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
            EXPECT_LT(inflatedBytes, 65536u) << c.name;
            EXPECT_TRUE(image.pixels.empty()) << c.name;
        } else {
            ASSERT_TRUE(decoded) << c.name << ": " << error;
            EXPECT_EQ(image.pixels, std::vector<uint8_t>(pixelBytes, 0)) << c.name;
            EXPECT_LT(inflatedBytes, 4 * pixelBytes) << c.name;
        }
    }
}

TEST(TileDecodingTest, LargerLimitsTakeLargerPictures) {
    RgbImage image;
    std::string error;
    EXPECT_FALSE(DecodeImage(GoodPngTile(), ImageLimits{255, 256}, image, error));
    EXPECT_TRUE(DecodeImage(GoodPngTile(), ImageLimits{1024, 1024}, image, error)) << error;
}

}  // namespace
