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

// One row of pixels of `left` bytes through one of the five filters; `prior`
// is the row above, zeros above the first. The first pixel has no left
// neighbour (zeros stand in), so it is done apart and the loops over the
// rest have no branch. The pixel size is a constant of each instance, so
// that the compiler runs the loops over many bytes at once.
template <size_t left>
void FilterRow(PngFilter filter, const uint8_t* row, const uint8_t* prior, size_t length, uint8_t* out) {
    // length is a whole number of pixels, at least one
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
template <size_t pixelBytes>
void FilterRowInto(PngFilter filter, const uint8_t* row, const uint8_t* prior, size_t length, uint8_t* out,
                   uint8_t* scratch) {
    if (filter != PngFilter::Adaptive) {
        out[0] = static_cast<uint8_t>(filter);
        FilterRow<pixelBytes>(filter, row, prior, length, out + 1);
        return;
    }
    uint64_t best = UINT64_MAX;
    for (PngFilter candidate : {PngFilter::None, PngFilter::Sub, PngFilter::Up, PngFilter::Average, PngFilter::Paeth}) {
        FilterRow<pixelBytes>(candidate, row, prior, length, scratch);
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

template <size_t pixelBytes>
void FilterRows(const uint8_t* image, uint32_t width, uint32_t height, PngFilter filter, uint8_t* out) {
    const size_t rowBytes = size_t{width} * pixelBytes;
    const std::vector<uint8_t> zeros(rowBytes, 0);
    std::vector<uint8_t> scratch(filter == PngFilter::Adaptive ? rowBytes : 0);
    for (size_t row = 0; row < height; ++row) {
        const uint8_t* pixels = image + row * rowBytes;
        FilterRowInto<pixelBytes>(filter, pixels, row == 0 ? zeros.data() : pixels - rowBytes, rowBytes,
                                  out + row * (rowBytes + 1), scratch.data());
    }
}

// The pixels of either kind of image, as the encoder takes them.
struct Raster {
    const std::vector<uint8_t>& pixels;
    int32_t width, height;
    size_t pixelBytes;  // 3: RGB; 4: RGBA
};

bool Encode(const Raster& image, PngSettings settings, std::vector<uint8_t>& encoded, std::string& error) {
    // A positive int32_t side is within PNG's largest, 2^31 - 1.
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() !=
            size_t{static_cast<uint32_t>(image.width)} * static_cast<uint32_t>(image.height) * image.pixelBytes) {
        error = "the raster does not match its size";
        return false;
    }
    if (settings.level < 0 || settings.level > kMaxLevel || settings.filter > PngFilter::Adaptive) {
        error = "no PNG compression level " + std::to_string(settings.level) + " or filter " +
                std::to_string(static_cast<int>(settings.filter));
        return false;
    }
    const uint32_t width = static_cast<uint32_t>(image.width);
    const uint32_t height = static_cast<uint32_t>(image.height);
    const size_t rowBytes = size_t{width} * image.pixelBytes;
    try {
        const size_t filteredBytes = size_t{height} * (rowBytes + 1);
        // Every byte is written before it is read: no need to clear them.
        const std::unique_ptr<uint8_t[]> filtered(new uint8_t[filteredBytes]);
        if (image.pixelBytes == 4) {
            FilterRows<4>(image.pixels.data(), width, height, settings.filter, filtered.get());
        } else {
            FilterRows<3>(image.pixels.data(), width, height, settings.filter, filtered.get());
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
        header[9] = image.pixelBytes == 4 ? 6 : 2;  // RGBA or RGB
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
    return Encode(Raster{image.pixels, image.width, image.height, 3}, settings, encoded, error);
}

bool EncodePng(const RgbaImage& image, PngCompression compression, std::vector<uint8_t>& encoded, std::string& error) {
    return Encode(Raster{image.pixels, image.width, image.height, 4}, SettingsOf(compression), encoded, error);
}
