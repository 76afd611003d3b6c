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

// The bomb is a few dozen bytes: the refusal comes from its header alone.
TEST(TileDecodingTest, ABombIsSmall) {
    EXPECT_LT(PngClaiming(1000000, 1000000).size(), 100u);
}

TEST(TileDecodingTest, LargerLimitsTakeLargerPictures) {
    RgbImage image;
    std::string error;
    EXPECT_FALSE(DecodeImage(GoodPngTile(), ImageLimits{255, 256}, image, error));
    EXPECT_TRUE(DecodeImage(GoodPngTile(), ImageLimits{1024, 1024}, image, error)) << error;
}

}  // namespace
