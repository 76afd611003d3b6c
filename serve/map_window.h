#pragma once

#include <cstdint>

#include "host/zoom_choice.h"
#include "serve/wms_query.h"

// What the tiles cover: the whole spherical-Mercator world.
constexpr double kCoverageWest = -180.0;
constexpr double kCoverageEast = 180.0;
constexpr double kCoverageNorth = 85.0511287798066;  // atan(sinh(pi)) in degrees
constexpr double kCoverageSouth = -kCoverageNorth;

// The part of a WMS image that the tiles cover, and the plug-in request
// that samples it.
struct MapWindow {
    bool empty = true;                 // no pixel centre lies on the tiles
    uint32_t column0 = 0, row0 = 0;    // where the window starts in the image
    uint32_t columns = 0, rows = 0;
    double west = 0, east = 0, north = 0, south = 0;  // for the plug-in: centres of the edge pixels
    int32_t zoom = 0;
};

// Lays a GetMap image of `width` x `height` over `box` and finds the window
// of pixels the tiles cover, with the zoom to draw it at (ChooseZoom at the
// middle latitude of the covered part of the box).
MapWindow PlanMapWindow(const LonLatBox& box, uint32_t width, uint32_t height, int32_t maxZoom);
