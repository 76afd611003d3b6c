#pragma once

#include <array>
#include <string>

#include "serve/drawing/map_request.h"

// How an image is written: the codec and its setting.
enum class ImageCodec { Png, Jpeg, WebpLossy, WebpLossless };

struct ImageEncoding {
    ImageCodec codec;
    // JPEG and lossy WebP: 1 to 100, likeness against bytes; lossless WebP:
    // 0 to 100, effort for fewer bytes; PNG: unused (answers' settings).
    int quality;
    int method;  // WebP: 0 (fastest) to 6 (smallest)
};

// One format every door offers: its media type (WMS and WMTS FORMAT,
// Content-Type, Accept), the extension of tile addresses, and how each
// kind of layer is encoded in it.
struct ImageFormatEntry {
    ImageFormat format;
    const char* mediaType;
    const char* extension;
    ImageEncoding imagery;  // aerial and hybrid: photographs
    ImageEncoding drawn;    // map: flat colours, lines and lettering
};

constexpr size_t kImageFormatCount = 3;

// The one table of formats, in the order documents list them.
const std::array<ImageFormatEntry, kImageFormatCount>& ImageFormats();

const ImageFormatEntry& ImageFormatOf(ImageFormat format);
// The entry of a media type (without regard to case), or null.
const ImageFormatEntry* FindMediaType(const std::string& mediaType);
// The entry of a tile address's extension ("jpg" is JPEG too), or null.
const ImageFormatEntry* FindExtension(const std::string& extension);
// How an image of `layer` is encoded in `format`.
ImageEncoding EncodingOf(ImageFormat format, const std::string& layer);

// "image/png, image/jpeg or image/webp" and ".png, .jpeg or .webp", for
// messages that say what is offered.
std::string MediaTypesInWords();
std::string ExtensionsInWords();
