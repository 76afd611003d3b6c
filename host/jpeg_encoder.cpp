#include "host/jpeg_encoder.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "host/jpeg_error.h"

namespace {

// Kept apart from the C++ objects of the caller: libjpeg's errors longjmp
// here, skipping destructors, and nothing in this frame has one. The buffer
// is libjpeg's (malloc) and the caller's to free, whatever happens.
bool Compress(const RgbImage& image, int quality, unsigned char** buffer, unsigned long* size, char* message) {
    jpeg_compress_struct info;
    JpegError err;
    info.err = UseJpegError(err);
    if (setjmp(err.jump)) {
        std::memcpy(message, err.message, sizeof err.message);
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, buffer, size);
    info.image_width = static_cast<JDIMENSION>(image.width);
    info.image_height = static_cast<JDIMENSION>(image.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto* row = const_cast<JSAMPROW>(image.pixels.data() + size_t{info.next_scanline} * info.image_width * 3);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

}  // namespace

bool EncodeJpeg(const RgbImage& image, int quality, std::vector<uint8_t>& encoded, std::string& error) {
    if (image.width < 0 || image.height < 0 ||
        image.pixels.size() != size_t{static_cast<uint32_t>(image.width)} * static_cast<uint32_t>(image.height) * 3) {
        error = "the raster does not match its size";
        return false;
    }
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    char message[JMSG_LENGTH_MAX] = {};
    const bool compressed = Compress(image, quality, &buffer, &size, message);
    bool kept = compressed;
    if (compressed) {
        try {
            encoded.assign(buffer, buffer + size);
        } catch (...) {
            kept = false;
            std::strcpy(message, "out of memory");
        }
    }
    std::free(buffer);
    if (!kept) {
        error = std::string("JPEG encoder: ") + message;
        return false;
    }
    return true;
}
