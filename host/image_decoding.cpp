#include "host/image_decoding.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

#include "host/jpeg_error.h"
#include "host/png_image_data.h"
#include "host/png_reading.h"

namespace {

// A progressive JPEG may hold any number of scans, each a full pass over the
// picture: far more than any encoder writes is refused as a CPU bomb.
constexpr int kMaxJpegScans = 100;

std::string SizeText(uint32_t width, uint32_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

bool WithinLimits(uint32_t width, uint32_t height, const ImageLimits& limits, std::string& error) {
    if (width == 0 || height == 0 || width > limits.maxWidth || height > limits.maxHeight) {
        error = "declares " + SizeText(width, height) + " pixels, more than the " +
                SizeText(limits.maxWidth, limits.maxHeight) + " allowed";
        return false;
    }
    return true;
}

// Reads a PNG's header (and the chunks before its image data).
bool BeginPng(const std::vector<uint8_t>& encoded, png_image& png, std::string& error) {
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, encoded.data(), encoded.size())) {
        error = std::string("broken PNG: ") + png.message;
        return false;
    }
    return true;
}

bool DecodePng(const std::vector<uint8_t>& encoded, const ImageLimits& limits, RgbImage& image, std::string& error) {
    png_image png;
    if (!BeginPng(encoded, png, error)) {
        return false;
    }
    png_image_free(&png);
    if (!WithinLimits(png.width, png.height, limits, error)) {
        error = "PNG " + error;
        return false;
    }
    // The decoder would inflate on past the last row to the stream's end: it
    // reads a copy whose image data stops there.
    std::vector<uint8_t> rows;
    if (!CopyUpToLastRow(encoded, rows, error)) {
        error = "broken PNG: " + error;
        return false;
    }
    if (!ReadPngPixels(rows, image, error)) {
        error = "broken PNG: " + error;
        return false;
    }
    return true;
}

// libjpeg only warns about a truncated or corrupt file and fills the rest
// with grey; a tile with a grey hole is not a tile, so a warning (level -1)
// ends the decoding as an error does. Trace messages (level > 0) are not news.
void OnJpegMessage(j_common_ptr info, int level) {
    if (level < 0) {
        OnJpegError(info);
    }
}

void OnJpegProgress(j_common_ptr info) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > kMaxJpegScans) {
        auto* e = reinterpret_cast<JpegError*>(info->err);
        std::snprintf(e->message, sizeof e->message, "more than %d scans", kMaxJpegScans);
        std::longjmp(e->jump, 1);
    }
}

// Kept apart from the C++ objects of the caller: longjmp skips destructors,
// and nothing in this frame has one.
bool DecodeJpegInto(const std::vector<uint8_t>& encoded, const ImageLimits& limits, RgbImage& image, char* message,
                    std::string& sizeError) {
    jpeg_decompress_struct info;
    JpegError err;
    jpeg_progress_mgr progress;
    info.err = UseJpegError(err);
    err.manager.emit_message = OnJpegMessage;
    progress.progress_monitor = OnJpegProgress;
    if (setjmp(err.jump)) {
        std::memcpy(message, err.message, sizeof err.message);
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    info.progress = &progress;
    jpeg_mem_src(&info, encoded.data(), static_cast<unsigned long>(encoded.size()));
    jpeg_read_header(&info, TRUE);
    if (!WithinLimits(info.image_width, info.image_height, limits, sizeError)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    image.width = static_cast<int32_t>(info.output_width);
    image.height = static_cast<int32_t>(info.output_height);
    image.pixels.resize(static_cast<size_t>(info.output_width) * info.output_height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.pixels.data() + static_cast<size_t>(info.output_scanline) * info.output_width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    // The picture is whole: what follows the last scanline up to the end
    // marker is not read.
    jpeg_destroy_decompress(&info);
    return true;
}

bool StartsWith(const std::vector<uint8_t>& bytes, const uint8_t* signature, size_t length) {
    return bytes.size() >= length && std::memcmp(bytes.data(), signature, length) == 0;
}

}  // namespace

bool DecodeImage(const std::vector<uint8_t>& encoded, const ImageLimits& limits, RgbImage& image, std::string& error) {
    static const uint8_t kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    static const uint8_t kJpeg[] = {0xFF, 0xD8, 0xFF};
    if (StartsWith(encoded, kPng, sizeof kPng)) {
        if (!DecodePng(encoded, limits, image, error)) {
            image = RgbImage{};
            return false;
        }
        return true;
    }
    if (StartsWith(encoded, kJpeg, sizeof kJpeg)) {
        char message[JMSG_LENGTH_MAX] = {};
        std::string sizeError;
        if (!DecodeJpegInto(encoded, limits, image, message, sizeError)) {
            error = sizeError.empty() ? std::string("broken JPEG: ") + message : "JPEG " + sizeError;
            image = RgbImage{};
            return false;
        }
        return true;
    }
    error = "neither PNG nor JPEG";
    return false;
}

bool DecodeTile(const std::vector<uint8_t>& encoded, RgbImage& image, std::string& error) {
    constexpr ImageLimits kTile{kTileSide, kTileSide};
    if (!DecodeImage(encoded, kTile, image, error)) {
        return false;
    }
    if (image.width != kTileSide || image.height != kTileSide) {
        error = "not a " + std::to_string(kTileSide) + " x " + std::to_string(kTileSide) + " tile but " +
                std::to_string(image.width) + " x " + std::to_string(image.height);
        image = RgbImage{};
        return false;
    }
    return true;
}
