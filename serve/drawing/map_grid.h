#pragma once

#include <cstdint>

#include "host/placement.h"
#include "host/zoom_choice.h"
#include "projection/mercator.h"
#include "serve/drawing/map_request.h"

// What the tiles cover: the whole spherical-Mercator world (in EPSG:3857
// kMercatorHalfWorld metres from the origin on every side).
constexpr double kCoverageWest = -180.0;
constexpr double kCoverageEast = 180.0;
constexpr double kCoverageNorth = kWorldNorth;
constexpr double kCoverageSouth = kWorldSouth;

// The pixels of a GetMap image of `width` x `height` whose outer edges are
// `box`, each seen at its centre. EPSG:4326 (degrees): a regular grid, on
// the global lattice when its edges lie on whole pixels from longitude -180
// and latitude 90, so that neighbouring tiles of one size sample alike.
// EPSG:3857 (metres): columns evenly spaced in longitude, rows evenly
// spaced in metres, each at the latitude of its own centre.
PixelGrid MapGrid(const MapBox& box, MapCrs crs, uint32_t width, uint32_t height);

// The zoom an image is drawn at. EPSG:4326: ChooseImageZoom, the hosts'
// rule. EPSG:3857: the smallest zoom whose tile pixels are no larger than
// the image's.
int32_t MapZoom(const MapBox& box, MapCrs crs, uint32_t width, uint32_t height, int32_t maxZoom);

// The smallest plug-in zoom whose tiles have at least one pixel per output
// pixel of `dx` x `dy` metres of EPSG:3857, capped at `maxZoom`: a tile
// pixel is 2 * kMercatorHalfWorld / (256 * 2^(zoom-1)) metres everywhere.
int32_t ChooseMercatorZoom(double dx, double dy, int32_t maxZoom);
