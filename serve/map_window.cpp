#include "serve/map_window.h"

#include <algorithm>
#include <cmath>

#include "projection/zoom.h"

namespace {

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

MapWindow PlanMapWindow(const LonLatBox& box, uint32_t width, uint32_t height, int32_t maxZoom) {
    MapWindow window;
    const Axis across{box.west, box.east, width};
    // Rows run from the north, so count them from the north edge: low is
    // the northern edge going south, by negating latitudes.
    const Axis down{-box.north, -box.south, height};
    uint32_t firstColumn = 0, lastColumn = 0, firstRow = 0, lastRow = 0;
    if (width == 0 || height == 0 ||
        !CoveredCells(across, kCoverageWest, kCoverageEast, firstColumn, lastColumn) ||
        !CoveredCells(down, -kCoverageNorth, -kCoverageSouth, firstRow, lastRow)) {
        return window;
    }
    window.empty = false;
    window.column0 = firstColumn;
    window.columns = lastColumn - firstColumn + 1;
    window.row0 = firstRow;
    window.rows = lastRow - firstRow + 1;
    window.west = across.CentreFromLow(firstColumn);
    window.east = across.CentreFromLow(lastColumn);
    window.north = -down.CentreFromLow(firstRow);
    window.south = -down.CentreFromLow(lastRow);
    const double middle = (std::max(box.south, kCoverageSouth) + std::min(box.north, kCoverageNorth)) / 2;
    window.zoom = ChooseZoom(across.Step(), down.Step(), middle, maxZoom);
    return window;
}
