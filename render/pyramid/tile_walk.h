#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "render/pyramid/pyramid_plan.h"
#include "tile_packages/pyramid.h"

// Which tiles of a pyramid one part holds (--chunk K/N) and the order they
// are drawn in.
//
// Parts: each pass is cut across its longer side, at its deepest level,
// into N bands of nearly equal tiles; a coarser level's tile goes with the
// band of its children (the cuts fall between whole tiles of the pass's
// coarsest level). Neighbouring parts share only the source tiles along
// their common edge, and the parts depend on nothing but the pyramid and N,
// so that any machine draws the same part for K/N.
//
// Order: pass by pass, coarsest first; within a part's band, strips of
// columns west to east, each drawn row by row from the north, a coarser
// level's row right after the last row of its children in the strip.
// While a strip goes south, only its last rows of source tiles are needed
// again, so a tile cache that holds those rows fetches and decodes each
// source tile once, but for the columns along the strips' edges.
class TileWalk {
public:
    // Strip widths in columns of each pass's deepest level, one per pass
    // (StripColumns); `part` of `parts`, 1 <= part <= parts.
    TileWalk(const PyramidPlan& plan, uint32_t part, uint32_t parts, std::vector<uint32_t> stripColumns);

    // The next tile; false when the part is done.
    bool Next(tile_packages::PyramidTile& tile);

    // The tiles of the part.
    uint64_t Count() const { return count; }

private:
    struct Region {
        uint32_t column0 = 0, column1 = 0, row0 = 0, row1 = 0;  // of the pass's deepest level
    };
    // Tiles of one level in one row: columns [column0, column1).
    struct Run {
        int32_t level;
        uint32_t row, column0, column1;
    };

    Region PartOf(const PyramidPass& pass) const;
    bool EnterPass();
    // The runs of the current strip's current row; false past the region.
    bool FillRuns();

    const PyramidPlan& plan;
    const uint32_t part, parts;
    const std::vector<uint32_t> stripColumns;
    uint64_t count = 0;

    size_t pass = 0;
    bool entered = false;
    Region region;
    uint32_t stripStart = 0, stripEnd = 0, row = 0;
    std::vector<Run> runs;
    size_t run = 0;
    uint32_t column = 0;
};

// A strip width for each pass of `plan` such that a strip's last rows of
// source tiles, for every level of the pass, take at most `cacheTiles`
// decoded tiles.
std::vector<uint32_t> StripColumns(const PyramidPlan& plan, size_t cacheTiles);
