#pragma once

#include <cstdint>
#include <string>

// What a tile source holds, as far as it can tell without fetching a tile:
// the deepest of its levels, as the plug-in's zoom (the level + 1). Every
// host program caps its automatic zoom at it, so that a box is not drawn
// from levels the source does not have.

// The source cannot say: a tile server or a URL template.
constexpr int32_t kLevelsUnknown = -1;

// The deepest plug-in zoom, 1 to 21, at which the source `source` (as
// MakeTileSource takes it) holds tiles of `layer`; 0 when it holds none,
// kLevelsUnknown when it cannot say.
//   a directory in the service's layout: the deepest DIR/LAYER/Z folder;
//   a path template: the deepest value {z} takes among the folders or files
//     where {z} stands ({layer} as `layer`);
//   an MBTiles file (one layer for all): its metadata's maxzoom, else the
//     deepest zoom_level of its tiles.
int32_t DeepestZoomHeld(const std::string& source, const std::string& layer);

// The deepest plug-in zoom at which the source holds every layer of the
// service (map, aerial and hybrid); 0 when it lacks one, kLevelsUnknown
// when it cannot say.
int32_t DeepestZoomOfEveryLayer(const std::string& source);
