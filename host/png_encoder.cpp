#include "host/png_encoder.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr size_t kMaxChunkData = 0x7FFFFFFFu;  // PNG's largest chunk
constexpr int kMaxLevel = 12;
constexpr size_t kChunkFrame = 12;  // length, type and CRC
constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

struct FreeCompressor {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, FreeCompressor>;

// A compressor's match-finder tables are large and their pages fault in
// when first touched, so each thread keeps one for each level it used.
libdeflate_compressor* CompressorFor(int level) {
    thread_local std::array<Compressor, kMaxLevel + 1> compressors;
    Compressor& kept = compressors[static_cast<size_t>(level)];
    if (!kept) kept.reset(libdeflate_alloc_compressor(level));
    return kept.get();
}

// The Paeth predictor without branches, so that the compiler can run it
// over many bytes at once: the neighbour nearest to left + above -
// aboveLeft, ties to left, then above.
inline uint8_t Paeth(int left, int above, int aboveLeft) {
    const int toLeft = std::abs(above - aboveLeft);
    const int toAbove = std::abs(left - aboveLeft);
    const int toAboveLeft = std::abs(left + above - 2 * aboveLeft);
    const int nearer = toAbove <= toAboveLeft ? above : aboveLeft;
    return static_cast<uint8_t>(toLeft <= toAbove && toLeft <= toAboveLeft ? left : nearer);
}

// One row of pixels of `kPixelBytes` through one of the five filters;
// `prior` is the row above, zeros above the first. The first pixel has no
// left neighbour (zeros stand in), so it is done apart and the loops over
// the rest have no branch.
template <size_t kPixelBytes>
void FilterRow(PngFilter filter, const uint8_t* row, const uint8_t* prior, size_t length, uint8_t* out) {
    const size_t left = kPixelBytes;  // length is a whole number of pixels, at least one
    switch (filter) {
        case PngFilter::Sub:
            std::memcpy(out, row, left);
            for (size_t i = left; i < length; ++i) out[i] = static_cast<uint8_t>(row[i] - row[i - left]);
            break;
        case PngFilter::Up:
            for (size_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>(row[i] - prior[i]);
            break;
        case PngFilter::Average:
            for (size_t i = 0; i < left; ++i) out[i] = static_cast<uint8_t>(row[i] - (prior[i] >> 1));
            for (size_t i = left; i < length; ++i) {
                out[i] = static_cast<uint8_t>(row[i] - ((row[i - left] + prior[i]) >> 1));
            }
            break;
        case PngFilter::Paeth:
            for (size_t i = 0; i < left; ++i) out[i] = static_cast<uint8_t>(row[i] - prior[i]);
            for (size_t i = left; i < length; ++i) {
                out[i] = static_cast<uint8_t>(row[i] - Paeth(row[i - left], prior[i], prior[i - left]));
            }
            break;
        case PngFilter::None:
        case PngFilter::Adaptive:
            std::memcpy(out, row, length);
            break;
    }
}

uint64_t SignedMagnitude(const uint8_t* bytes, size_t length) {
    uint64_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum += static_cast<uint64_t>(std::abs(static_cast<int8_t>(bytes[i])));
    return sum;
}

// Writes the filter type byte and the filtered row at `out`.
template <size_t kPixelBytes>
void FilterRowInto(PngFilter filter, const uint8_t* row, const uint8_t* prior, size_t length, uint8_t* out,
                   uint8_t* scratch) {
    if (filter != PngFilter::Adaptive) {
        out[0] = static_cast<uint8_t>(filter);
        FilterRow<kPixelBytes>(filter, row, prior, length, out + 1);
        return;
    }
    uint64_t best = UINT64_MAX;
    for (PngFilter candidate : {PngFilter::None, PngFilter::Sub, PngFilter::Up, PngFilter::Average, PngFilter::Paeth}) {
        FilterRow<kPixelBytes>(candidate, row, prior, length, scratch);
        const uint64_t cost = SignedMagnitude(scratch, length);
        if (cost < best) {
            best = cost;
            out[0] = static_cast<uint8_t>(candidate);
            std::memcpy(out + 1, scratch, length);
        }
    }
}

void PutUint32(uint8_t* at, size_t value) {
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

// Appends a chunk of `type` holding `length` bytes of `data`.
void AppendChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t length) {
    const size_t at = out.size();
    out.resize(at + kChunkFrame + length);
    uint8_t* chunk = &out[at];
    PutUint32(chunk, length);
    std::memcpy(chunk + 4, type, 4);
    if (length > 0) std::memcpy(chunk + 8, data, length);
    PutUint32(chunk + 8 + length, libdeflate_crc32(0, chunk + 4, length + 4));
}

template <size_t kPixelBytes>
void FilterRows(const uint8_t* pixels, uint32_t width, uint32_t height, PngFilter filter, uint8_t* out) {
    const size_t rowBytes = size_t{width} * kPixelBytes;
    const std::vector<uint8_t> zeros(rowBytes, 0);
    std::vector<uint8_t> scratch(filter == PngFilter::Adaptive ? rowBytes : 0);
    for (size_t row = 0; row < height; ++row) {
        const uint8_t* first = pixels + row * rowBytes;
        FilterRowInto<kPixelBytes>(filter, first, row == 0 ? zeros.data() : first - rowBytes, rowBytes,
                                   out + row * (rowBytes + 1), scratch.data());
    }
}

// The rows of 3 (RGB) or 4 (RGBA) bytes a pixel as a PNG of that colour type.
bool Encode(const uint8_t* pixels, uint32_t width, uint32_t height, size_t pixelBytes, PngSettings settings,
            std::vector<uint8_t>& encoded, std::string& error);

}  // namespace

void FilterPngRows(const uint8_t* rgb, uint32_t width, uint32_t height, PngFilter filter, uint8_t* out) {
    FilterRows<3>(rgb, width, height, filter, out);
}

PngSettings SettingsOf(PngCompression compression) {
    return compression == PngCompression::Fast ? PngSettings{1, PngFilter::Up} : PngSettings{7, PngFilter::Paeth};
}

bool EncodePng(const RgbImage& image, PngCompression compression, std::vector<uint8_t>& encoded, std::string& error) {
    return EncodePng(image, SettingsOf(compression), encoded, error);
}

bool EncodePng(const RgbImage& image, PngSettings settings, std::vector<uint8_t>& encoded, std::string& error) {
    // A positive int32_t side is within PNG's largest, 2^31 - 1.
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != size_t{static_cast<uint32_t>(image.width)} * static_cast<uint32_t>(image.height) * 3) {
        error = "the raster does not match its size";
        return false;
    }
    if (settings.level < 0 || settings.level > kMaxLevel || settings.filter > PngFilter::Adaptive) {
        error = "no PNG compression level " + std::to_string(settings.level) + " or filter " +
                std::to_string(static_cast<int>(settings.filter));
        return false;
    }
    return Encode(image.pixels.data(), static_cast<uint32_t>(image.width), static_cast<uint32_t>(image.height), 3,
                  settings, encoded, error);
}

bool EncodePngWithAlpha(const RgbImage& image, const std::vector<uint8_t>& alpha, PngCompression compression,
                        std::vector<uint8_t>& encoded, std::string& error) {
    const size_t pixels = image.width > 0 && image.height > 0
                              ? size_t{static_cast<uint32_t>(image.width)} * static_cast<uint32_t>(image.height)
                              : 0;
    if (pixels == 0 || image.pixels.size() != pixels * 3 || alpha.size() != pixels) {
        error = "the raster does not match its size";
        return false;
    }
    try {
        std::vector<uint8_t> rgba(pixels * 4);
        for (size_t i = 0; i < pixels; ++i) {
            std::memcpy(&rgba[i * 4], &image.pixels[i * 3], 3);
            rgba[i * 4 + 3] = alpha[i];
        }
        return Encode(rgba.data(), static_cast<uint32_t>(image.width), static_cast<uint32_t>(image.height), 4,
                      SettingsOf(compression), encoded, error);
    } catch (const std::bad_alloc&) {
        encoded.clear();
        error = "PNG encoder: out of memory";
        return false;
    }
}

namespace {

bool Encode(const uint8_t* pixels, uint32_t width, uint32_t height, size_t pixelBytes, PngSettings settings,
            std::vector<uint8_t>& encoded, std::string& error) {
    const size_t rowBytes = size_t{width} * pixelBytes;
    try {
        const size_t filteredBytes = size_t{height} * (rowBytes + 1);
        // Every byte is written before it is read: no need to clear them.
        const std::unique_ptr<uint8_t[]> filtered(new uint8_t[filteredBytes]);
        if (pixelBytes == 4) {
            FilterRows<4>(pixels, width, height, settings.filter, filtered.get());
        } else {
            FilterRows<3>(pixels, width, height, settings.filter, filtered.get());
        }

        libdeflate_compressor* compressor = CompressorFor(settings.level);
        if (compressor == nullptr) throw std::bad_alloc();
        const size_t bound = libdeflate_zlib_compress_bound(compressor, filteredBytes);
        const std::unique_ptr<uint8_t[]> stream(new uint8_t[bound]);
        const size_t streamBytes = libdeflate_zlib_compress(compressor, filtered.get(), filteredBytes, stream.get(), bound);
        if (streamBytes == 0) {
            error = "PNG encoder: the compressed rows exceed their bound";
            return false;
        }

        uint8_t header[13];
        PutUint32(header, width);
        PutUint32(header + 4, height);
        header[8] = 8;   // bits a sample
        header[9] = pixelBytes == 4 ? 6 : 2;  // RGBA or RGB
        header[10] = 0;  // deflate
        header[11] = 0;  // the five row filters
        header[12] = 0;  // not interlaced
        const size_t chunks = (streamBytes + kMaxChunkData - 1) / kMaxChunkData;
        encoded.clear();
        encoded.reserve(sizeof kSignature + kChunkFrame + sizeof header + chunks * kChunkFrame + streamBytes +
                        kChunkFrame);
        encoded.insert(encoded.end(), kSignature, kSignature + sizeof kSignature);
        AppendChunk(encoded, "IHDR", header, sizeof header);
        for (size_t at = 0; at < streamBytes; at += kMaxChunkData) {
            AppendChunk(encoded, "IDAT", stream.get() + at, std::min(kMaxChunkData, streamBytes - at));
        }
        AppendChunk(encoded, "IEND", nullptr, 0);
        return true;
    } catch (const std::bad_alloc&) {
        encoded.clear();
        error = "PNG encoder: out of memory";
        return false;
    }
}

}  // namespace
