#include "tests/host/hostile_tiles.h"

#include <zlib.h>

#include <cstring>
#include <random>
#include <string>

#include "host/image_decoding.h"
#include "host/jpeg_encoder.h"
#include "host/png_encoder.h"

namespace {

RgbImage Noise(int32_t width, int32_t height) {
    RgbImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * height * 3);
    std::mt19937 random(7);
    for (uint8_t& p : image.pixels) p = static_cast<uint8_t>(random());
    return image;
}

void PutBigEndian32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

}  // namespace

std::vector<uint8_t> NoisePng(int32_t width, int32_t height) {
    std::vector<uint8_t> file;
    std::string error;
    EncodePng(Noise(width, height), PngCompression::Small, file, error);
    return file;
}

std::vector<uint8_t> GoodPngTile() {
    return NoisePng(256, 256);
}

std::vector<uint8_t> GoodJpegTile() {
    std::vector<uint8_t> file;
    std::string error;
    EncodeJpeg(Noise(256, 256), 90, file, error);
    return file;
}

std::vector<uint8_t> PngClaiming(uint32_t width, uint32_t height) {
    std::vector<uint8_t> file;
    std::string error;
    EncodePng(Noise(1, 1), PngCompression::Small, file, error);
    // The IHDR chunk follows the 8-byte signature: length, type, width,
    // height, 5 more bytes, then the CRC of type and data.
    PutBigEndian32(&file[16], width);
    PutBigEndian32(&file[20], height);
    PutBigEndian32(&file[29], static_cast<uint32_t>(crc32(0, &file[12], 17)));
    return file;
}

std::vector<uint8_t> JpegClaiming(uint16_t width, uint16_t height) {
    std::vector<uint8_t> file;
    std::string error;
    EncodeJpeg(Noise(16, 16), 90, file, error);
    // The baseline frame header: FF C0, length, precision, height, width.
    for (size_t i = 2; i + 9 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] == 0xC0) {
            file[i + 5] = static_cast<uint8_t>(height >> 8);
            file[i + 6] = static_cast<uint8_t>(height);
            file[i + 7] = static_cast<uint8_t>(width >> 8);
            file[i + 8] = static_cast<uint8_t>(width);
            break;
        }
    }
    return file;
}

std::vector<uint8_t> Truncated(const std::vector<uint8_t>& file, double fraction) {
    return std::vector<uint8_t>(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() * fraction));
}

namespace {

// Deflates `input` and flushes fully, so that the output stands alone and
// can be repeated or appended to the stream it came from (or, with
// Z_FINISH, ends the stream).
std::vector<uint8_t> DeflateFlushed(z_stream& stream, const std::vector<uint8_t>& input, int flush = Z_FULL_FLUSH) {
    std::vector<uint8_t> out(deflateBound(&stream, static_cast<uLong>(input.size())) + 64);
    stream.next_in = const_cast<Bytef*>(input.data());
    stream.avail_in = static_cast<uInt>(input.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, flush);
    out.resize(out.size() - stream.avail_out);
    return out;
}

// `count` zeros as raw deflate blocks without a header, which continue any
// deflate stream they are appended to.
std::vector<uint8_t> DeflatedZeros(size_t count, int flush = Z_FULL_FLUSH) {
    z_stream zeros{};
    deflateInit2(&zeros, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out = DeflateFlushed(zeros, std::vector<uint8_t>(count, 0), flush);
    deflateEnd(&zeros);
    return out;
}

void AppendChunk(std::vector<uint8_t>& file, const char* type, const std::vector<uint8_t>& data) {
    const size_t start = file.size();
    file.resize(start + 8);
    PutBigEndian32(&file[start], static_cast<uint32_t>(data.size()));
    std::memcpy(&file[start + 4], type, 4);
    file.insert(file.end(), data.begin(), data.end());
    file.resize(file.size() + 4);
    PutBigEndian32(&file[file.size() - 4], static_cast<uint32_t>(crc32(0, &file[start + 4], static_cast<uInt>(data.size() + 4))));
}

// The start of a PNG of side x side pixels up to its image data.
std::vector<uint8_t> PngSignatureAndHeader(uint32_t side, uint8_t colourType = 2, uint8_t depth = 8) {
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header(13, 0);
    PutBigEndian32(&header[0], side);
    PutBigEndian32(&header[4], side);
    header[8] = depth;
    header[9] = colourType;
    AppendChunk(file, "IHDR", header);
    return file;
}

}  // namespace

std::vector<uint8_t> NoisePngWithZerosAfter(uint32_t mebibytesOfZeros) {
    const RgbImage noise = Noise(256, 256);
    std::vector<uint8_t> rows;
    for (int32_t y = 0; y < 256; ++y) {
        rows.push_back(0);  // no filter
        rows.insert(rows.end(), noise.pixels.begin() + y * 768, noise.pixels.begin() + (y + 1) * 768);
    }
    z_stream image{};
    deflateInit(&image, 1);
    std::vector<uint8_t> data = DeflateFlushed(image, rows);
    deflateEnd(&image);
    // A mebibyte of zeros, repeated, continues the image's stream.
    const std::vector<uint8_t> mebibyte = DeflatedZeros(1 << 20);
    for (uint32_t i = 0; i < mebibytesOfZeros; ++i) data.insert(data.end(), mebibyte.begin(), mebibyte.end());
    // Then a block of a type that does not exist, and a chunk whose CRC is
    // wrong: a decoder that reads on past the image meets both.
    data.insert(data.end(), 16, 0xFF);
    std::vector<uint8_t> file = PngSignatureAndHeader(256);
    AppendChunk(file, "IDAT", data);
    AppendChunk(file, "tEXt", {'a', 0, 'b'});
    file[file.size() - 1] ^= 0xFF;
    AppendChunk(file, "IEND", {});
    return file;
}

std::vector<uint8_t> PngBomb(uint32_t side) {
    // Every byte of the image data is zero: each row's filter byte and its
    // pixels. A zlib stream of mebibytes of zeros, then the rest as the
    // final block.
    const uint64_t total = uint64_t{side} * (uint64_t{side} * 3 + 1);
    const std::vector<uint8_t> mebibyte = DeflatedZeros(1 << 20);
    std::vector<uint8_t> data = {0x78, 0xDA};
    for (uint64_t i = 0; i < total >> 20; ++i) data.insert(data.end(), mebibyte.begin(), mebibyte.end());
    const std::vector<uint8_t> rest = DeflatedZeros(static_cast<size_t>(total & ((1 << 20) - 1)), Z_FINISH);
    data.insert(data.end(), rest.begin(), rest.end());
    // The Adler-32 of `total` zeros: a stays 1, b adds it once per byte.
    const uint32_t adler = static_cast<uint32_t>(total % 65521) << 16 | 1;
    data.resize(data.size() + 4);
    PutBigEndian32(&data[data.size() - 4], adler);
    std::vector<uint8_t> file = PngSignatureAndHeader(side);
    AppendChunk(file, "IDAT", data);
    AppendChunk(file, "IEND", {});
    return file;
}

std::vector<uint8_t> NoiseTilePixels() {
    return Noise(256, 256).pixels;
}

std::vector<uint8_t> UniformPngTile(uint8_t colourType, uint8_t depth, const std::vector<uint16_t>& pixel) {
    std::vector<uint8_t> row = {0};  // no filter
    for (int x = 0; x < 256; ++x) {
        for (uint16_t sample : pixel) {
            if (depth == 16) row.push_back(static_cast<uint8_t>(sample >> 8));
            row.push_back(static_cast<uint8_t>(sample));
        }
    }
    std::vector<uint8_t> rows;
    for (int y = 0; y < 256; ++y) rows.insert(rows.end(), row.begin(), row.end());
    std::vector<uint8_t> data(compressBound(static_cast<uLong>(rows.size())));
    uLongf size = static_cast<uLongf>(data.size());
    compress(data.data(), &size, rows.data(), static_cast<uLong>(rows.size()));
    data.resize(size);
    std::vector<uint8_t> file = PngSignatureAndHeader(256, colourType, depth);
    AppendChunk(file, "IDAT", data);
    AppendChunk(file, "IEND", {});
    return file;
}
