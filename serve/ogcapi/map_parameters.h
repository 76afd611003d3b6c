#pragma once

#include <string>
#include <string_view>

#include "drawing/map_request.h"
#include "serve/http/query_string.h"
#include "serve/ogcapi/ogc_crs.h"

// The parameters of an OGC API map: which area (bbox, subset or center,
// each in a CRS of its own), in which CRS (crs), at what size (width,
// height, scale-denominator), and on what background (bgcolor,
// transparent, void-color, void-transparent). Names are matched exactly,
// as the OGC API's are case-sensitive.

// The parameter of exactly that name, or null.
const std::string* FindExact(const QueryParameters& parameters, std::string_view name);

// Why a map cannot be drawn as asked: 400, or 413 for an image beyond the
// limits, and one line saying which parameter and why.
struct MapParameterError {
    int status = 400;
    std::string message;
};

// Reads the area, CRS and size into `map` (crs, box, width, height);
// `crs` is the CRS the answer is in. Whatever is not given is filled in:
// given an area, a missing side follows its shape (with neither side nor
// scale the longer is 1024 pixels); without one, the view is around the
// centre (the extent's by default) at the scale (the whole extent's at
// 1024 pixels by default), of the size given, a missing side as long as
// the other, 1024 pixels square by default; with none of these, the
// layers' whole extent, 1024 pixels on its longer side.
bool ReadMapView(const QueryParameters& query, MapRequest& map, OgcCrs& crs, MapParameterError& error);

// Reads the background into `map`, whose format is set: without bgcolor
// the background is white and clear, with it opaque; a JPEG, which cannot
// be clear, is always opaque.
bool ReadBackground(const QueryParameters& query, MapRequest& map, MapParameterError& error);
