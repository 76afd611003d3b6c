#include "projection/coord_transform.h"

CoordTransform::~CoordTransform() = default;

void CoordTransform::TilesToUrls(const std::vector<TileKey>& keys, std::vector<std::u16string>& urls) const {
    urls.reserve(urls.size() + keys.size());
    for (const TileKey& key : keys) {
        urls.push_back(TileUrl(key));
    }
}
