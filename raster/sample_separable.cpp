#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "raster/column_plan.h"
#include "raster/raster_sampling.h"
#include "raster/separable_kernels.h"

namespace {

// Columns are handled a block at a time, so the tables stay small however
// wide the raster is. Rasters up to this width are written row after row,
// which is faster than keeping narrower blocks in the first-level cache.
constexpr uint32_t kColumnBlock = 4096;

// Rows are located a chunk at a time, once for all column blocks, and the
// table stays small however tall the raster is.
constexpr uint32_t kRowChunk = 4096;

// Where one raster row samples the grid: the source row of its north
// neighbours (-1 outside the grid) and its distance past it.
struct RowSample {
    int64_t top;
    double frac;
};

// Tables the sampler fills before it reads them, left unfilled when they
// are made: a raster of a few rows would otherwise spend more time clearing
// them than sampling.
template <typename T>
std::unique_ptr<T[]> Unfilled(size_t n) {
    return std::unique_ptr<T[]>(new T[n]);
}

// A row of doubles that starts on a cache line, so that the kernels' wide
// loads and stores do not straddle lines.
class AlignedRow {
public:
    void Resize(size_t n) {
        storage = Unfilled<double>(n + kLineDoubles);
        const auto address = reinterpret_cast<uintptr_t>(storage.get());
        const size_t skip = (kLineBytes - address % kLineBytes) % kLineBytes / sizeof(double);
        start = storage.get() + skip;
    }
    double* Data() { return start; }

private:
    static constexpr size_t kLineBytes = 64;
    static constexpr size_t kLineDoubles = kLineBytes / sizeof(double);
    std::unique_ptr<double[]> storage;
    double* start = nullptr;
};

// The horizontally interpolated source rows of the current column block.
// Consecutive raster rows mostly share a source row, so the two most recent
// are kept and each is interpolated once. Tile pixels are read where the
// host's images hold them, 3 or 4 bytes each.
class HorizontalRows {
public:
    HorizontalRows(const TileGrid& grid, const SeparableKernels& kernels, size_t maxColumns)
        : grid(grid), kernels(kernels) {
        for (AlignedRow& slot : slots) slot.Resize(3 * maxColumns + 1);
    }

    // Starts a block of columns; the rows kept for the last block are void.
    // The plan must outlive its use here.
    void SetColumns(const ColumnPlan& columns) {
        plan = &columns;
        slotRow[0] = slotRow[1] = -1;
    }

    // Source row `gridRow` interpolated at every column, without evicting
    // row `keep`.
    const double* Row(int64_t gridRow, int64_t keep) {
        for (int s = 0; s < 2; ++s) {
            if (slotRow[s] == gridRow) return slots[s].Data();
        }
        const int s = slotRow[0] == keep ? 1 : 0;
        Interpolate(gridRow, slots[s].Data());
        slotRow[s] = gridRow;
        return slots[s].Data();
    }

    // Asks the processor to start loading the tile bytes that interpolating
    // source row `gridRow` will read, while the current rows are blended:
    // the tiles come from memory, one short stretch of each tile at a time.
    void Prefetch(int64_t gridRow) const {
        if (gridRow == slotRow[0] || gridRow == slotRow[1]) return;
        const auto tileRow = static_cast<int32_t>(gridRow / grid.TileHeight());
        const auto dy = static_cast<int32_t>(gridRow % grid.TileHeight());
        for (const ColumnRun& run : plan->runs) {
            if (run.kind != RunKind::Wide) continue;
            const int32_t depth = grid.Image(tileRow, run.tileColumn).bytesPerPixel;
            const int32_t west = std::min(plan->pixel[run.first], plan->pixel[run.end - 1]);
            const int32_t east = std::max(plan->pixel[run.first], plan->pixel[run.end - 1]);
            const uint8_t* row = grid.Pixel(tileRow, run.tileColumn, 0, dy);
            for (int32_t byte = west * depth; byte < (east + 1) * depth + 4; byte += 64) {
                __builtin_prefetch(row + byte);
            }
        }
    }

private:
    // Runs go west to east, so the spare double a wide run writes past its
    // last column is overwritten by the run after it.
    void Interpolate(int64_t gridRow, double* out) const {
        const auto tileRow = static_cast<int32_t>(gridRow / grid.TileHeight());
        const auto dy = static_cast<int32_t>(gridRow % grid.TileHeight());
        for (const ColumnRun& run : plan->runs) {
            switch (run.kind) {
                case RunKind::Outside:
                    // Zero weights on zero bytes: what the blend gives there.
                    std::fill(out + 3 * run.first, out + 3 * run.end, 0.0);
                    break;
                case RunKind::Wide: {
                    const TileImage& image = grid.Image(tileRow, run.tileColumn);
                    const size_t depth = static_cast<size_t>(image.bytesPerPixel);
                    const int32_t* offset = depth == 3 ? plan->offset3.get() : plan->offset4.get();
                    kernels.horizontal(grid.Pixel(tileRow, run.tileColumn, 0, dy), offset + run.first, depth,
                                       plan->wx0.get() + 3 * run.first, plan->fx.get() + 3 * run.first, run.end - run.first,
                                       out + 3 * run.first);
                    break;
                }
                case RunKind::TileEdge:
                    for (size_t c = run.first; c < run.end; ++c) InterpolateEdge(tileRow, dy, c, out + 3 * c);
                    break;
            }
        }
    }

    // The same operations as the kernels, on a column whose east neighbour
    // may lie in the next tile.
    void InterpolateEdge(int32_t tileRow, int32_t dy, size_t c, double* out) const {
        const ColumnPlan& columns = *plan;
        const uint8_t* p = grid.Pixel(tileRow, columns.tile[c], columns.pixel[c], dy);
        const uint8_t* q = columns.pixel[c] + 1 < grid.TileWidth()
                               ? p + grid.Image(tileRow, columns.tile[c]).bytesPerPixel
                               : grid.Pixel(tileRow, columns.tile[c] + 1, 0, dy);
        for (int ch = 0; ch < 3; ++ch) {
            out[ch] = p[ch] * columns.wx0[3 * c + ch] + q[ch] * columns.fx[3 * c + ch];
        }
    }

    const TileGrid& grid;
    const SeparableKernels& kernels;
    const ColumnPlan* plan = nullptr;
    AlignedRow slots[2];
    int64_t slotRow[2] = {-1, -1};
};

}  // namespace

void SampleSeparable(const CoordTransform& transform, const TileGrid& grid, const SampleRaster& raster, uint8_t* out,
                     ColumnPlans* plans) {
    SampleSeparableWith(transform, grid, raster, SelectKernels(), out, plans);
}

void SampleSeparableWith(const CoordTransform& transform, const TileGrid& grid, const SampleRaster& raster,
                         const SeparableKernels& kernels, uint8_t* out, ColumnPlans* plans) {
    if (raster.width == 0 || raster.height == 0) {
        return;
    }
    // x depends on the longitude alone and y on the latitude alone, so one
    // projection per column and one per row give every sample's world pixel.
    const uint32_t block = std::min(raster.width, kColumnBlock);
    const uint32_t chunk = std::min(raster.height, kRowChunk);
    const std::unique_ptr<RowSample[]> rowSamples = Unfilled<RowSample>(chunk);
    HorizontalRows rows(grid, kernels, block);
    const size_t rowBytes = size_t{raster.width} * 3;
    for (uint32_t firstRow = 0; firstRow < raster.height; firstRow += kRowChunk) {
        const uint32_t rowCount = std::min(kRowChunk, raster.height - firstRow);
        for (uint32_t r = 0; r < rowCount; ++r) {
            const double lat = raster.north + (firstRow + r) * raster.stepY;
            const AxisSample s = grid.LocateRow(transform.ToWorldY(raster.west, lat, raster.zoom));
            rowSamples[r] = s.inside ? RowSample{int64_t{s.tile} * grid.TileHeight() + s.pixel, s.frac}
                                     : RowSample{-1, 0.0};
        }
        for (uint32_t first = 0; first < raster.width; first += kColumnBlock) {
            const uint32_t count = std::min(kColumnBlock, raster.width - first);
            const std::shared_ptr<const ColumnPlan> columns =
                plans != nullptr ? plans->Get(transform, grid, raster, first, count)
                                 : std::make_shared<const ColumnPlan>(transform, grid, raster, first, count);
            rows.SetColumns(*columns);
            for (uint32_t r = 0; r < rowCount; ++r) {
                const RowSample& row = rowSamples[r];
                uint8_t* pixels = out + (firstRow + r) * rowBytes + size_t{first} * 3;
                if (row.top < 0) {
                    std::memset(pixels, 0, size_t{count} * 3);
                    continue;
                }
                if (r + 1 < rowCount && rowSamples[r + 1].top != row.top && rowSamples[r + 1].top >= 0) {
                    rows.Prefetch(rowSamples[r + 1].top + 1);
                    if (rowSamples[r + 1].top != row.top + 1) rows.Prefetch(rowSamples[r + 1].top);
                }
                const double* north = rows.Row(row.top, row.top + 1);
                const double* south = rows.Row(row.top + 1, row.top);
                kernels.vertical(north, south, 1 - row.frac, row.frac, size_t{count} * 3, pixels);
            }
        }
    }
}
