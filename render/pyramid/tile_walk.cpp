#include "render/pyramid/tile_walk.h"

#include <algorithm>
#include <cmath>

#include "projection/mercator.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

uint32_t FloorDiv(uint32_t value, uint32_t by) { return value / by; }
uint32_t CeilDiv(uint32_t value, uint32_t by) { return static_cast<uint32_t>((uint64_t{value} + by - 1) / by); }

// A pass's deepest level has this many times the columns (and rows) of
// its coarsest.
uint32_t Alignment(const PyramidPlan& plan, const PyramidPass& pass) {
    return 1u << (plan.levels[pass.last].level - plan.levels[pass.first].level);
}

}  // namespace

TileWalk::TileWalk(const PyramidPlan& plan, uint32_t part, uint32_t parts, std::vector<uint32_t> stripColumns)
    : plan(plan), part(part), parts(parts), stripColumns(std::move(stripColumns)) {
    for (const PyramidPass& p : plan.passes) {
        const Region r = PartOf(p);
        if (r.column0 == r.column1 || r.row0 == r.row1) continue;
        const int32_t deepest = plan.levels[p.last].level;
        for (size_t i = p.first; i <= p.last; ++i) {
            const uint32_t f = 1u << (deepest - plan.levels[i].level);
            const uint64_t columns = CeilDiv(r.column1, f) - FloorDiv(r.column0, f);
            count += columns * (CeilDiv(r.row1, f) - FloorDiv(r.row0, f));
        }
    }
}

TileWalk::Region TileWalk::PartOf(const PyramidPass& p) const {
    const LevelTiles& deep = plan.levels[p.last];
    Region region{deep.column0, deep.column0 + deep.columns, deep.row0, deep.row0 + deep.rows};
    const bool acrossColumns = deep.columns >= deep.rows;
    const uint32_t low = acrossColumns ? region.column0 : region.row0;
    const uint32_t high = acrossColumns ? region.column1 : region.row1;
    const uint64_t align = Alignment(plan, p);
    // Cuts between whole tiles of the pass's coarsest level, so that each
    // of its tiles goes whole to one part.
    const auto cut = [&](uint32_t k) -> uint32_t {
        if (k == 0) return low;
        if (k == parts) return high;
        const uint64_t at = low + uint64_t{high - low} * k / parts;
        const uint64_t rounded = (at + align / 2) / align * align;
        return static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(rounded, low), high));
    };
    const uint32_t from = cut(part - 1), to = cut(part);
    if (acrossColumns) {
        region.column0 = from;
        region.column1 = to;
    } else {
        region.row0 = from;
        region.row1 = to;
    }
    return region;
}

bool TileWalk::EnterPass() {
    for (; pass < plan.passes.size(); ++pass) {
        region = PartOf(plan.passes[pass]);
        if (region.column0 == region.column1 || region.row0 == region.row1) continue;
        stripStart = region.column0;
        stripEnd = std::min(region.column1, (stripStart / stripColumns[pass] + 1) * stripColumns[pass]);
        row = region.row0;
        entered = true;
        return true;
    }
    return false;
}

bool TileWalk::FillRuns() {
    if (!entered) {
        if (!EnterPass()) return false;
    } else if (++row == region.row1) {
        stripStart = stripEnd;
        if (stripStart == region.column1) {
            ++pass;
            entered = false;
            return FillRuns();
        }
        stripEnd = std::min(region.column1, (stripStart / stripColumns[pass] + 1) * stripColumns[pass]);
        row = region.row0;
    }
    const PyramidPass& p = plan.passes[pass];
    const int32_t deepest = plan.levels[p.last].level;
    runs.clear();
    runs.push_back(Run{deepest, row, stripStart, stripEnd});
    // A coarser tile after the last row of its children within the part:
    // the source tiles they share are still held.
    for (size_t i = p.last; i-- > p.first;) {
        const uint32_t f = 1u << (deepest - plan.levels[i].level);
        if ((row + 1) % f == 0 || row + 1 == region.row1) {
            runs.push_back(Run{plan.levels[i].level, row / f, FloorDiv(stripStart, f), CeilDiv(stripEnd, f)});
        }
    }
    run = 0;
    column = runs[0].column0;
    return true;
}

bool TileWalk::Next(tile_packages::PyramidTile& tile) {
    for (;;) {
        if (run < runs.size()) {
            const Run& current = runs[run];
            if (column < current.column1) {
                tile = tile_packages::PyramidTile{current.level, column++, current.row};
                return true;
            }
            if (++run < runs.size()) column = runs[run].column0;
            continue;
        }
        if (!FillRuns()) return false;
    }
}

std::vector<uint32_t> StripColumns(const PyramidPlan& plan, size_t cacheTiles) {
    std::vector<uint32_t> widths;
    // Half the cache for the rows a strip holds; the rest for the tiles in
    // flight on the other thread and the cache's own looseness.
    const double budget = static_cast<double>(cacheTiles) / 2;
    const double polar = std::min(std::max(std::abs(plan.area.south), std::abs(plan.area.north)), kWorldNorth);
    for (const PyramidPass& p : plan.passes) {
        const LevelTiles& deep = plan.levels[p.last];
        const uint32_t align = Alignment(plan, p);
        // Source tiles across one output tile, and down one near the
        // area's pole, where Mercator rows are shortest.
        const double sourceSpan = std::ldexp(360.0, 1 - deep.sourceZoom);
        const double across = std::ldexp(360.0 / plan.set->level0Columns, -deep.level) / sourceSpan;
        const double down = plan.set->mapCrs == MapCrs::WebMercator ? across : across / std::cos(polar * kPi / 180);
        const double rowsHeld = std::ceil(align * down) + 2;
        const double columns = (budget / rowsHeld - 2) / across;
        const double aligned = std::floor(columns / align) * align;
        widths.push_back(static_cast<uint32_t>(std::min(std::max(aligned, static_cast<double>(align)), 1073741824.0)));
    }
    return widths;
}
