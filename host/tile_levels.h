#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// What the source holds of the service's layers (map, aerial and hybrid):
// those it has a level of, in that order, and the deepest plug-in zoom
// that every one of them holds; a source that cannot say holds every layer
// to zoom 21. No layers and zoom 0 when it holds none.
struct LayersHeld {
    std::vector<std::string> layers;
    int32_t maxZoom = 0;
};
LayersHeld LayersInSource(const std::string& source);
