#pragma once

#include <cstdint>
#include <string>

#include "projection/coord_transform.h"
#include "projection/geo_types.h"
#include "projection/world_tile.h"

// The spherical Mercator tiling of the Zarvo tile service: 256-pixel tiles,
// addressed in the Tile Map Service layout (rows counted from the south).
class ZarvoCoordTransform final : public CoordTransform {
public:
    // Neither argument is checked: the layer passes its own kind and name.
    ZarvoCoordTransform(LayerKind kind, const std::u16string& name);

    WorldPoint ToWorldPixel(double lon, double lat, int32_t zoom) const override;
    double ToWorldX(double lon, double lat, int32_t zoom) const override;
    double ToWorldY(double lon, double lat, int32_t zoom) const override;
    int32_t TileWidth() const override;
    int32_t TileHeight() const override;
    std::u16string TileUrl(const TileKey& key) const override;
    void AppendTileUrl(const TileKey& key, AddressList& out) const override;
    bool IsSeparable() const override;

    LayerKind Kind() const { return kind; }
    const std::u16string& LayerName() const { return layerName; }

private:
    LayerKind kind;
    std::u16string layerName;
};
