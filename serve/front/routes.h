#pragma once

#include <string_view>

// Where a request goes, by its path.
enum class Door {
    Health,     // /healthz: the process answers
    Readiness,  // /readyz: the tile source can be used
    Metrics,    // /metrics
    Wms,        // /wms
    WmtsQuery,  // /wmts, the key-value form
    WmtsPath,   // /wmts/1.0.0/..., the RESTful form
    Xyz,        // /tiles/...: XYZ tiles and TileJSON
    OgcApi,     // /ogcapi and everything below it
    Counters,   // /stats
    Page,       // the map page's files: every other path
};

// The door of a path (the target without its query, still percent-encoded).
Door DoorOf(std::string_view path);

// The path of a door, e.g. "/wms", or the prefix every path of a door of
// many starts with, "/wmts/1.0.0/" or "/tiles/"; "/ogcapi" for the OGC
// API's root; "/" for the page.
std::string_view PathOf(Door door);
