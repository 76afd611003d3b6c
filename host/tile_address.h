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

// True when `pattern` holds {z}, {x} and {y}; {layer} and {ext} are optional.
bool IsTileTemplate(const std::string& pattern);

// `pattern` with {z}, {x}, {y}, {layer} and {ext} replaced by the address's parts.
std::string ExpandTileTemplate(const std::string& pattern, const TileAddress& address);
