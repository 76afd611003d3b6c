// The encoders answer every failure with false and its reason: libjpeg's
// default error handler ends the process, which a server must never do.

#include <gtest/gtest.h>

#include <string>

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

TEST(ImageEncodingTest, FailuresAreReportedNotFatal) {
    RgbImage mismatched = Grey(4, 4);
    mismatched.pixels.pop_back();
    struct Case {
        const char* name;
        bool png;
        RgbImage image;
        const char* reason;
    } cases[] = {
        // libjpeg refuses both itself, through its error handler.
        {"JPEG without rows", false, Grey(16, 0), "JPEG encoder: "},
        {"JPEG beyond libjpeg's size", false, Grey(70000, 1), "JPEG encoder: "},
        {"JPEG pixels short", false, mismatched, "does not match its size"},
        {"PNG pixels short", true, mismatched, "does not match its size"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> encoded;
        std::string error;
        const bool ok = c.png ? EncodePng(c.image, PngCompression::Fast, encoded, error)
                              : EncodeJpeg(c.image, 90, encoded, error);
        EXPECT_FALSE(ok) << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
    }
}

}  // namespace
