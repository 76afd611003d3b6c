#pragma once

#include <cstdint>
#include <string>

#include "serve/description/service_description.h"
#include "serve/drawing/tile_matrix_sets.h"

// The TileJSON 3.0.0 document of one layer in one tile matrix set: its
// tiles at `tilesTemplate` (an address with {z}, {x} and {y}), levels 0 to
// `highestLevel`, the tiled world's bounds, a centre over Europe, the
// layer's title, abstract and credits (as HTML, linked where they name
// where to).
std::string TileJsonDocument(const LayerDescription& layer, int32_t highestLevel, const std::string& tilesTemplate);
