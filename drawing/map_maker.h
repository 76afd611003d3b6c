#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "drawing/allowance.h"
#include "drawing/map_cost.h"
#include "drawing/map_failure.h"
#include "drawing/map_renderer.h"
#include "drawing/map_request.h"
#include "drawing/map_statistics.h"

// One map drawn and encoded, or why it could not be.
struct EncodedMap {
    std::optional<MapFailure> failure;  // set: no image
    std::string contentType;            // the format's media type
    std::string bytes;
    MapStatistics statistics;
};

// Draws and encodes maps in either grid: the one path of every door's maps
// and tiles, and of zarvo-render's pyramids.
class MapMaker {
public:
    using Clock = std::chrono::steady_clock;

    // `maxZoom`: the deepest zoom drawn. `pluginGrid`: the plug-in's own
    // positions (see MapDrawing).
    MapMaker(MapRenderer& renderer, int32_t maxZoom, bool pluginGrid)
        : renderer(renderer), maxZoom(maxZoom), pluginGrid(pluginGrid) {}

    // Bytes that images being drawn and encoded may take at once: each map
    // holds three images' worth (the image, the plug-in's raster of a
    // segment, the encoded file at most) from before its DataRequest until
    // it is encoded.
    static constexpr size_t kImageBytesHeld = 256u << 20;

    // A map whose tiles are not there by `deadline` fails as TileLate.
    EncodedMap Make(const MapRequest& map, Clock::time_point deadline = Clock::time_point::max());

    // What drawing `map` would take now; cheap enough for the event loop.
    MapCost Cost(const MapRequest& map) const;

private:
    MapRenderer& renderer;
    const int32_t maxZoom;
    const bool pluginGrid;
    Allowance imageBytes{kImageBytesHeld};
};
