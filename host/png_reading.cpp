#include "host/png_reading.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <png.h>

namespace {

struct MemoryInput {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t at = 0;
};

// libpng's errors jump back to the reader's setjmp with the message,
// instead of libpng's default, which ends the process.
struct PngFailure {
    std::jmp_buf jump;
    char message[200] = "libpng failed";
};

void ReadInput(png_structp png, png_bytep out, size_t length) {
    auto* input = static_cast<MemoryInput*>(png_get_io_ptr(png));
    if (length > input->size - input->at) png_error(png, "the file ends early");
    std::memcpy(out, input->data + input->at, length);
    input->at += length;
}

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
    auto* failure = static_cast<PngFailure*>(png_get_error_ptr(png));
    std::snprintf(failure->message, sizeof failure->message, "%s", message);
    std::longjmp(failure->jump, 1);
}

void IgnorePngWarning(png_structp, png_const_charp) {}

// The read structures, released on every way out.
struct PngReader {
    PngReader() {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &failure, OnPngError, IgnorePngWarning);
        if (png != nullptr) info = png_create_info_struct(png);
    }
    ~PngReader() { png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    png_structp png = nullptr;
    png_infop info = nullptr;
    PngFailure failure;
    MemoryInput input;
};

// The picture's size and channels (3, or 4 with alpha) once the
// transformations to 8-bit sRGB are set. Kept apart from the C++ objects
// of the caller, as the next: longjmp skips destructors, and nothing in
// these frames has one.
bool ReadShape(PngReader& reader, uint32_t& width, uint32_t& height, uint32_t& channels) {
    if (setjmp(reader.failure.jump)) return false;
    png_set_read_fn(reader.png, &reader.input, ReadInput);
    png_read_info(reader.png, reader.info);
    png_set_expand(reader.png);     // a palette, grey below 8 bits, tRNS as alpha
    png_set_scale_16(reader.png);   // rounded, not cut
    png_set_gray_to_rgb(reader.png);
    // Samples as the file encodes them (sRGB unless a gAMA chunk says
    // otherwise), alpha not multiplied in.
    png_set_alpha_mode(reader.png, PNG_ALPHA_PNG, PNG_DEFAULT_sRGB);
    png_set_interlace_handling(reader.png);
    png_read_update_info(reader.png, reader.info);
    width = png_get_image_width(reader.png, reader.info);
    height = png_get_image_height(reader.png, reader.info);
    channels = png_get_channels(reader.png, reader.info);
    return true;
}

bool ReadRows(PngReader& reader, png_bytepp rows) {
    if (setjmp(reader.failure.jump)) return false;
    png_read_image(reader.png, rows);
    return true;
}

uint8_t OverBlankGrey(uint32_t colour, uint32_t alpha) {
    return static_cast<uint8_t>((colour * alpha + uint32_t{kBlankTileGrey} * (255 - alpha) + 127) / 255);
}

}  // namespace

bool ReadPngPixels(const std::vector<uint8_t>& png, RgbImage& image, std::string& error) {
    PngReader reader;
    if (reader.png == nullptr || reader.info == nullptr) {
        error = "out of memory for the PNG decoder";
        return false;
    }
    reader.input = MemoryInput{png.data(), png.size(), 0};
    uint32_t width = 0, height = 0, channels = 0;
    if (!ReadShape(reader, width, height, channels)) {
        error = reader.failure.message;
        return false;
    }
    if (channels != 3 && channels != 4) {
        error = "an unexpected " + std::to_string(channels) + " channels";
        return false;
    }
    const size_t rowBytes = size_t{width} * channels;
    std::vector<uint8_t> pixels(rowBytes * height);
    std::vector<png_bytep> rows(height);
    for (uint32_t y = 0; y < height; ++y) rows[y] = pixels.data() + y * rowBytes;
    if (!ReadRows(reader, rows.data())) {
        error = reader.failure.message;
        return false;
    }
    image.width = static_cast<int32_t>(width);
    image.height = static_cast<int32_t>(height);
    if (channels == 3) {
        image.pixels = std::move(pixels);
        return true;
    }
    image.pixels.resize(size_t{width} * height * 3);
    uint8_t* out = image.pixels.data();
    for (size_t i = 0; i < pixels.size(); i += 4, out += 3) {
        const uint32_t alpha = pixels[i + 3];
        for (size_t c = 0; c < 3; ++c) out[c] = OverBlankGrey(pixels[i + c], alpha);
    }
    return true;
}
