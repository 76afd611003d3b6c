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

// A tile as a message names it: where it was asked for (`tried`, the file
// path or URL; the service address `url` when empty), then, when `url` is a
// service address, its place in the service's grid, rows counted from the
// north as {y} counts them: "URL (level 2, column 3, row 1 from the north)".
std::string NameTile(const std::string& tried, const std::string& url);
