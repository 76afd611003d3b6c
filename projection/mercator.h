#pragma once

#include <cstdint>

#include "projection/geo_types.h"

// Spherical Mercator projection of (lon, lat) in degrees to pixels of a
// world that is 256 * 2^scaleExponent pixels wide. The y it returns is
// measured from the north edge of the world, without the offset that
// ToWorldPixel adds.
WorldPoint MercatorProject(double lon, double lat, int32_t scaleExponent);

// The two halves of MercatorProject, for callers that need only one axis.
// They evaluate exactly the same expressions, so they give the same bits.
double MercatorX(double lon, double scale);
double MercatorY(double lat, double scale);
