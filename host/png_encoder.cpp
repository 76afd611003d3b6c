#include "host/png_encoder.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>

namespace {

struct Sink {
    std::vector<uint8_t>* bytes;
    char message[256];
};

void Append(png_structp png, png_bytep data, png_size_t length) {
    auto* sink = static_cast<Sink*>(png_get_io_ptr(png));
    bool grown = true;
    try {
        sink->bytes->insert(sink->bytes->end(), data, data + length);
    } catch (...) {
        grown = false;
    }
    // Out of the handler before libpng jumps: nothing thrown crosses C code.
    if (!grown) png_error(png, "out of memory");
}

void Flush(png_structp) {}

[[noreturn]] void OnError(png_structp png, png_const_charp message) {
    auto* sink = static_cast<Sink*>(png_get_error_ptr(png));
    std::strncpy(sink->message, message, sizeof sink->message - 1);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// Kept free of C++ objects with destructors: libpng's errors longjmp out.
bool Encode(const uint8_t* rgb, uint32_t width, uint32_t height, PngCompression compression, Sink& sink) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, OnError, OnWarning);
    if (png == nullptr) {
        std::strcpy(sink.message, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &sink, Append, Flush);
    if (compression == PngCompression::Fast) {
        // Answers trade size for time: the "up" filter turns imagery's
        // smooth columns into small numbers and leaves flat map areas
        // zeros, and zlib's fastest level packs those well enough; a filter
        // chosen per row would cost far more time than it saves in bytes.
        png_set_compression_level(png, 1);
        png_set_filter(png, 0, PNG_FILTER_UP);
    }
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t row = 0; row < height; ++row) {
        png_write_row(png, rgb + size_t{row} * width * 3);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool EncodePng(const RgbImage& image, PngCompression compression, std::vector<uint8_t>& encoded, std::string& error) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != size_t{static_cast<uint32_t>(image.width)} * static_cast<uint32_t>(image.height) * 3) {
        error = "the raster does not match its size";
        return false;
    }
    encoded.clear();
    encoded.reserve(image.pixels.size() / 4);
    Sink sink{&encoded, {}};
    if (!Encode(image.pixels.data(), static_cast<uint32_t>(image.width), static_cast<uint32_t>(image.height),
                compression, sink)) {
        error = std::string("PNG encoder: ") + sink.message;
        return false;
    }
    return true;
}
