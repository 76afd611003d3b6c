#include "drawing/map_background.h"

#include <cstring>

#include "projection/mercator.h"

namespace {

enum class RowPlace { OnTiles, OffTiles, BeyondGrid };

// Longitude/latitude ends at the poles; EPSG:3857's square ends where the
// world's edges are, so every row off its tiles is beyond its grid too.
RowPlace PlaceOf(const MapRequest& map, double latitude) {
    if (CentreInWorld(latitude)) return RowPlace::OnTiles;
    if (map.crs == MapCrs::WebMercator || latitude > 90.0 || latitude < -90.0) return RowPlace::BeyondGrid;
    return RowPlace::OffTiles;
}

}  // namespace

std::vector<uint8_t> PaintBackground(const MapRequest& map, const PixelGrid& grid, std::vector<uint8_t>& rgb) {
    const bool alpha = map.format == ImageFormat::Png;
    const bool clear = alpha && map.transparent;
    const bool voidClear = alpha && map.voidTransparent.value_or(map.transparent);
    const uint32_t voidColour = map.voidColour.value_or(map.background);
    const uint8_t colour[3] = {static_cast<uint8_t>(voidColour >> 16), static_cast<uint8_t>(voidColour >> 8),
                               static_cast<uint8_t>(voidColour)};
    std::vector<uint8_t> opacity;
    const size_t rowBytes = size_t{grid.width} * 3;
    for (uint32_t row = 0; row < grid.height; ++row) {
        const RowPlace place = PlaceOf(map, grid.CentreLat(grid.row0 + row));
        if (place == RowPlace::OnTiles) continue;
        const bool beyond = place == RowPlace::BeyondGrid;
        if (beyond && voidColour != map.background) {
            uint8_t* pixel = &rgb[row * rowBytes];
            for (uint32_t column = 0; column < grid.width; ++column, pixel += 3) std::memcpy(pixel, colour, 3);
        }
        if (beyond ? voidClear : clear) {
            if (opacity.empty()) opacity.assign(grid.height, 255);
            opacity[row] = 0;
        }
    }
    return opacity;
}
