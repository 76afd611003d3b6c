#include "raster/column_plan.h"

#include <utility>

namespace {

// Tables the plan fills before anything reads them, left unfilled when
// they are made.
template <typename T>
std::unique_ptr<T[]> Unfilled(size_t n) {
    return std::unique_ptr<T[]>(new T[n]);
}

}  // namespace

bool ColumnKey::operator==(const ColumnKey& other) const {
    return transform == other.transform && zoom == other.zoom && west == other.west && stepX == other.stepX &&
           first == other.first && count == other.count && gridWest == other.gridWest &&
           gridColumns == other.gridColumns && tileWidth == other.tileWidth;
}

ColumnKey KeyOfColumns(const CoordTransform& transform, const TileGrid& grid, const SampleRaster& raster,
                       uint32_t first, uint32_t count) {
    return ColumnKey{&transform, raster.zoom, raster.west,  raster.stepX,     first,
                     count,      grid.West(), grid.Columns(), grid.TileWidth()};
}

ColumnPlan::ColumnPlan(const CoordTransform& transform, const TileGrid& grid, const SampleRaster& raster,
                       uint32_t first, uint32_t count)
    : key(KeyOfColumns(transform, grid, raster, first, count)),
      pixel(Unfilled<int32_t>(count)),
      tile(Unfilled<int32_t>(count)),
      offset3(Unfilled<int32_t>(count)),
      offset4(Unfilled<int32_t>(count)),
      wx0(Unfilled<double>(3 * size_t{count})),
      fx(Unfilled<double>(3 * size_t{count})) {
    // x depends on the longitude alone, so one projection per column serves
    // every row.
    const int32_t tileWidth = grid.TileWidth();
    for (uint32_t c = 0; c < count; ++c) {
        const double lon = raster.west + (first + c) * raster.stepX;
        const AxisSample s = grid.LocateColumn(transform.ToWorldX(lon, raster.north, raster.zoom));
        RunKind kind = RunKind::Outside;
        if (s.inside) {
            // The kernel loads 8 bytes from the pixel: for the last two
            // pixels of a row that would leave the row, and for the last
            // row the image.
            kind = s.pixel + 2 < tileWidth ? RunKind::Wide : RunKind::TileEdge;
            pixel[c] = s.pixel;
            tile[c] = s.tile;
            offset3[c] = s.pixel * 3;
            offset4[c] = s.pixel * 4;
            for (size_t ch = 0; ch < 3; ++ch) {
                wx0[3 * c + ch] = 1 - s.frac;
                fx[3 * c + ch] = s.frac;
            }
        }
        const int32_t runTile = kind == RunKind::Wide ? s.tile : -1;
        if (runs.empty() || runs.back().kind != kind || runs.back().tileColumn != runTile) {
            runs.push_back(ColumnRun{kind, runTile, c, size_t{c} + 1});
        } else {
            runs.back().end = size_t{c} + 1;
        }
    }
}

std::shared_ptr<const ColumnPlan> ColumnPlans::Get(const CoordTransform& transform, const TileGrid& grid,
                                                   const SampleRaster& raster, uint32_t first, uint32_t count) {
    const ColumnKey key = KeyOfColumns(transform, grid, raster, first, count);
    {
        const std::lock_guard<std::mutex> lock(mutex);
        for (size_t k = 0; k < kKeptPlans && kept[k]; ++k) {
            if (kept[k]->key == key) {
                std::shared_ptr<const ColumnPlan> found = kept[k];
                for (; k > 0; --k) kept[k] = std::move(kept[k - 1]);
                kept[0] = found;
                return found;
            }
        }
    }
    // Made outside the lock; the oldest plan makes room (freed outside too,
    // unless a raster still reads it).
    auto made = std::make_shared<const ColumnPlan>(transform, grid, raster, first, count);
    std::shared_ptr<const ColumnPlan> evicted;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        evicted = std::move(kept[kKeptPlans - 1]);
        for (size_t k = kKeptPlans - 1; k > 0; --k) kept[k] = std::move(kept[k - 1]);
        kept[0] = made;
    }
    return made;
}
