#pragma once

#include <cstdint>

#include "projection/geo_types.h"

// The spherical-Mercator world the tiles cover, its forward formulas as the
// plug-in evaluates them and their inverses, in one place for the plug-in
// and every host.

// The world's north and south edges: atan(sinh(pi)) in degrees. A pixel
// whose centre lies beyond them has no data, whatever a tile service would
// answer there.
constexpr double kWorldNorth = 85.0511287798066;
constexpr double kWorldSouth = -kWorldNorth;

constexpr bool CentreInWorld(double latitude) {
    return latitude >= kWorldSouth && latitude <= kWorldNorth;
}

// The same world in EPSG:3857: a square this many metres from the origin
// on every side (pi times the sphere's radius of 6378137 m).
constexpr double kMercatorHalfWorld = 20037508.342789244;

// Spherical Mercator projection of (lon, lat) in degrees to pixels of a
// world that is 256 * 2^scaleExponent pixels wide. The y it returns is
// measured from the north edge of the world, without the offset that
// ToWorldPixel adds.
WorldPoint MercatorProject(double lon, double lat, int32_t scaleExponent);

// The two halves of MercatorProject, for callers that need only one axis.
// They evaluate exactly the same expressions, so they give the same bits.
double MercatorX(double lon, double scale);
double MercatorY(double lat, double scale);

// The world pixel of (lon, lat) at `zoom` in the offset form of WorldPoint:
// every layer of the plug-in places its tiles by it.
WorldPoint MercatorWorldPixel(double lon, double lat, int32_t zoom);

// The inverses, within the world (where the sine clamp does not act): the
// longitude of x and the latitude of y of MercatorX and MercatorY at
// `scale`, and of a world pixel of MercatorWorldPixel at `zoom`.
double LongitudeOfMercatorX(double x, double scale);
double LatitudeOfMercatorY(double y, double scale);
double LongitudeOfWorldX(double x, int32_t zoom);
double LatitudeOfWorldY(double y, int32_t zoom);

// The longitude of an easting and the latitude of a northing in EPSG:3857
// metres.
double LongitudeOfEasting(double metres);
double LatitudeOfNorthing(double metres);

// The latitude whose MercatorY at `scale` lies `pixels` north of lat's.
double LatitudeNorthOf(double lat, double pixels, double scale);
