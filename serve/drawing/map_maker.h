#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "serve/drawing/allowance.h"
#include "serve/drawing/door_answer.h"
#include "serve/drawing/map_cost.h"
#include "serve/drawing/map_failure.h"
#include "serve/drawing/map_renderer.h"
#include "serve/drawing/map_request.h"
#include "serve/drawing/map_statistics.h"

// One map drawn and encoded, or why it could not be.
struct EncodedMap {
    std::optional<MapFailure> failure;  // set: no image
    std::string contentType;            // image/png or image/jpeg
    std::string bytes;
    MapStatistics statistics;
};

// A door's answer for a map: the image with its statistics, or the
// exception report `report` writes for the failure's status and code.
using FailureReportWriter = std::function<DoorAnswer(const FailureReport& report, const std::string& message)>;
DoorAnswer MapAnswer(EncodedMap map, const FailureReportWriter& report);

// Draws and encodes maps in either grid: the one path of every WMS GetMap
// and every WMTS tile.
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
