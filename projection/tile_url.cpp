#include <string>

#include "projection/zarvo_coord_transform.h"
#include "projection/zoom.h"

namespace {

// Tile server N (1 to 4) is reached at kServerPrefix N kServerSuffix.
constexpr char16_t kScheme[] = u"http://";
constexpr char16_t kServerPrefix[] = u"tile";
constexpr char16_t kServerSuffix[] = u".zarvo.example";
constexpr char16_t kServicePath[] = u"/geowebcache/service/tms1.0.0/";

// Every row outside the world is served this tile instead (service zoom 5,
// column 0, row 0), so the host always has an image to put there.
constexpr int64_t kFallbackZoom = 5;

void AppendDecimal(std::u16string& out, int64_t value) {
    for (char c : std::to_string(value)) {
        out.push_back(static_cast<char16_t>(c));
    }
}

}  // namespace

std::u16string ZarvoCoordTransform::TileUrl(const TileKey& key) const {
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
        serviceZoom = kFallbackZoom;
        column = 0;
        row = 0;
    }
    // A floor modulo keeps the server number in 1..4 even for a negative
    // column, which the enumeration never produces but a caller might.
    const int64_t server = ((column + row) & 3) + 1;

    std::u16string url;
    url.reserve(96);
    url += kScheme;
    url += kServerPrefix;
    AppendDecimal(url, server);
    url += kServerSuffix;
    url += kServicePath;
    url += layerName;
    url += u'/';
    AppendDecimal(url, serviceZoom);
    url += u'/';
    AppendDecimal(url, column);
    url += u'/';
    AppendDecimal(url, row);
    url += kind == LayerKind::Aerial ? u".jpeg" : u".png";
    return url;
}
