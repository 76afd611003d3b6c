#pragma once

#include <chrono>
#include <string>

#include "serve/description/service_description.h"
#include "serve/drawing/door_answer.h"
#include "serve/drawing/map_maker.h"
#include "serve/xyz/xyz_request.h"

// Answers the XYZ door: tiles drawn as maps of their own on the path every
// door shares, TileJSON documents, and a line of text for an address that
// names nothing.
class XyzService {
public:
    using Clock = std::chrono::steady_clock;

    // `maps` and `description` outlive the service.
    XyzService(MapMaker& maps, const ServiceDescription& description) : maps(maps), description(description) {}

    // The answer to a request as it was read. `tilesBase` is the public
    // address of the door, ending in '/' (e.g. https://HOST/tiles/), which
    // TileJSON's tile addresses start with; a tile whose map tiles are not
    // there by `deadline` gets 504.
    DoorAnswer Answer(const ParsedXyz& request, const std::string& tilesBase,
                      Clock::time_point deadline = Clock::time_point::max());

private:
    MapMaker& maps;
    const ServiceDescription& description;
};
