#pragma once

#include <chrono>
#include <string>

#include "drawing/map_maker.h"
#include "serve/answers/door_answer.h"
#include "serve/description/service_description.h"
#include "serve/wms/wms_query.h"

// Answers WMS requests: capabilities, maps, and exception reports for
// everything else.
class WmsService {
public:
    using Clock = std::chrono::steady_clock;

    // `description` gives the capabilities' texts and the tile set's zooms;
    // it and `maps` outlive the service.
    WmsService(MapMaker& maps, const ServiceDescription& description) : maps(maps), description(description) {}

    // The answer to a request as it was read. `serviceUrl` is the address
    // the capabilities tell clients to use; a GetMap whose tiles are not
    // there by `deadline` gets 504.
    DoorAnswer Answer(const ParsedWms& request, const std::string& serviceUrl,
                      Clock::time_point deadline = Clock::time_point::max());

private:
    MapMaker& maps;
    const ServiceDescription& description;
};
