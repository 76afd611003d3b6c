#include "projection/zarvo_coord_transform.h"

#include "projection/mercator.h"
#include "projection/tile_service.h"
#include "projection/power_of_two.h"
#include "projection/zoom.h"

namespace {

// The tile served for every row outside the world: service zoom 5, column
// 0, row 0.
constexpr int64_t kFallbackZoom = 5;

}  // namespace

ZarvoCoordTransform::ZarvoCoordTransform(LayerKind kind, const std::u16string& name)
    : kind(kind), layerName(name) {}

WorldPoint ZarvoCoordTransform::ToWorldPixel(double lon, double lat, int32_t zoom) const {
    return MercatorWorldPixel(lon, lat, zoom);
}

// The same expressions as ToWorldPixel, one axis each.
double ZarvoCoordTransform::ToWorldX(double lon, double /*lat*/, int32_t zoom) const {
    return MercatorX(lon, PowerOfTwo(zoom - 1));
}

double ZarvoCoordTransform::ToWorldY(double /*lon*/, double lat, int32_t zoom) const {
    return MercatorY(lat, PowerOfTwo(zoom - 1)) + PowerOfTwo(zoom + 9);
}

int32_t ZarvoCoordTransform::TileWidth() const {
    return kZarvoTileSize;
}

int32_t ZarvoCoordTransform::TileHeight() const {
    return kZarvoTileSize;
}

bool ZarvoCoordTransform::IsSeparable() const {
    return true;
}

std::u16string ZarvoCoordTransform::TileUrl(const TileKey& key) const {
    AddressList one;
    AppendTileUrl(key, one);
    return one.String(0);
}

void ZarvoCoordTransform::AppendTileUrl(const TileKey& key, AddressList& out) const {
    int64_t serviceZoom = int64_t{key.zoom} - 1;
    int64_t column = key.x >> 8;
    int64_t row = -1;
    if (IsSupportedZoom(key.zoom)) {
        // Arithmetic shifts: floor division by the tile size, also for the
        // negative `top` of a row above the world.
        const int64_t top = (int64_t{key.y} - (int64_t{1} << (key.zoom + 9))) >> 8;
        const int64_t maxRow = (int64_t{1} << serviceZoom) - 1;
        row = maxRow - top;
        if (row > maxRow) {
            row = -1;
        }
    }
    if (row < 0) {
        // Every row outside the world is served one tile instead, so the
        // host always has an image to put there.
        serviceZoom = kFallbackZoom;
        column = 0;
        row = 0;
    }
    AppendServiceAddress(layerName, kind == LayerKind::Aerial ? u"jpeg" : u"png", serviceZoom, column, row, out);
}
