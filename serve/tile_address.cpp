#include "serve/tile_address.h"

#include <cstdint>

namespace {

constexpr char kServicePath[] = "/geowebcache/service/tms1.0.0/";

// Reads digits at `at` up to `end` into `value`; false if none or too many.
bool ReadNumber(const std::string& text, size_t at, size_t end, int64_t& value) {
    if (at >= end || end - at > 9) return false;
    value = 0;
    for (size_t i = at; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

std::string WrapTileColumn(const std::string& url) {
    // .../tms1.0.0/LAYER/Z/X/Y.EXT
    const size_t service = url.find(kServicePath);
    if (service == std::string::npos) return url;
    const size_t layerEnd = url.find('/', service + sizeof kServicePath - 1);
    if (layerEnd == std::string::npos) return url;
    const size_t zoomEnd = url.find('/', layerEnd + 1);
    if (zoomEnd == std::string::npos) return url;
    const size_t columnEnd = url.find('/', zoomEnd + 1);
    if (columnEnd == std::string::npos) return url;
    int64_t zoom = 0, column = 0;
    if (!ReadNumber(url, layerEnd + 1, zoomEnd, zoom) || !ReadNumber(url, zoomEnd + 1, columnEnd, column) ||
        zoom > 30) {
        return url;
    }
    const int64_t columns = int64_t{1} << zoom;
    if (column < columns) return url;
    return url.substr(0, zoomEnd + 1) + std::to_string(column % columns) + url.substr(columnEnd);
}
