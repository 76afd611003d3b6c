#include <algorithm>
#include <vector>

#include "raster/raster_sampling.h"

namespace {

// Columns are projected a block at a time, so the table stays small however
// wide (or empty) the raster is. A block is reused by every row; rasters up
// to this width project each column exactly once.
constexpr uint32_t kColumnBlock = 4096;

}  // namespace

void SampleSeparable(const CoordTransform& transform, const TileGrid& grid, const SampleRaster& raster,
                     uint8_t* out) {
    if (raster.width == 0 || raster.height == 0) {
        return;
    }
    // x depends on the longitude alone and y on the latitude alone, so one
    // projection per column and one per row give every sample's world pixel.
    std::vector<AxisSample> columns(std::min(raster.width, kColumnBlock));
    const size_t rowBytes = size_t{raster.width} * 3;
    for (uint32_t first = 0; first < raster.width; first += kColumnBlock) {
        const uint32_t count = std::min(kColumnBlock, raster.width - first);
        for (uint32_t c = 0; c < count; ++c) {
            const double lon = raster.west + (first + c) * raster.stepX;
            columns[c] = grid.LocateColumn(transform.ToWorldPixel(lon, raster.north, raster.zoom).x);
        }
        for (uint32_t i = 0; i < raster.height; ++i) {
            const double lat = raster.north + i * raster.stepY;
            const AxisSample row = grid.LocateRow(transform.ToWorldPixel(raster.west, lat, raster.zoom).y);
            uint8_t* pixel = out + i * rowBytes + size_t{first} * 3;
            for (uint32_t c = 0; c < count; ++c) {
                SampleGrid(grid, columns[c], row, pixel);
                pixel += 3;
            }
        }
    }
}
