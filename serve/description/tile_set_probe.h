#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a tile directory in the service layout (DIR/LAYER/Z/X/Y.EXT,
// Z = zoom - 1) holds: the served layers it has a zoom level of, in the
// order of ServedLayers(), and the highest plug-in zoom that each of them
// holds (0 when it holds none).
struct TileSetHoldings {
    std::vector<std::string> layers;
    int32_t maxZoom = 0;
};
TileSetHoldings LayersInDirectory(const std::string& directory);
