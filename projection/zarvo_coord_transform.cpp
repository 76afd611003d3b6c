#include "projection/zarvo_coord_transform.h"

#include "projection/mercator.h"
#include "projection/zoom.h"

ZarvoCoordTransform::ZarvoCoordTransform(LayerKind kind, const std::u16string& name)
    : kind(kind), layerName(name) {}

WorldPoint ZarvoCoordTransform::ToWorldPixel(double lon, double lat, int32_t zoom) const {
    WorldPoint p = MercatorProject(lon, lat, zoom - 1);
    // Four world heights keep y positive for every latitude the sine clamp
    // lets through (down to about -73.75 world pixels at zoom 1).
    p.y += PowerOfTwo(zoom + 9);
    return p;
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
