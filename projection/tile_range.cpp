#include "projection/tile_range.h"

#include <cmath>
#include <limits>

#include "projection/coord_transform.h"
#include "projection/mercator.h"
#include "projection/world_tile.h"
#include "projection/zoom.h"

namespace {

// Margin, in world pixels, around the request's bounds: the resampler
// reaches one pixel east and south of every sample, and the margin keeps
// those neighbours inside the listed tiles.
constexpr int64_t kMarginPixels = 2;

bool FitsInt32(int64_t v) {
    return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

// Truncation toward zero, refused where the double is not finite or the
// result would not fit 32 bits (the conversion would be undefined).
bool TruncateToInt32(double v, int64_t& out) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) {
        return false;
    }
    out = static_cast<int32_t>(v);
    return true;
}

// The pixel bounds of the grid: starts inclusive, ends exclusive.
struct PixelBounds {
    int64_t xStart;
    int64_t xEnd;
    int64_t yStart;
    int64_t yEnd;
};

int64_t CountSteps(int64_t start, int64_t end, int64_t step) {
    return start < end ? (end - start + step - 1) / step : 0;
}

// A request's raster can be described by a LayerImage. Width times height
// fits 64 bits; times 3 it may not, so the bound is applied to the pixel
// count.
bool RasterFits(const DataRequestBlock& request) {
    const uint64_t pixels = uint64_t{request.width} * request.height;
    return pixels <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) / 3;
}

// The request stores each corner latitude first; the box wants longitude first.
GeoBox BoxOf(const DataRequestBlock& request) {
    return GeoBox{request.west, request.south, request.east, request.north};
}

}  // namespace

void TileRange::AppendKeys(std::vector<TileKey>& out) const {
    if (Empty()) {
        return;
    }
    out.reserve(out.size() + Count());
    for (int32_t row = 0; row < rows; ++row) {
        for (int32_t column = 0; column < columns; ++column) {
            out.push_back(TileKey{x0 + column * tileWidth, y0 + row * tileHeight, zoom});
        }
    }
}

bool CanCoverBox(const GeoBox& box, int32_t zoom) {
    return IsSupportedZoom(zoom) && std::isfinite(box.lon1) && std::isfinite(box.lat1) &&
           std::isfinite(box.lon2) && std::isfinite(box.lat2);
}

TileRange CoverCorners(const WorldPoint (&corners)[4], int32_t zoom, int32_t tileWidth, int32_t tileHeight) {
    const TileRange none{};
    double minX = corners[0].x;
    double maxX = corners[0].x;
    double minY = corners[0].y;
    double maxY = corners[0].y;
    for (int i = 1; i < 4; ++i) {
        if (corners[i].x < minX) minX = corners[i].x;
        if (corners[i].x > maxX) maxX = corners[i].x;
        if (corners[i].y < minY) minY = corners[i].y;
        if (corners[i].y > maxY) maxY = corners[i].y;
    }

    PixelBounds b{};
    if (!TruncateToInt32(minX, b.xStart) || !TruncateToInt32(maxX, b.xEnd) ||
        !TruncateToInt32(minY, b.yStart) || !TruncateToInt32(maxY, b.yEnd)) {
        return none;
    }
    b.xStart -= kMarginPixels;
    b.xEnd += kMarginPixels;
    b.yStart -= kMarginPixels;
    b.yEnd += kMarginPixels;
    if (!FitsInt32(b.xStart) || !FitsInt32(b.xEnd) || !FitsInt32(b.yStart) || !FitsInt32(b.yEnd)) {
        return none;
    }

    const int64_t w = tileWidth;
    const int64_t h = tileHeight;
    if (w <= 0 || h <= 0) {
        return none;
    }
    // Aligning by the remainder of truncating division (not a floor modulo)
    // moves a start from -(w-1)..-1 to 0, so a box that touches the world's
    // west edge still begins at its first column; a start of -w or less
    // stays negative and the box is refused.
    b.xStart -= b.xStart % w;
    b.yStart -= b.yStart % h;
    if (b.xStart < 0 || b.yStart < 0) {
        return none;
    }

    const int64_t columns = CountSteps(b.xStart, b.xEnd, w);
    const int64_t rows = CountSteps(b.yStart, b.yEnd, h);
    if (columns == 0 || rows == 0 || rows > kMaxTilesPerRequest / columns) {
        return none;
    }
    TileRange range;
    range.zoom = zoom;
    range.x0 = static_cast<int32_t>(b.xStart);
    range.y0 = static_cast<int32_t>(b.yStart);
    range.tileWidth = static_cast<int32_t>(w);
    range.tileHeight = static_cast<int32_t>(h);
    range.columns = static_cast<int32_t>(columns);
    range.rows = static_cast<int32_t>(rows);
    return range;
}

TileRange RequestTileRange(const CoordTransform& transform, const DataRequestBlock& request) {
    return RasterFits(request) ? transform.CoverBox(BoxOf(request), request.zoom) : TileRange{};
}

TileRange RequestTileRange(const DataRequestBlock& request) {
    return RasterFits(request)
               ? CoverBoxWith(BoxOf(request), request.zoom, kZarvoTileSize, kZarvoTileSize, MercatorWorldPixel)
               : TileRange{};
}
