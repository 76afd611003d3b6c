#include "serve/description/tile_set_probe.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "projection/zoom.h"
#include "serve/drawing/map_request.h"

TileSetHoldings LayersInDirectory(const std::string& directory) {
    namespace fs = std::filesystem;
    TileSetHoldings holdings;
    int32_t lowestOfLayers = kMaxZoom;
    for (const std::string& layer : ServedLayers()) {
        int32_t highest = 0;
        std::error_code error;
        for (fs::directory_iterator it(fs::path(directory) / layer, error), end; !error && it != end;
             it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (name.empty() || name.size() > 2 || !it->is_directory(error)) continue;
            if (!std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
            highest = std::max(highest, std::stoi(name) + 1);
        }
        if (highest == 0) continue;  // a layer the directory does not have
        holdings.layers.push_back(layer);
        lowestOfLayers = std::min(lowestOfLayers, highest);
    }
    if (!holdings.layers.empty()) holdings.maxZoom = std::min<int32_t>(lowestOfLayers, kMaxZoom);
    return holdings;
}
