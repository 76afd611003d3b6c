#pragma once

#include <string>

#include "drawing/map_request.h"

// The coordinate reference systems the OGC API draws maps in and reads
// coordinates in, by their OGC URIs. CRS84 and EPSG:4326 are the same
// longitude/latitude grid with their axes in the other order.
enum class OgcCrs { Crs84, Epsg4326, Epsg3857 };

// Every one, in the order the documents list them.
constexpr OgcCrs kOgcCrses[] = {OgcCrs::Crs84, OgcCrs::Epsg4326, OgcCrs::Epsg3857};

// E.g. http://www.opengis.net/def/crs/OGC/1.3/CRS84.
const char* CrsUri(OgcCrs crs);

// The CRS a parameter names: its URI (over http or https) or its safe
// CURIE ([OGC:CRS84], [EPSG:4326], [EPSG:3857]). False for any other.
bool ParseCrs(const std::string& text, OgcCrs& crs);

// The grid its maps are drawn on.
MapCrs GridOf(OgcCrs crs);

// Whether its coordinates come latitude first (EPSG:4326's order).
inline bool LatitudeFirst(OgcCrs crs) {
    return crs == OgcCrs::Epsg4326;
}
