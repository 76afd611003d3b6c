#include "host/placement.h"

#include <algorithm>
#include <cmath>

#include "projection/mercator.h"
#include "projection/power_of_two.h"
#include "projection/tile_range.h"
#include "projection/zoom.h"

namespace {

// Request positions are multiples of 2^-kFraction degrees, small enough that
// every position the plug-in steps to (first + i * step, |value| < 2^10)
// is exact: cutting a request into parts then changes no position.
constexpr int kFraction = 42;

// Lattice blocks: a request never spans two, so its positions depend on the
// block alone. Rows: at most this many degrees, over which a linear step in
// latitude follows the shifted positions to within 0.04 pixel.
constexpr uint32_t kBlockCells = 4096;
constexpr double kMaxBlockDegreesDown = 40;
constexpr double kMaxBlockDegreesAcross = 360;

double OnFraction(double value) {
    return std::ldexp(std::nearbyint(std::ldexp(value, kFraction)), -kFraction);
}

uint32_t BlockCells(double step, double maxDegrees) {
    uint32_t cells = kBlockCells;
    while (cells > 1 && cells * step > maxDegrees) cells /= 2;
    return cells;
}

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// Whole steps from `from` to `to` when `to` lies on one, else -1.
int64_t WholeSteps(double from, double to, double step) {
    const double steps = (to - from) / step;
    const double whole = std::nearbyint(steps);
    return std::fabs(steps - whole) < 1e-6 && std::fabs(whole) < 1e15 ? static_cast<int64_t>(whole) : -1;
}

// How a lattice row is drawn.
enum class RowKind { Nodata, NorthEdge, SouthEdge, Band };

struct RowRule {
    int32_t zoom;
    double shift;       // world pixels north the plug-in is asked for
    double scale;       // 2^(zoom-1)
    double worldSize;   // 2^(zoom+7)
    double northLat;    // asked for rows nearer the north edge than `shift`
    double southLat;    // asked for rows nearer the south edge than one pixel + `shift`

    RowKind Kind(double lat) const {
        if (!CentreInWorld(lat)) return RowKind::Nodata;
        const double y = MercatorY(lat, scale) - shift;
        if (y < 0) return RowKind::NorthEdge;
        if (y > worldSize - 1) return RowKind::SouthEdge;
        return RowKind::Band;
    }
};

RowRule MakeRowRule(const PlacementPolicy& policy) {
    RowRule rule{};
    rule.zoom = policy.zoom;
    rule.shift = policy.pluginGrid ? 0.0 : 0.5;
    rule.scale = PowerOfTwo(policy.zoom - 1);
    rule.worldSize = PowerOfTwo(policy.zoom + 7);
    // The edge rows: y exactly on the world's first row (0) and last row
    // (worldSize - 1), or the nearest latitude inside, so that the
    // interpolation never takes a row beyond the edge.
    double north = kWorldNorth;
    while (MercatorY(north, rule.scale) < 0) north = std::nextafter(north, 0.0);
    double south = ShiftedLatitude(kWorldSouth, 1, policy.zoom);
    while (MercatorY(south, rule.scale) > rule.worldSize - 1) south = std::nextafter(south, 90.0);
    rule.northLat = north;
    rule.southLat = south;
    return rule;
}

// The plug-in's positions for one block of lattice rows or columns:
// position(c) = first - (c - firstCell) * step (rows) or first + ... (columns).
struct Ramp {
    int64_t firstCell = 0;
    double first = 0;
    double step = 0;
    double At(int64_t cell, double direction) const {
        return first + direction * (static_cast<double>(cell - firstCell) * step);
    }
};

// The rows of one lattice block that are drawn by bands: their ramp runs
// exact through the shifted positions of the first and last of them.
Ramp RowRamp(const PixelGrid& grid, const RowRule& rule, int64_t blockStart, int64_t blockEnd) {
    int64_t first = -1, last = -1;
    for (int64_t r = blockStart; r < blockEnd; ++r) {
        if (rule.Kind(grid.CentreLat(r)) != RowKind::Band) continue;
        if (first < 0) first = r;
        last = r;
    }
    Ramp ramp;
    if (first < 0) return ramp;
    const double north = ShiftedLatitude(grid.CentreLat(first), rule.shift, rule.zoom);
    const double south = ShiftedLatitude(grid.CentreLat(last), rule.shift, rule.zoom);
    ramp.firstCell = first;
    ramp.first = OnFraction(north);
    ramp.step = last > first ? OnFraction((north - south) / static_cast<double>(last - first)) : OnFraction(grid.dy);
    return ramp;
}

Ramp ColumnRamp(const PixelGrid& grid, double shiftDegrees, int64_t blockStart) {
    // Never west of the world: the plug-in's grid starts at its west edge.
    // The remainder is exact, and leaves at most one turn to take.
    double west = std::fmod(grid.CentreLon(blockStart) - shiftDegrees, 360.0);
    while (west < -180) west += 360;
    while (west >= 180) west -= 360;
    return Ramp{blockStart, OnFraction(west), OnFraction(grid.dx)};
}

size_t TileCount(const DataRequestBlock& request) {
    const TileRange range = RequestTileRange(request);
    return range.Empty() ? SIZE_MAX : range.Count();
}

// The pieces of a rectangle of one block whose request needs too many
// tiles, halved along the longer side until each fits.
struct Piece {
    uint32_t column0, row0, columns, rows;
};

class Planner {
public:
    Planner(const PixelGrid& grid, const PlacementPolicy& policy, const SegmentLimits& limits)
        : grid(grid), policy(policy), limits(limits), rule(MakeRowRule(policy)) {}

    RenderPlan Plan() {
        const uint32_t blockRows = grid.rowLatitudes ? 2 : BlockCells(grid.dy, kMaxBlockDegreesDown);
        const uint32_t blockColumns = BlockCells(grid.dx, kMaxBlockDegreesAcross);
        const double shiftDegrees = policy.pluginGrid ? 0.0 : 180.0 / PowerOfTwo(policy.zoom + 7);
        for (uint32_t i = 0; i < grid.height && plan.error.empty();) {
            const int64_t r = grid.row0 + i;
            const int64_t blockStart = FloorDiv(r, blockRows) * blockRows;
            int64_t blockEnd = blockStart + blockRows;
            // Rows at latitudes of their own end with the grid.
            if (grid.rowLatitudes) blockEnd = std::min<int64_t>(blockEnd, grid.rowLatitudes->size());
            const Ramp rows = RowRamp(grid, rule, blockStart, blockEnd);
            // Runs of rows of one kind within the block.
            const uint32_t end = static_cast<uint32_t>(std::min<int64_t>(grid.height, blockEnd - grid.row0));
            while (i < end && plan.error.empty()) {
                const RowKind kind = rule.Kind(grid.CentreLat(grid.row0 + i));
                uint32_t runEnd = i + 1;
                while (runEnd < end && rule.Kind(grid.CentreLat(grid.row0 + runEnd)) == kind) ++runEnd;
                PlanRun(kind, rows, i, runEnd - i, blockColumns, shiftDegrees);
                i = runEnd;
            }
        }
        return std::move(plan);
    }

private:
    void PlanRun(RowKind kind, const Ramp& rows, uint32_t row0, uint32_t count, uint32_t blockColumns,
                 double shiftDegrees) {
        for (uint32_t first = row0; first < row0 + count; first += limits.maxRows) {
            const uint32_t height = std::min(limits.maxRows, row0 + count - first);
            if (kind == RowKind::Nodata) {
                for (uint32_t j = 0; j < grid.width; j += limits.maxColumns) {
                    Add(Segment{j, first, std::min(limits.maxColumns, grid.width - j), height, true, {}});
                }
                continue;
            }
            for (uint32_t j = 0; j < grid.width && plan.error.empty();) {
                const int64_t c = grid.column0 + j;
                const int64_t blockStart = FloorDiv(c, blockColumns) * blockColumns;
                const Ramp columns = ColumnRamp(grid, shiftDegrees, blockStart);
                const uint32_t end = static_cast<uint32_t>(
                    std::min<int64_t>(grid.width, blockStart + blockColumns - grid.column0));
                for (uint32_t left = j; left < end; left += limits.maxColumns) {
                    const uint32_t width = std::min(limits.maxColumns, end - left);
                    Split(kind, rows, columns, Piece{left, first, width, height});
                }
                j = end;
            }
        }
    }

    void Add(const Segment& segment) {
        if (!plan.error.empty()) return;
        if (plan.segments.size() == limits.maxSegments) {
            plan.error = "the grid needs more than " + std::to_string(limits.maxSegments) + " requests at zoom " +
                         std::to_string(policy.zoom);
            return;
        }
        plan.segments.push_back(segment);
    }

    DataRequestBlock RequestFor(RowKind kind, const Ramp& rows, const Ramp& columns, const Piece& piece) const {
        DataRequestBlock request{};
        request.zoom = policy.zoom;
        request.width = std::max<uint32_t>(2, piece.columns);
        request.height = std::max<uint32_t>(2, piece.rows);
        const int64_t c = grid.column0 + piece.column0;
        request.west = columns.At(c, 1);
        request.east = columns.At(c + request.width - 1, 1);
        if (kind == RowKind::Band) {
            const int64_t r = grid.row0 + piece.row0;
            request.north = rows.At(r, -1);
            request.south = rows.At(r + request.height - 1, -1);
        } else {
            request.north = request.south = kind == RowKind::NorthEdge ? rule.northLat : rule.southLat;
        }
        return request;
    }

    void Split(RowKind kind, const Ramp& rows, const Ramp& columns, const Piece& piece) {
        if (!plan.error.empty()) return;
        const DataRequestBlock request = RequestFor(kind, rows, columns, piece);
        if (TileCount(request) <= limits.maxTiles) {
            Add(Segment{piece.column0, piece.row0, piece.columns, piece.rows, false, request});
            return;
        }
        if (piece.columns <= 2 && piece.rows <= 2) {
            plan.error = "a pixel of this grid spans more tiles than one request may take at zoom " +
                         std::to_string(policy.zoom);
            return;
        }
        if (piece.columns >= piece.rows) {
            const uint32_t half = piece.columns / 2;
            Split(kind, rows, columns, Piece{piece.column0, piece.row0, half, piece.rows});
            Split(kind, rows, columns, Piece{piece.column0 + half, piece.row0, piece.columns - half, piece.rows});
        } else {
            const uint32_t half = piece.rows / 2;
            Split(kind, rows, columns, Piece{piece.column0, piece.row0, piece.columns, half});
            Split(kind, rows, columns, Piece{piece.column0, piece.row0 + half, piece.columns, piece.rows - half});
        }
    }

    const PixelGrid& grid;
    const PlacementPolicy& policy;
    const SegmentLimits& limits;
    const RowRule rule;
    RenderPlan plan;
};

}  // namespace

void PixelGrid::GeoTransform(double transform[6]) const {
    transform[0] = West();
    transform[1] = dx;
    transform[2] = 0;
    transform[3] = North();
    transform[4] = 0;
    transform[5] = -dy;
}

PixelGrid PixelGrid::Rows(uint32_t first, uint32_t count) const {
    PixelGrid part = *this;
    part.row0 += first;
    part.height = count;
    return part;
}

PixelGrid GridFromEdges(double west, double south, double east, double north, uint32_t width, uint32_t height) {
    PixelGrid grid;
    grid.dx = (east - west) / width;
    grid.dy = (north - south) / height;
    grid.width = width;
    grid.height = height;
    const int64_t column0 = WholeSteps(-180, west, grid.dx);
    const int64_t row0 = WholeSteps(north, 90, grid.dy);
    if (column0 >= 0) {
        grid.column0 = column0;
    } else {
        grid.latticeWest = west;
    }
    if (row0 >= 0) {
        grid.row0 = row0;
    } else {
        grid.latticeNorth = north;
    }
    return grid;
}

PixelGrid GridFromCentres(double west, double south, double east, double north, uint32_t width, uint32_t height) {
    const double dx = (east - west) / (width - 1);
    const double dy = (north - south) / (height - 1);
    return GridFromEdges(west - dx / 2, south - dy / 2, east + dx / 2, north + dy / 2, width, height);
}

double ShiftedLatitude(double lat, double shift, int32_t zoom) {
    return LatitudeNorthOf(lat, shift, PowerOfTwo(zoom - 1));
}

RenderPlan PlanRender(const PixelGrid& grid, const PlacementPolicy& policy, const SegmentLimits& limits) {
    if (!IsSupportedZoom(policy.zoom)) {
        RenderPlan plan;
        plan.error = "zoom " + std::to_string(policy.zoom) + " is outside 1 to 21";
        return plan;
    }
    return Planner(grid, policy, limits).Plan();
}
