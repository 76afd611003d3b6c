#pragma once

// The tile service's address format, in one place: the plug-in writes the
// addresses, the hosts read them.
//
//   http://tileN.zarvo.example/geowebcache/service/tms1.0.0/LAYER/Z/X/Y.EXT
//
// N (1 to 4) spreads the tiles over the service's servers, Z is the
// service's zoom (the request's zoom - 1), Y counts rows from the south.

#include <cstdint>
#include <string>

#include "projection/address_list.h"
#include "projection/world_tile.h"

// The service's layers, as the plug-in binds them and the hosts list them.
constexpr const char* kServiceLayers[] = {"map", "aerial", "hybrid"};

// The image type of a layer's tiles at the service, as their addresses
// name it: JPEG for the aerial photographs, PNG for the drawn layers.
const char* ServiceImageType(const std::string& layer);

// One tile as the service addresses it.
struct TileAddress {
    std::string layer;
    int64_t z = 0;
    int64_t x = 0;
    int64_t y = 0;
    std::string extension;
    std::string server;  // what comes before the service path: http://tileN.zarvo.example
};

// Appends the address of tile (z, x, y) of `layer` to `out`, written in
// place without a temporary: hosts ask for tens of thousands at once.
void AppendServiceAddress(const std::u16string& layer, const char16_t* extension, int64_t z, int64_t x, int64_t y,
                          AddressList& out);

// False for anything but a service address with a plain layer name
// (letters, digits, '-' and '_'), three decimal numbers and an extension.
bool ParseTileAddress(const std::string& url, TileAddress& address);

// LAYER/Z/X/Y.EXT: where the tile lies in a directory in the service's layout.
std::string RelativeTilePath(const TileAddress& address);

// The address again, as the service spells it.
std::string ServiceAddress(const TileAddress& address);

// The address to fetch for world tile `tile`, which the plug-in listed as
// `listed`: the same server, layer and image type, at the tile's column in
// the world (the plug-in lists a column east of the last one at an address
// no tile server has). False when `listed` is not the service's address of
// that tile.
bool WorldTileAddress(const WorldTileKey& tile, const std::string& listed, TileAddress& address);
