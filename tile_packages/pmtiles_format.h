#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tile_packages/pyramid.h"

// The parts of a PMTiles version 3 archive: tile ids along the Hilbert
// curve, directories of varint-encoded entries, the 127-byte header.
namespace tile_packages {

constexpr size_t kPmtilesHeaderBytes = 127;
// A reader's first request covers this much: the header and the root
// directory must fit in it.
constexpr size_t kPmtilesFirstRead = 16384;

// The tile id of a level, column, row (from the north) of the 1x1 level-0
// Web Mercator matrix, and back; false for an id beyond level kMaxLevel.
uint64_t PmtilesTileId(int level, uint32_t column, uint32_t row);
bool PmtilesTileFromId(uint64_t id, PyramidTile& tile);

// One directory entry: `runLength` consecutive tile ids sharing one
// content, or (runLength 0) a leaf directory.
struct PmtilesEntry {
    uint64_t tileId = 0;
    uint64_t offset = 0;  // in the tile data, or in the leaf directories
    uint32_t length = 0;
    uint32_t runLength = 0;
};

// Entries ascending by tile id, as the archive stores them (before
// compression), and back; decoding checks every count and length against
// the bytes it has.
std::vector<uint8_t> EncodeDirectory(const std::vector<PmtilesEntry>& entries);
bool DecodeDirectory(const std::vector<uint8_t>& bytes, std::vector<PmtilesEntry>& entries, std::string& error);

enum class PmtilesCompression : uint8_t { Unknown = 0, None = 1, Gzip = 2 };

struct PmtilesHeader {
    uint64_t rootOffset = 0, rootLength = 0;
    uint64_t metadataOffset = 0, metadataLength = 0;
    uint64_t leavesOffset = 0, leavesLength = 0;
    uint64_t tileDataOffset = 0, tileDataLength = 0;
    uint64_t addressedTiles = 0, tileEntries = 0, tileContents = 0;
    bool clustered = false;
    PmtilesCompression internalCompression = PmtilesCompression::Gzip;
    PmtilesCompression tileCompression = PmtilesCompression::None;
    uint8_t tileType = 0;  // 2 png, 3 jpeg, 4 webp
    uint8_t minZoom = 0, maxZoom = 0;
    int32_t minLonE7 = 0, minLatE7 = 0, maxLonE7 = 0, maxLatE7 = 0;
    uint8_t centerZoom = 0;
    int32_t centerLonE7 = 0, centerLatE7 = 0;
};

void EncodeHeader(const PmtilesHeader& header, uint8_t out[kPmtilesHeaderBytes]);
// False, with the reason, for bytes that are no version-3 header.
bool DecodeHeader(const uint8_t bytes[kPmtilesHeaderBytes], PmtilesHeader& header, std::string& error);

// The tile type of a format.
uint8_t PmtilesTileType(TileFormat format);

}  // namespace tile_packages
