#pragma once

#include <cstdint>
#include <string>

// A tile as the service addresses it: http://SERVER/geowebcache/service/
// tms1.0.0/LAYER/Z/X/Y.EXT, where Z is the service's zoom (the request's
// zoom - 1) and Y counts rows from the south.
struct TileAddress {
    std::string layer;
    int64_t z = 0;
    int64_t x = 0;
    int64_t y = 0;
    std::string extension;
};

// False for anything but a service address with a plain layer name
// (letters, digits, '-' and '_'), three decimal numbers and an extension.
bool ParseTileAddress(const std::string& url, TileAddress& address);

// LAYER/Z/X/Y.EXT: where the tile lies in a directory in the service's layout.
std::string RelativeTilePath(const TileAddress& address);

// True when `pattern` holds {z}, {x} and {y} or {-y}; {layer}, {ext} and
// {s:...} are optional.
bool IsTileTemplate(const std::string& pattern);

// `pattern` with the address's parts in place, in the conventions of web
// map tools: {z} the service's zoom, {x} the column, {y} the row counted
// from the north (XYZ), {-y} the row counted from the south (TMS), {layer},
// {ext}, and {s:a,b,c} one of the listed names ({s} alone: a, b or c),
// chosen by the tile so that one tile always comes from one server.
std::string ExpandTileTemplate(const std::string& pattern, const TileAddress& address);
