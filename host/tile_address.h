#pragma once

#include <string>

#include "projection/tile_service.h"

// True when `pattern` holds {z}, {x} and {y} or {-y}; {layer}, {ext} and
// {s:...} are optional.
bool IsTileTemplate(const std::string& pattern);

// `pattern` with the address's parts in place, in the conventions of web
// map tools: {z} the service's zoom, {x} the column, {y} the row counted
// from the north (XYZ), {-y} the row counted from the south (TMS), {layer},
// {ext}, and {s:a,b,c} one of the listed names ({s} alone: a, b or c),
// chosen by the tile so that one tile always comes from one server.
std::string ExpandTileTemplate(const std::string& pattern, const TileAddress& address);
