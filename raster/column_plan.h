#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "projection/coord_transform.h"
#include "raster/raster_sampling.h"
#include "raster/tile_grid.h"

// How a run of a raster's columns reads a source row: not at all (outside
// the grid: black), with the kernel's four-byte loads straight from one
// tile, or one by one where a load could leave the tile's row or its buffer.
enum class RunKind { Outside, Wide, TileEdge };

struct ColumnRun {
    RunKind kind;
    int32_t tileColumn;
    size_t first;
    size_t end;
};

// What decides a block of columns: the columns' longitudes, the zoom and
// the grid's columns. Rasters that agree on these read the tiles at the
// same places, whatever their rows.
struct ColumnKey {
    const CoordTransform* transform;
    int32_t zoom;
    double west;
    double stepX;
    uint32_t first;
    uint32_t count;
    int64_t gridWest;
    int32_t gridColumns;
    int32_t tileWidth;

    bool operator==(const ColumnKey& other) const;
};

// Where each column of a block samples the grid, worked out once: the
// projection and location of every column, its weights as the kernels read
// them, and the runs of columns that read one tile alike. Unchanged after
// it is made, so rasters on any thread may share it.
class ColumnPlan {
public:
    ColumnPlan(const CoordTransform& transform, const TileGrid& grid, const SampleRaster& raster, uint32_t first,
               uint32_t count);

    const ColumnKey key;
    std::unique_ptr<int32_t[]> pixel;    // pixel within its tile
    std::unique_ptr<int32_t[]> tile;     // grid column of its tile
    std::unique_ptr<int32_t[]> offset3;  // byte offset in a 3-byte row
    std::unique_ptr<int32_t[]> offset4;  // byte offset in a 4-byte row
    std::unique_ptr<double[]> wx0;       // west weight, once per channel
    std::unique_ptr<double[]> fx;        // east weight, once per channel
    std::vector<ColumnRun> runs;         // west to east
};

ColumnKey KeyOfColumns(const CoordTransform& transform, const TileGrid& grid, const SampleRaster& raster,
                       uint32_t first, uint32_t count);

// A layer's most recent column plans, for the rasters that follow with the
// same columns (a tall image drawn as bands of rows asks for the same
// columns again and again). Holds at most kKeptPlans; safe from any thread.
class ColumnPlans {
public:
    static constexpr size_t kKeptPlans = 4;

    // The plan for these columns: a kept one, or a new one, kept.
    std::shared_ptr<const ColumnPlan> Get(const CoordTransform& transform, const TileGrid& grid,
                                          const SampleRaster& raster, uint32_t first, uint32_t count);

private:
    std::mutex mutex;
    std::shared_ptr<const ColumnPlan> kept[kKeptPlans];  // newest first
};
