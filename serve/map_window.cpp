#include "serve/map_window.h"

#include <algorithm>
#include <cmath>

#include "projection/zoom.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A WMS BBOX gives the outer edges of the image, so pixel i spans
// [min + i*d, min + (i+1)*d] and is seen at its centre. The plug-in samples
// its first column exactly at `west` and its last exactly at `east`, so it
// is asked for the centres of the edge pixels: min + d/2 and max - d/2.
// The last centre is taken from the far edge, not by stepping from the near
// one, so that a request for the whole image is west = minx + dx/2,
// east = maxx - dx/2 to the bit.
struct Axis {
    double low, high;
    uint32_t count;
    double Step() const { return (high - low) / count; }
    // Centre of cell i counted from `low`.
    double CentreFromLow(uint32_t i) const {
        return i + 1 == count ? high - Step() / 2 : low + (i + 0.5) * Step();
    }
};

// Index of the cell whose centre is nearest `value`, clamped to the axis.
uint32_t NearestCell(const Axis& axis, double value) {
    const double estimate = std::floor((value - axis.low) / axis.Step());
    if (!(estimate > 0)) return 0;  // also for NaN
    if (estimate >= axis.count - 1) return axis.count - 1;
    return static_cast<uint32_t>(estimate);
}

// The first and last cells whose centres lie within [lowest, highest], as
// counted from the axis' low end. False when none does. The estimate is off
// by a cell at most, so the steps that make it exact are few.
bool CoveredCells(const Axis& axis, double lowest, double highest, uint32_t& first, uint32_t& last) {
    first = NearestCell(axis, lowest);
    while (first > 0 && axis.CentreFromLow(first - 1) >= lowest) --first;
    while (first < axis.count && axis.CentreFromLow(first) < lowest) ++first;
    if (first >= axis.count || axis.CentreFromLow(first) > highest) return false;
    last = std::max(first, NearestCell(axis, highest));
    while (last + 1 < axis.count && axis.CentreFromLow(last + 1) <= highest) ++last;
    while (last > first && axis.CentreFromLow(last) > highest) --last;
    return true;
}

}  // namespace

double MercatorLongitude(double x) {
    return x / kMercatorHalfWorld * 180.0;
}

double MercatorLatitude(double y) {
    return std::atan(std::sinh(y / kMercatorHalfWorld * kPi)) * (180.0 / kPi);
}

int32_t ChooseMercatorZoom(double dx, double dy, int32_t maxZoom) {
    const int32_t cap = std::max(1, std::min(maxZoom, kMaxZoom));
    // A box on the tiles' own grid (a WMTS tile) has pixels exactly a tile
    // pixel wide, less the rounding of its edges: that rounding must not
    // send it a zoom deeper, where every other tile row would be skipped.
    constexpr double kRounding = 1e-9;
    for (int32_t zoom = 1; zoom < cap; ++zoom) {
        const double tilePixel = 2 * kMercatorHalfWorld / (256.0 * std::ldexp(1.0, zoom - 1));
        if (tilePixel <= dx * (1 + kRounding) && tilePixel <= dy * (1 + kRounding)) return zoom;
    }
    return cap;
}

namespace {

// The pixels of an image of `width` x `height` over `box` whose centres lie
// within `world` (in the box's units), as counted from its west and north.
struct Cover {
    Axis across, down;  // rows run from the north: latitudes negated
    uint32_t firstColumn = 0, lastColumn = 0, firstRow = 0, lastRow = 0;

    Cover(const LonLatBox& box, uint32_t width, uint32_t height)
        : across{box.west, box.east, width}, down{-box.north, -box.south, height} {}

    // False when no pixel centre lies within `world`; else fills the
    // window's place in the image.
    bool Within(const LonLatBox& world, MapWindow& window) {
        if (across.count == 0 || down.count == 0 ||
            !CoveredCells(across, world.west, world.east, firstColumn, lastColumn) ||
            !CoveredCells(down, -world.north, -world.south, firstRow, lastRow)) {
            return false;
        }
        window.empty = false;
        window.column0 = firstColumn;
        window.columns = lastColumn - firstColumn + 1;
        window.row0 = firstRow;
        window.rows = lastRow - firstRow + 1;
        return true;
    }
};

}  // namespace

MapWindow PlanMapWindow(const LonLatBox& box, uint32_t width, uint32_t height, int32_t maxZoom) {
    MapWindow window;
    Cover cover(box, width, height);
    if (!cover.Within(LonLatBox{kCoverageWest, kCoverageSouth, kCoverageEast, kCoverageNorth}, window)) return window;
    window.west = cover.across.CentreFromLow(cover.firstColumn);
    window.east = cover.across.CentreFromLow(cover.lastColumn);
    window.north = -cover.down.CentreFromLow(cover.firstRow);
    window.south = -cover.down.CentreFromLow(cover.lastRow);
    const double middle = (std::max(box.south, kCoverageSouth) + std::min(box.north, kCoverageNorth)) / 2;
    window.zoom = ChooseZoom(cover.across.Step(), cover.down.Step(), middle, maxZoom);
    return window;
}

MercatorWindow PlanMercatorWindow(const LonLatBox& box, uint32_t width, uint32_t height, int32_t maxZoom) {
    MercatorWindow mercator;
    MapWindow& window = mercator.window;
    Cover cover(box, width, height);
    const double edge = kMercatorHalfWorld;
    if (!cover.Within(LonLatBox{-edge, -edge, edge, edge}, window)) return mercator;
    window.west = MercatorLongitude(cover.across.CentreFromLow(cover.firstColumn));
    window.east = MercatorLongitude(cover.across.CentreFromLow(cover.lastColumn));
    mercator.rowLatitudes.reserve(window.rows);
    for (uint32_t row = cover.firstRow; row <= cover.lastRow; ++row) {
        mercator.rowLatitudes.push_back(MercatorLatitude(-cover.down.CentreFromLow(row)));
    }
    window.north = mercator.rowLatitudes.front();
    window.south = mercator.rowLatitudes.back();
    window.zoom = ChooseMercatorZoom(cover.across.Step(), cover.down.Step(), maxZoom);
    return mercator;
}
