#include "render/memory_budget.h"

#include <algorithm>
#include <cmath>

#include "host/tile_intake.h"

namespace {

// A raster pixel of a request: the plug-in's three bytes, the three of the
// copy the host takes, one of alpha as it is written, one to spare.
constexpr uint64_t kRasterBytesPerPixel = 8;
constexpr uint64_t kMaxGdalCacheBytes = uint64_t{64} << 20;
// The planner's bounds on one request: at least four tiles, and a side of
// at least this many pixels.
constexpr size_t kLeastTiles = 4;
constexpr uint32_t kLeastSide = 64;

}  // namespace

MemoryShares ShareMemoryBudget(uint64_t budgetBytes, unsigned requests) {
    MemoryShares shares;
    const uint64_t left = std::max(budgetBytes, kLeastMemoryBudget) - kProgramBytes;
    shares.gdalCacheBytes = std::min(kMaxGdalCacheBytes, left / 8);
    shares.sharedTileBytes = left / 8;
    const uint64_t request = (left - shares.gdalCacheBytes - shares.sharedTileBytes) / std::max(1u, requests);
    // Half of a request's share for its raster, up to the largest request
    // the planner makes; the rest for its tiles.
    const SegmentLimits largest;
    const uint64_t largestRaster = uint64_t{largest.maxColumns} * largest.maxRows * kRasterBytesPerPixel;
    const uint64_t raster = std::min(request / 2, largestRaster);
    const auto side = static_cast<uint32_t>(std::sqrt(static_cast<double>(raster / kRasterBytesPerPixel)));
    shares.segments.maxColumns = shares.segments.maxRows = std::clamp(side, kLeastSide, largest.maxColumns);
    shares.requestTileBytes = request - raster;
    shares.segments.maxTiles = static_cast<size_t>(
        std::clamp<uint64_t>(shares.requestTileBytes / kDecodedTileBytes, kLeastTiles, largest.maxTiles));
    return shares;
}
