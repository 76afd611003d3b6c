#pragma once

#include <cstdint>
#include <string>

#include "drawing/map_request.h"
#include "drawing/tile_matrix_sets.h"

// One tile of a tile matrix set as a map in its set's grid: what the WMTS
// draws for a tile and zarvo-render's pyramids draw for each of theirs, so
// that a tile is the same to the byte wherever it is drawn.
MapRequest TileMapRequest(const std::string& layer, const TileMatrixSet& set, int32_t level, uint32_t row,
                          uint32_t column, ImageFormat format);

// False when no pixel of `map` has its centre on the tiled world, all lying
// beyond its northern or southern edge: the map is then the background
// alone, drawn from no tile.
bool MapTouchesTheWorld(const MapRequest& map);
