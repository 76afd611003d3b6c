#include "projection/coord_transform.h"

#include <cmath>
#include <limits>

#include "projection/tile_range.h"
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

}  // namespace

double CoordTransform::ToWorldX(double lon, double lat, int32_t zoom) const {
    return ToWorldPixel(lon, lat, zoom).x;
}

double CoordTransform::ToWorldY(double lon, double lat, int32_t zoom) const {
    return ToWorldPixel(lon, lat, zoom).y;
}

bool CoordTransform::IsSeparable() const {
    return false;
}

TileRange CoordTransform::CoverBox(const GeoBox& box, int32_t zoom) const {
    const TileRange none{};
    if (!IsSupportedZoom(zoom) || !std::isfinite(box.lon1) || !std::isfinite(box.lat1) ||
        !std::isfinite(box.lon2) || !std::isfinite(box.lat2)) {
        return none;
    }
    const WorldPoint corners[4] = {
        ToWorldPixel(box.lon1, box.lat1, zoom),
        ToWorldPixel(box.lon2, box.lat2, zoom),
        ToWorldPixel(box.lon1, box.lat2, zoom),
        ToWorldPixel(box.lon2, box.lat1, zoom),
    };
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

    const int64_t w = TileWidth();
    const int64_t h = TileHeight();
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

void CoordTransform::EnumerateTiles(const GeoBox& box, int32_t zoom, std::vector<TileKey>& out) const {
    CoverBox(box, zoom).AppendKeys(out);
}

CoordTransform::~CoordTransform() = default;

void CoordTransform::AppendTileUrl(const TileKey& key, AddressList& out) const {
    const std::u16string address = TileUrl(key);
    out.Append(address.data(), address.size());
}

void CoordTransform::TilesToUrls(const std::vector<TileKey>& keys, AddressList& urls) const {
    if (keys.empty()) {
        return;
    }
    // The first address tells how long the others are, give or take a few
    // digits, so the texts of the whole list take one allocation.
    const size_t first = urls.Size();
    AppendTileUrl(keys.front(), urls);
    urls.Reserve(keys.size() - 1, urls.Length(first) + 8);
    for (size_t k = 1; k < keys.size(); ++k) {
        AppendTileUrl(keys[k], urls);
    }
}
