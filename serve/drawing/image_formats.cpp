#include "serve/drawing/image_formats.h"

#include <cctype>

namespace {

// Chosen on the benchmark's boxes (bench/server/image_formats.sh, the
// table in docs/performance.md). Photographs: lossy WebP at the quality
// whose pixels lie as close to the image as JPEG 90's, at its fastest
// method. The drawn map: lossless, as its edges and lettering are what
// lossy WebP changes visibly; the effort where fewer bytes stop coming
// cheaply.
constexpr ImageEncoding kPng{ImageCodec::Png, 0, 0};
constexpr ImageEncoding kJpeg{ImageCodec::Jpeg, 90, 0};
constexpr ImageEncoding kWebpPhotograph{ImageCodec::WebpLossy, 85, 0};
constexpr ImageEncoding kWebpDrawn{ImageCodec::WebpLossless, 50, 1};

const std::array<ImageFormatEntry, kImageFormatCount> kFormats = {{
    {ImageFormat::Png, "image/png", "png", kPng, kPng},
    {ImageFormat::Jpeg, "image/jpeg", "jpeg", kJpeg, kJpeg},
    {ImageFormat::Webp, "image/webp", "webp", kWebpPhotograph, kWebpDrawn},
}};

bool SameIgnoringCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

std::string InWords(const char* prefix, const char* ImageFormatEntry::*field) {
    std::string words;
    for (size_t i = 0; i < kFormats.size(); ++i) {
        if (i > 0) words += i + 1 == kFormats.size() ? " or " : ", ";
        words += prefix;
        words += kFormats[i].*field;
    }
    return words;
}

}  // namespace

const std::array<ImageFormatEntry, kImageFormatCount>& ImageFormats() {
    return kFormats;
}

const ImageFormatEntry& ImageFormatOf(ImageFormat format) {
    for (const ImageFormatEntry& entry : kFormats) {
        if (entry.format == format) return entry;
    }
    return kFormats[0];
}

const ImageFormatEntry* FindMediaType(const std::string& mediaType) {
    for (const ImageFormatEntry& entry : kFormats) {
        if (SameIgnoringCase(mediaType, entry.mediaType)) return &entry;
    }
    return nullptr;
}

const ImageFormatEntry* FindExtension(const std::string& extension) {
    if (extension == "jpg") return &ImageFormatOf(ImageFormat::Jpeg);
    for (const ImageFormatEntry& entry : kFormats) {
        if (extension == entry.extension) return &entry;
    }
    return nullptr;
}

ImageEncoding EncodingOf(ImageFormat format, const std::string& layer) {
    const ImageFormatEntry& entry = ImageFormatOf(format);
    return layer == "map" ? entry.drawn : entry.imagery;
}

std::string MediaTypesInWords() {
    return InWords("", &ImageFormatEntry::mediaType);
}

std::string ExtensionsInWords() {
    return InWords(".", &ImageFormatEntry::extension);
}
