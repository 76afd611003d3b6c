#include "host/png_image_data.h"

#include <cstring>
#include <limits>

#include <zlib.h>

namespace {

constexpr size_t kSignatureBytes = 8;
// Length, type and CRC around every chunk's data.
constexpr size_t kChunkFrameBytes = 12;
// The largest chunk written into the copy; far below the format's 2^31 - 1.
constexpr size_t kMaxCopyChunk = size_t{1} << 30;

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void PutBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

void AppendChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size) {
    PutBigEndian32(out, static_cast<uint32_t>(size));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    uLong crc = crc32(0, out.data() + start, 4);
    crc = crc32_z(crc, data, size);
    PutBigEndian32(out, static_cast<uint32_t>(crc));
}

// A chunk of the file: where its data starts and how long it is.
struct Chunk {
    size_t data;
    size_t size;
    char type[5];
};

bool ChunkAt(const std::vector<uint8_t>& png, size_t at, Chunk& chunk) {
    if (png.size() - at < kChunkFrameBytes) {
        return false;
    }
    chunk.size = BigEndian32(&png[at]);
    std::memcpy(chunk.type, &png[at + 4], 4);
    chunk.type[4] = '\0';
    chunk.data = at + 8;
    return chunk.size <= png.size() - at - kChunkFrameBytes;
}

bool IsIdat(const Chunk& chunk) {
    return std::memcmp(chunk.type, "IDAT", 4) == 0;
}

bool CrcHolds(const std::vector<uint8_t>& png, const Chunk& chunk) {
    const uLong crc = crc32_z(crc32(0, &png[chunk.data - 4], 4), &png[chunk.data], chunk.size);
    return crc == BigEndian32(&png[chunk.data + chunk.size]);
}

// Bytes per row of `width` pixels, filter byte included, or 0 for no row.
uint64_t RowBytes(uint64_t width, unsigned bitsPerPixel) {
    return width == 0 ? 0 : 1 + (width * bitsPerPixel + 7) / 8;
}

// The inflated size of the image data the header describes: every row of
// every pass with its filter byte. Zero for a colour type or depth that no
// decoder takes.
uint64_t RowsBytes(const uint8_t* header) {
    const uint64_t width = BigEndian32(header);
    const uint64_t height = BigEndian32(header + 4);
    const unsigned depth = header[8];
    unsigned channels = 0;
    switch (header[9]) {
        case 0: channels = 1; break;
        case 2: channels = 3; break;
        case 3: channels = 1; break;
        case 4: channels = 2; break;
        case 6: channels = 4; break;
        default: return 0;
    }
    const unsigned bits = channels * depth;
    if (header[12] == 0) {
        return height * RowBytes(width, bits);
    }
    // The seven passes of the interlaced layout: first column and row, steps.
    static const unsigned kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                           {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    uint64_t total = 0;
    for (const auto& pass : kPasses) {
        const uint64_t columns = width > pass[0] ? (width - pass[0] + pass[2] - 1) / pass[2] : 0;
        const uint64_t rows = height > pass[1] ? (height - pass[1] + pass[3] - 1) / pass[3] : 0;
        if (columns > 0) {
            total += rows * RowBytes(columns, bits);
        }
    }
    return total;
}

// Inflates the image data from the first IDAT chunk at `at` into `rows`,
// stopping when `rows` is full.
bool InflateRows(const std::vector<uint8_t>& png, size_t at, std::vector<uint8_t>& rows, std::string& error) {
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    if (inflateInit(&stream) != Z_OK) {
        error = "out of memory for inflating";
        return false;
    }
    struct End {
        z_stream* stream;
        ~End() { inflateEnd(stream); }
    } end{&stream};
    size_t written = 0;
    Chunk chunk{};
    while (written < rows.size()) {
        if (!ChunkAt(png, at, chunk) || !IsIdat(chunk)) {
            error = "image data ends before the last row";
            return false;
        }
        if (!CrcHolds(png, chunk)) {
            error = "IDAT CRC error";
            return false;
        }
        at = chunk.data + chunk.size + 4;
        stream.next_in = const_cast<Bytef*>(&png[chunk.data]);
        size_t left = chunk.size;
        while (written < rows.size() && (left > 0 || stream.avail_in > 0)) {
            const uInt in = static_cast<uInt>(std::min<size_t>(left, std::numeric_limits<uInt>::max()));
            stream.avail_in += in;
            left -= in;
            stream.next_out = rows.data() + written;
            stream.avail_out = static_cast<uInt>(std::min<size_t>(rows.size() - written, std::numeric_limits<uInt>::max()));
            const uInt before = stream.avail_out;
            const int result = inflate(&stream, Z_NO_FLUSH);
            written += before - stream.avail_out;
            if (result == Z_STREAM_END && written < rows.size()) {
                error = "image data ends before the last row";
                return false;
            }
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
                error = std::string("corrupt image data: ") + (stream.msg ? stream.msg : "inflate failed");
                return false;
            }
            if (result == Z_BUF_ERROR && left == 0) {
                break;
            }
        }
    }
    return true;
}

}  // namespace

bool CopyUpToLastRow(const std::vector<uint8_t>& png, std::vector<uint8_t>& copy, std::string& error) {
    Chunk header{};
    if (png.size() < kSignatureBytes || !ChunkAt(png, kSignatureBytes, header) || header.size != 13) {
        error = "no image header";
        return false;
    }
    const uint64_t rowsBytes = RowsBytes(&png[header.data]);
    if (rowsBytes == 0 || rowsBytes > std::numeric_limits<size_t>::max() / 2) {
        error = "an image header no decoder takes";
        return false;
    }
    // Everything up to the first IDAT is copied as it is: the header, palette,
    // transparency and colour chunks that shape the pixels.
    size_t at = kSignatureBytes;
    Chunk chunk{};
    while (true) {
        if (!ChunkAt(png, at, chunk)) {
            error = "no image data";
            return false;
        }
        if (IsIdat(chunk)) {
            break;
        }
        at = chunk.data + chunk.size + 4;
    }
    std::vector<uint8_t> rows(static_cast<size_t>(rowsBytes));
    if (!InflateRows(png, at, rows, error)) {
        return false;
    }
    std::vector<uint8_t> stored(compressBound(static_cast<uLong>(rows.size())));
    uLongf storedSize = static_cast<uLongf>(stored.size());
    if (compress2(stored.data(), &storedSize, rows.data(), static_cast<uLong>(rows.size()), Z_NO_COMPRESSION) != Z_OK) {
        error = "out of memory for the image data";
        return false;
    }
    copy.clear();
    copy.reserve(at + storedSize + (storedSize / kMaxCopyChunk + 2) * kChunkFrameBytes);
    copy.assign(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(at));
    for (size_t offset = 0; offset < storedSize; offset += kMaxCopyChunk) {
        AppendChunk(copy, "IDAT", stored.data() + offset, std::min<size_t>(kMaxCopyChunk, storedSize - offset));
    }
    AppendChunk(copy, "IEND", nullptr, 0);
    return true;
}
