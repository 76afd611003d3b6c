#pragma once

#include <cstdint>

#include "host/placement.h"

// How zarvo-render spends --max-memory. The program itself takes a fixed
// part (its libraries, GDAL with its drivers, the plug-in, the HTTP
// client); of the rest an eighth is GDAL's block cache (64 MB at most), an
// eighth keeps decoded tiles for the parts that follow, and the requests in
// flight share what remains, each its decoded tiles and its raster (the
// plug-in's, the copy taken of it and its alpha). Tile files in transfer
// (at most eight per request, each under --max-tile-bytes) come on top.
struct MemoryShares {
    uint64_t gdalCacheBytes = 0;
    uint64_t sharedTileBytes = 0;
    uint64_t requestTileBytes = 0;  // each request's decoded tiles
    SegmentLimits segments;         // each request's tiles and raster size
};

// What the program itself takes, whatever it draws.
constexpr uint64_t kProgramBytes = uint64_t{56} << 20;

// The least budget a render is drawn in.
constexpr uint64_t kLeastMemoryBudget = uint64_t{64} << 20;

// The shares of `budgetBytes`, at least kLeastMemoryBudget, for `requests`
// requests in flight.
MemoryShares ShareMemoryBudget(uint64_t budgetBytes, unsigned requests);
