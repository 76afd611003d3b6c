#pragma once

#include <string>

#include "projection/tile_service.h"

// True when `pattern` holds {z}, {x} and {y}; {layer} and {ext} are optional.
bool IsTileTemplate(const std::string& pattern);

// `pattern` with {z}, {x}, {y}, {layer} and {ext} replaced by the address's parts.
std::string ExpandTileTemplate(const std::string& pattern, const TileAddress& address);
