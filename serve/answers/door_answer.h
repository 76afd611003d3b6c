#pragma once

#include <optional>
#include <string>

#include "drawing/map_failure.h"
#include "drawing/map_statistics.h"

// What a protocol's door (the WMS, the WMTS) answers, whatever carries it:
// a document, a drawn map with its statistics, or an exception report with
// the failure behind it when drawing failed.
struct DoorAnswer {
    int status = 200;  // HTTP's
    std::string contentType;
    std::string body;
    std::optional<MapStatistics> drawn;
    std::optional<MapFailure> failure;
};
