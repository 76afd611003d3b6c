// Tile decoding refuses what is not a whole 256 x 256 tile, by the header's
// word before any pixel memory is taken.

#include <gtest/gtest.h>

#include <string>

#include "host/image_decoding.h"
#include "tests/host/hostile_tiles.h"

namespace {

TEST(TileDecodingTest, GoodTilesDecode) {
    for (const auto& file : {GoodPngTile(), GoodJpegTile()}) {
        RgbImage image;
        std::string error;
        ASSERT_TRUE(DecodeTile(file, image, error)) << error;
        EXPECT_EQ(image.width, 256);
        EXPECT_EQ(image.height, 256);
        EXPECT_EQ(image.pixels.size(), 256u * 256 * 3);
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
