#pragma once

#include <cstdint>

// Which raster layer of the tile service a layer or transform serves. The
// numbers are fixed: hosts and tile addresses depend on them.
enum class LayerKind : int32_t {
    None = 0,  // no layer name recognised
    Aerial = 1,
    Map = 2,
    Hybrid = 3,
};

// A point in world-pixel space at one zoom level. `y` is always the offset
// y: the Mercator y plus four world heights, so it stays positive at every
// latitude the projection accepts.
struct WorldPoint {
    double x;
    double y;
};

// One tile of one request: the world-pixel position of its north-west
// corner (offset y) and the zoom level of the request.
struct TileKey {
    int32_t x;
    int32_t y;
    int32_t zoom;
};

inline bool operator==(const TileKey& a, const TileKey& b) {
    return a.x == b.x && a.y == b.y && a.zoom == b.zoom;
}

// A geographic rectangle given by two opposite corners in degrees. Neither
// corner has to be a particular one; the enumeration uses all four
// combinations of the two longitudes and the two latitudes.
struct GeoBox {
    double lon1;
    double lat1;
    double lon2;
    double lat2;
};
