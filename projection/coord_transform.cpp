#include "projection/coord_transform.h"

#include "projection/tile_range.h"

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
    return CoverBoxWith(box, zoom, TileWidth(), TileHeight(),
                        [this](double lon, double lat, int32_t z) { return ToWorldPixel(lon, lat, z); });
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
