#pragma once

#include <cstdint>
#include <vector>

#include "host/placement.h"
#include "drawing/map_request.h"

// What a map shows where it has no tiles. DrawMap fills every row whose
// centre lies beyond the world's edges with the background; this paints
// the rows beyond the grid's own edges in the void colour, when the map
// asks for one of their own, and gives each row's opacity: 0 where the map
// asks for that part to be clear, else 255. Empty when every row is
// opaque, as every row of a JPEG is.
std::vector<uint8_t> PaintBackground(const MapRequest& map, const PixelGrid& grid, std::vector<uint8_t>& rgb);
