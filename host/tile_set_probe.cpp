#include "host/tile_set_probe.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "projection/tile_service.h"
#include "projection/zoom.h"

int32_t HighestZoomInDirectory(const std::string& directory) {
    namespace fs = std::filesystem;
    int32_t lowestOfLayers = kMaxZoom;
    for (const char* layer : kServiceLayers) {
        int32_t highest = 0;
        std::error_code error;
        for (fs::directory_iterator it(fs::path(directory) / layer, error), end; !error && it != end;
             it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (name.empty() || name.size() > 2 || !it->is_directory(error)) continue;
            if (!std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
            highest = std::max(highest, std::stoi(name) + 1);
        }
        lowestOfLayers = std::min(lowestOfLayers, highest);
    }
    return std::min<int32_t>(lowestOfLayers, kMaxZoom);
}
