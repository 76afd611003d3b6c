#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "drawing/map_failure.h"
#include "drawing/map_statistics.h"

// What a protocol's door (the WMS, the WMTS, XYZ, the OGC API) answers,
// whatever carries it: a document, a drawn map with its statistics, or an
// exception report with the failure behind it when drawing failed.
struct DoorAnswer {
    int status = 200;  // HTTP's
    std::string contentType;
    std::string body;
    // Headers of the door's own beside the content type (the OGC API's
    // Content-Crs and Content-Bbox).
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<MapStatistics> drawn;
    std::optional<MapFailure> failure;
};
