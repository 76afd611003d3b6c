#pragma once

#include <chrono>
#include <string>

#include "drawing/map_maker.h"
#include "serve/answers/door_answer.h"
#include "serve/description/service_description.h"
#include "serve/ogcapi/ogcapi_request.h"

// Answers the OGC API: its documents in JSON or as pages, maps and tiles
// drawn on the same path as the WMS's and the WMTS's, and problem
// documents (RFC 9457, application/problem+json) for what it refuses.
class OgcApiService {
public:
    using Clock = std::chrono::steady_clock;

    // `maps` and `description` outlive the service.
    OgcApiService(MapMaker& maps, const ServiceDescription& description) : maps(maps), description(description) {}

    // The answer to a request as it was read; `root` is the public address
    // of /ogcapi, which the documents' links hang off. A map whose tiles are
    // not there by `deadline` gets 504.
    DoorAnswer Answer(const ParsedOgcApi& request, const std::string& root,
                      Clock::time_point deadline = Clock::time_point::max());

private:
    MapMaker& maps;
    const ServiceDescription& description;
};
