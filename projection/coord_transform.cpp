#include "projection/coord_transform.h"

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
