#include <algorithm>
#include <cstring>
#include <vector>

#include "raster/raster_sampling.h"
#include "raster/separable_kernels.h"

namespace {

// Columns are projected a block at a time, so the tables stay small however
// wide (or empty) the raster is. Rasters up to this width project each
// column exactly once.
constexpr uint32_t kColumnBlock = 4096;

// One source row of the whole tile grid, west to east, 3 bytes per pixel:
// a sample's east neighbour is then always the next 3 bytes, across tile
// borders too, and 4-byte tiles read like 3-byte ones.
void GatherGridRow(const TileGrid& grid, int64_t gridRow, uint8_t* out) {
    const int32_t tileRow = static_cast<int32_t>(gridRow / grid.TileHeight());
    const size_t dy = static_cast<size_t>(gridRow % grid.TileHeight());
    const size_t tileWidth = static_cast<size_t>(grid.TileWidth());
    for (int32_t c = 0; c < grid.Columns(); ++c) {
        const TileImage& image = grid.Image(tileRow, c);
        const size_t depth = static_cast<size_t>(image.bytesPerPixel);
        const uint8_t* src = image.pixels + dy * tileWidth * depth;
        if (depth == 3) {
            std::memcpy(out, src, tileWidth * 3);
        } else {
            for (size_t a = 0; a < tileWidth; ++a) {
                out[3 * a] = src[depth * a];
                out[3 * a + 1] = src[depth * a + 1];
                out[3 * a + 2] = src[depth * a + 2];
            }
        }
        out += tileWidth * 3;
    }
}

// The horizontally interpolated source rows of the current column block.
// Consecutive output rows mostly share a source row, so the two most recent
// are kept and each is interpolated once.
class HorizontalRows {
public:
    HorizontalRows(const TileGrid& grid, const SeparableKernels& kernels, size_t maxColumns)
        : grid(grid),
          kernels(kernels),
          gathered(static_cast<size_t>(grid.Columns()) * static_cast<size_t>(grid.TileWidth()) * 3 + kRowPadding),
          offset(maxColumns),
          wx0(maxColumns),
          fx(maxColumns) {
        for (std::vector<double>& slot : slots) slot.resize(3 * maxColumns + 1);
    }

    // Starts a block of columns; the rows kept for the last block are void.
    void SetColumns(const AxisSample* columns, size_t count) {
        for (size_t c = 0; c < count; ++c) {
            // A column outside the grid reads pixel 0 with zero weights: its
            // bytes come out 0, 0, 0.
            const AxisSample& s = columns[c];
            offset[c] = s.inside ? (s.tile * grid.TileWidth() + s.pixel) * 3 : 0;
            wx0[c] = s.inside ? 1 - s.frac : 0.0;
            fx[c] = s.inside ? s.frac : 0.0;
        }
        columnCount = count;
        slotRow[0] = slotRow[1] = -1;
    }

    // Source row `gridRow` interpolated at every column, without evicting
    // row `keep`.
    const double* Row(int64_t gridRow, int64_t keep) {
        for (int s = 0; s < 2; ++s) {
            if (slotRow[s] == gridRow) return slots[s].data();
        }
        const int s = slotRow[0] == keep ? 1 : 0;
        GatherGridRow(grid, gridRow, gathered.data());
        kernels.horizontal(gathered.data(), offset.data(), wx0.data(), fx.data(), columnCount, slots[s].data());
        slotRow[s] = gridRow;
        return slots[s].data();
    }

private:
    const TileGrid& grid;
    const SeparableKernels& kernels;
    std::vector<uint8_t> gathered;
    std::vector<int32_t> offset;
    std::vector<double> wx0;
    std::vector<double> fx;
    size_t columnCount = 0;
    std::vector<double> slots[2];
    int64_t slotRow[2] = {-1, -1};
};

}  // namespace

void SampleSeparable(const CoordTransform& transform, const TileGrid& grid, const SampleRaster& raster,
                     uint8_t* out) {
    SampleSeparableWith(transform, grid, raster, SelectKernels(), out);
}

void SampleSeparableWith(const CoordTransform& transform, const TileGrid& grid, const SampleRaster& raster,
                         const SeparableKernels& kernels, uint8_t* out) {
    if (raster.width == 0 || raster.height == 0) {
        return;
    }
    // x depends on the longitude alone and y on the latitude alone, so one
    // projection per column and one per row give every sample's world pixel.
    const uint32_t block = std::min(raster.width, kColumnBlock);
    std::vector<AxisSample> columns(block);
    HorizontalRows rows(grid, kernels, block);
    const size_t rowBytes = size_t{raster.width} * 3;
    for (uint32_t first = 0; first < raster.width; first += kColumnBlock) {
        const uint32_t count = std::min(kColumnBlock, raster.width - first);
        for (uint32_t c = 0; c < count; ++c) {
            const double lon = raster.west + (first + c) * raster.stepX;
            columns[c] = grid.LocateColumn(transform.ToWorldPixel(lon, raster.north, raster.zoom).x);
        }
        rows.SetColumns(columns.data(), count);
        for (uint32_t i = 0; i < raster.height; ++i) {
            const double lat = raster.north + i * raster.stepY;
            const AxisSample row = grid.LocateRow(transform.ToWorldPixel(raster.west, lat, raster.zoom).y);
            uint8_t* pixels = out + i * rowBytes + size_t{first} * 3;
            if (!row.inside) {
                std::memset(pixels, 0, size_t{count} * 3);
                continue;
            }
            const int64_t top = int64_t{row.tile} * grid.TileHeight() + row.pixel;
            const double* north = rows.Row(top, top + 1);
            const double* south = rows.Row(top + 1, top);
            kernels.vertical(north, south, 1 - row.frac, row.frac, size_t{count} * 3, pixels);
        }
    }
}
