#pragma once

#include <cstdint>
#include <vector>

#include "host/zoom_choice.h"
#include "serve/wms_query.h"

// What the tiles cover: the whole spherical-Mercator world.
constexpr double kCoverageWest = -180.0;
constexpr double kCoverageEast = 180.0;
constexpr double kCoverageNorth = 85.0511287798066;  // atan(sinh(pi)) in degrees
constexpr double kCoverageSouth = -kCoverageNorth;
// The same world in EPSG:3857: a square this many metres from the origin
// on every side (pi times the sphere's radius of 6378137 m).
constexpr double kMercatorHalfWorld = 20037508.342789244;

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

// The part of an EPSG:3857 image that the tiles cover. Its columns are
// evenly spaced in longitude, its rows are not evenly spaced in latitude:
// each row has its own. `window` places it in the image and gives the
// zoom, the first and last columns' longitudes and the first and last
// rows' latitudes.
struct MercatorWindow {
    MapWindow window;
    std::vector<double> rowLatitudes;  // the latitude of each row's centre, north first
};

// Lays an image of `width` x `height` over `box` (metres, EPSG:3857) and
// finds the pixels whose centres the tiles cover, with the zoom the rule
// gives for the image's Mercator resolution.
MercatorWindow PlanMercatorWindow(const LonLatBox& box, uint32_t width, uint32_t height, int32_t maxZoom);

// The smallest plug-in zoom whose tiles have at least one pixel per output
// pixel of `dx` x `dy` metres of EPSG:3857, capped at `maxZoom`: a tile
// pixel is 2 * kMercatorHalfWorld / (256 * 2^(zoom-1)) metres everywhere.
int32_t ChooseMercatorZoom(double dx, double dy, int32_t maxZoom);

// Where the plug-in is asked to sample an EPSG:3857 pixel centre: the
// longitude of easting `x` and the latitude of northing `y` (metres).
double MercatorLongitude(double x);
double MercatorLatitude(double y);
