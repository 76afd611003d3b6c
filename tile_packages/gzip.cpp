#include "tile_packages/gzip.h"

#include <libdeflate.h>

#include <memory>

namespace tile_packages {
namespace {

struct CompressorFree {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
struct DecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

}  // namespace

bool Gzip(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& compressed, std::string& error) {
    std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(libdeflate_alloc_compressor(9));
    if (!compressor) {
        error = "out of memory compressing a directory";
        return false;
    }
    compressed.resize(libdeflate_gzip_compress_bound(compressor.get(), bytes.size()));
    const size_t size =
        libdeflate_gzip_compress(compressor.get(), bytes.data(), bytes.size(), compressed.data(), compressed.size());
    if (size == 0) {
        error = "cannot gzip " + std::to_string(bytes.size()) + " bytes";
        return false;
    }
    compressed.resize(size);
    return true;
}

bool Gunzip(const uint8_t* compressed, size_t size, size_t limit, std::vector<uint8_t>& bytes, std::string& error) {
    // The last four bytes hold the size, modulo 2^32: the buffer is made
    // that large, and a member that does not fit in it fails.
    if (size < 18) {
        error = "a gzip stream of " + std::to_string(size) + " bytes is cut short";
        return false;
    }
    const uint8_t* tail = compressed + size - 4;
    const size_t claimed = size_t{tail[0]} | size_t{tail[1]} << 8 | size_t{tail[2]} << 16 | size_t{tail[3]} << 24;
    if (claimed > limit) {
        error = "a gzip stream claims " + std::to_string(claimed) + " bytes, more than the " + std::to_string(limit) +
                " allowed";
        return false;
    }
    std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor(libdeflate_alloc_decompressor());
    if (!decompressor) {
        error = "out of memory decompressing a directory";
        return false;
    }
    bytes.resize(claimed);
    size_t produced = 0;
    if (libdeflate_gzip_decompress(decompressor.get(), compressed, size, bytes.data(), bytes.size(), &produced) !=
            LIBDEFLATE_SUCCESS ||
        produced != claimed) {
        error = "a gzip stream is damaged";
        return false;
    }
    return true;
}

}  // namespace tile_packages
