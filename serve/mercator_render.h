#pragma once

#include <string>

#include "serve/map_renderer.h"
#include "serve/map_window.h"

// Draws an EPSG:3857 window with the plug-in sampling every pixel itself.
//
// The plug-in samples a request on a grid that is regular in longitude and
// latitude, with its first row exactly at `north` and, for a height of 2,
// its second exactly at north + (south - north). Mercator rows are not
// evenly spaced in latitude, so the window is drawn in bands of two rows:
// one request per band, north and south the two rows' own latitudes. Where
// north + (south - north) does not give the second latitude back to the bit
// (rows of opposite sign near the equator), the band is one row, which the
// plug-in samples at `north`. Every band shares the window's columns.
RenderResult RenderMercatorWindow(MapRenderer& renderer, const std::string& layer, const MercatorWindow& window);

// True when a request of two rows from `north` to `south` samples its
// second row at `south` exactly, in the plug-in's own arithmetic.
bool SecondRowLandsOn(double north, double south);
