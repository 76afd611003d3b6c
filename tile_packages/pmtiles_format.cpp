#include "tile_packages/pmtiles_format.h"

#include <cstring>
#include <utility>

namespace tile_packages {
namespace {

// Tiles on all levels above `level`: (4^level - 1) / 3.
uint64_t TilesAbove(int level) { return ((uint64_t{1} << (2 * level)) - 1) / 3; }

void PutVarint(std::vector<uint8_t>& out, uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<uint8_t>(value));
}

bool GetVarint(const std::vector<uint8_t>& in, size_t& at, uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (at >= in.size()) return false;
        const uint8_t byte = in[at++];
        value |= uint64_t{byte & 0x7fu} << shift;
        if (!(byte & 0x80)) return shift < 63 || byte <= 1;
    }
    return false;
}

void Put64(uint8_t* out, uint64_t value) {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}
void Put32(uint8_t* out, int32_t value) {
    const auto bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(bits >> (8 * i));
}
uint64_t Get64(const uint8_t* in) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | in[i];
    return value;
}
int32_t Get32(const uint8_t* in) {
    uint32_t bits = 0;
    for (int i = 3; i >= 0; --i) bits = bits << 8 | in[i];
    return static_cast<int32_t>(bits);
}

}  // namespace

uint64_t PmtilesTileId(int level, uint32_t column, uint32_t row) {
    // The Hilbert curve's index of (column, row) in a 2^level square,
    // quadrant by quadrant from the largest, each quadrant's frame turned
    // so that the curve runs on through it.
    uint64_t x = column, y = row, d = 0;
    for (uint64_t s = (uint64_t{1} << level) >> 1; s > 0; s >>= 1) {
        const uint64_t rx = (x & s) ? 1 : 0;
        const uint64_t ry = (y & s) ? 1 : 0;
        d += s * s * ((3 * rx) ^ ry);
        if (ry == 0) {
            if (rx == 1) {
                x = s - 1 - (x & (s - 1));
                y = s - 1 - (y & (s - 1));
            }
            std::swap(x, y);
        }
        x &= s - 1;
        y &= s - 1;
    }
    return TilesAbove(level) + d;
}

bool PmtilesTileFromId(uint64_t id, PyramidTile& tile) {
    int level = 0;
    while (level <= kMaxLevel && id >= TilesAbove(level + 1)) ++level;
    if (level > kMaxLevel) return false;
    // The walk above backwards: from the smallest quadrant out.
    const uint64_t n = uint64_t{1} << level;
    uint64_t t = id - TilesAbove(level), x = 0, y = 0;
    for (uint64_t s = 1; s < n; s <<= 1) {
        const uint64_t rx = 1 & (t / 2);
        const uint64_t ry = 1 & (t ^ rx);
        if (ry == 0) {
            if (rx == 1) {
                x = s - 1 - x;
                y = s - 1 - y;
            }
            std::swap(x, y);
        }
        x += s * rx;
        y += s * ry;
        t /= 4;
    }
    tile.level = level;
    tile.column = static_cast<uint32_t>(x);
    tile.row = static_cast<uint32_t>(y);
    return true;
}

std::vector<uint8_t> EncodeDirectory(const std::vector<PmtilesEntry>& entries) {
    std::vector<uint8_t> out;
    out.reserve(entries.size() * 6 + 8);
    PutVarint(out, entries.size());
    uint64_t lastId = 0;
    for (const PmtilesEntry& e : entries) {
        PutVarint(out, e.tileId - lastId);
        lastId = e.tileId;
    }
    for (const PmtilesEntry& e : entries) PutVarint(out, e.runLength);
    for (const PmtilesEntry& e : entries) PutVarint(out, e.length);
    // An offset that follows on from the entry before is written as 0;
    // others as offset + 1.
    for (size_t i = 0; i < entries.size(); ++i) {
        const bool follows = i > 0 && entries[i].offset == entries[i - 1].offset + entries[i - 1].length;
        PutVarint(out, follows ? 0 : entries[i].offset + 1);
    }
    return out;
}

bool DecodeDirectory(const std::vector<uint8_t>& bytes, std::vector<PmtilesEntry>& entries, std::string& error) {
    size_t at = 0;
    uint64_t count = 0;
    // Each entry takes at least four bytes, which bounds the count before
    // anything is allocated for it.
    if (!GetVarint(bytes, at, count) || count > (bytes.size() - at) / 4) {
        error = "a directory's entry count does not fit its bytes";
        return false;
    }
    entries.assign(count, PmtilesEntry{});
    uint64_t id = 0;
    auto fail = [&error](const char* what) {
        error = std::string("a directory's ") + what + " are damaged";
        return false;
    };
    for (PmtilesEntry& e : entries) {
        uint64_t delta;
        if (!GetVarint(bytes, at, delta) || id + delta < id) return fail("tile ids");
        id += delta;
        e.tileId = id;
    }
    for (PmtilesEntry& e : entries) {
        uint64_t run;
        if (!GetVarint(bytes, at, run) || run > UINT32_MAX) return fail("run lengths");
        e.runLength = static_cast<uint32_t>(run);
    }
    for (PmtilesEntry& e : entries) {
        uint64_t length;
        if (!GetVarint(bytes, at, length) || length > UINT32_MAX) return fail("lengths");
        e.length = static_cast<uint32_t>(length);
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        uint64_t offset;
        if (!GetVarint(bytes, at, offset)) return fail("offsets");
        if (offset == 0) {
            if (i == 0) return fail("offsets");
            entries[i].offset = entries[i - 1].offset + entries[i - 1].length;
        } else {
            entries[i].offset = offset - 1;
        }
    }
    if (at != bytes.size()) return fail("ends");
    return true;
}

void EncodeHeader(const PmtilesHeader& h, uint8_t out[kPmtilesHeaderBytes]) {
    std::memset(out, 0, kPmtilesHeaderBytes);
    std::memcpy(out, "PMTiles", 7);
    out[7] = 3;
    const uint64_t fields[] = {h.rootOffset,     h.rootLength,     h.metadataOffset, h.metadataLength,
                               h.leavesOffset,   h.leavesLength,   h.tileDataOffset, h.tileDataLength,
                               h.addressedTiles, h.tileEntries,    h.tileContents};
    for (size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i) Put64(out + 8 + 8 * i, fields[i]);
    out[96] = h.clustered ? 1 : 0;
    out[97] = static_cast<uint8_t>(h.internalCompression);
    out[98] = static_cast<uint8_t>(h.tileCompression);
    out[99] = h.tileType;
    out[100] = h.minZoom;
    out[101] = h.maxZoom;
    Put32(out + 102, h.minLonE7);
    Put32(out + 106, h.minLatE7);
    Put32(out + 110, h.maxLonE7);
    Put32(out + 114, h.maxLatE7);
    out[118] = h.centerZoom;
    Put32(out + 119, h.centerLonE7);
    Put32(out + 123, h.centerLatE7);
}

bool DecodeHeader(const uint8_t in[kPmtilesHeaderBytes], PmtilesHeader& h, std::string& error) {
    if (std::memcmp(in, "PMTiles", 7) != 0 || in[7] != 3) {
        error = "it is no PMTiles version 3 archive";
        return false;
    }
    uint64_t* fields[] = {&h.rootOffset,     &h.rootLength,   &h.metadataOffset, &h.metadataLength,
                          &h.leavesOffset,   &h.leavesLength, &h.tileDataOffset, &h.tileDataLength,
                          &h.addressedTiles, &h.tileEntries,  &h.tileContents};
    for (size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i) *fields[i] = Get64(in + 8 + 8 * i);
    h.clustered = in[96] == 1;
    h.internalCompression = static_cast<PmtilesCompression>(in[97]);
    h.tileCompression = static_cast<PmtilesCompression>(in[98]);
    h.tileType = in[99];
    h.minZoom = in[100];
    h.maxZoom = in[101];
    h.minLonE7 = Get32(in + 102);
    h.minLatE7 = Get32(in + 106);
    h.maxLonE7 = Get32(in + 110);
    h.maxLatE7 = Get32(in + 114);
    h.centerZoom = in[118];
    h.centerLonE7 = Get32(in + 119);
    h.centerLatE7 = Get32(in + 123);
    return true;
}

uint8_t PmtilesTileType(TileFormat format) {
    switch (format) {
        case TileFormat::Png: return 2;
        case TileFormat::Jpeg: return 3;
        case TileFormat::Webp: return 4;
    }
    return 0;
}

}  // namespace tile_packages
