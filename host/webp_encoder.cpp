#include "host/webp_encoder.h"

#include <webp/encode.h>

namespace {

// The picture and the writer's buffer, freed however the encoding ends.
struct Picture {
    WebPPicture picture;
    WebPMemoryWriter writer;

    Picture() {
        WebPPictureInit(&picture);
        WebPMemoryWriterInit(&writer);
        picture.writer = WebPMemoryWrite;
        picture.custom_ptr = &writer;
    }
    ~Picture() {
        WebPPictureFree(&picture);
        WebPMemoryWriterClear(&writer);
    }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;
};

const char* ReasonOf(WebPEncodingError code) {
    switch (code) {
        case VP8_ENC_ERROR_OUT_OF_MEMORY:
        case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY: return "out of memory";
        case VP8_ENC_ERROR_BAD_DIMENSION: return "an image WebP cannot hold";
        case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
        case VP8_ENC_ERROR_PARTITION_OVERFLOW: return "a partition larger than WebP can hold";
        default: return "the encoder failed";
    }
}

}  // namespace

bool EncodeWebp(const RgbImage& image, const WebpSettings& settings, std::vector<uint8_t>& encoded,
                std::string& error) {
    if (image.width <= 0 || image.height <= 0 || image.width > kMaxWebpSide || image.height > kMaxWebpSide ||
        image.pixels.size() != size_t{static_cast<uint32_t>(image.width)} * static_cast<uint32_t>(image.height) * 3) {
        error = "WebP encoder: the raster does not match its size or is larger than 16383 a side";
        return false;
    }
    WebPConfig config;
    if (settings.quality < 0 || settings.quality > 100 || settings.method < 0 || settings.method > 6 ||
        !WebPConfigInit(&config)) {
        error = "WebP encoder: no quality " + std::to_string(settings.quality) + " or method " +
                std::to_string(settings.method);
        return false;
    }
    config.lossless = settings.lossless ? 1 : 0;
    config.quality = static_cast<float>(settings.quality);
    config.method = settings.method;
    if (!WebPValidateConfig(&config)) {
        error = "WebP encoder: settings it refuses";
        return false;
    }
    Picture held;
    WebPPicture& picture = held.picture;
    picture.width = image.width;
    picture.height = image.height;
    // Lossless works on ARGB, lossy on YUV: each imports straight to its own.
    picture.use_argb = settings.lossless ? 1 : 0;
    if (!WebPPictureImportRGB(&picture, image.pixels.data(), image.width * 3) || !WebPEncode(&config, &picture)) {
        error = std::string("WebP encoder: ") + ReasonOf(picture.error_code);
        return false;
    }
    try {
        encoded.assign(held.writer.mem, held.writer.mem + held.writer.size);
    } catch (...) {
        error = "WebP encoder: out of memory";
        return false;
    }
    return true;
}
