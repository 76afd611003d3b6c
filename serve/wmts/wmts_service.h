#pragma once

#include <chrono>
#include <string>

#include "drawing/map_maker.h"
#include "serve/answers/door_answer.h"
#include "serve/description/service_description.h"
#include "serve/wmts/wmts_request.h"

// Where clients reach the WMTS: its key-value form (e.g. http://HOST/wmts?)
// and the base of its RESTful addresses (e.g. http://HOST/wmts/1.0.0).
struct WmtsAddresses {
    std::string keyValue;
    std::string restful;
};

// Answers WMTS 1.0.0 requests: the capabilities, and tiles drawn as maps
// of their own, on the same path as the WMS's.
class WmtsService {
public:
    using Clock = std::chrono::steady_clock;

    // `maps` and `description` outlive the service.
    WmtsService(MapMaker& maps, const ServiceDescription& description) : maps(maps), description(description) {}

    // The answer to a request as it was read, in either form; a tile whose
    // map tiles are not there by `deadline` gets 504.
    DoorAnswer Answer(const ParsedWmts& request, const WmtsAddresses& addresses,
                      Clock::time_point deadline = Clock::time_point::max());

private:
    MapMaker& maps;
    const ServiceDescription& description;
};
