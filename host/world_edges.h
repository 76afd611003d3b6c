#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <zarvo_data_plugin.h>

// What the tiles cover: the spherical-Mercator world, whose north and south
// edges lie at atan(sinh(pi)) degrees. A pixel whose centre lies beyond them
// has no data, whatever a tile service would answer there.
constexpr double kWorldNorth = 85.0511287798066;
constexpr double kWorldSouth = -kWorldNorth;

constexpr bool CentreInWorld(double latitude) {
    return latitude >= kWorldSouth && latitude <= kWorldNorth;
}

struct TileKey;

// Where a tile the plug-in lists lies in the world: its column, wrapped
// into the world, and its row counted from the north edge; or outside the
// world (north or south of it).
struct WorldTile {
    bool outsideWorld = false;
    int64_t column = 0, row = 0;
};
WorldTile LocateWorldTile(const TileKey& key);

// How a host treats tile k of a request's address list.
struct TileSlot {
    bool outsideWorld = false;  // a row north or south of the world: a blank, never fetched
    std::string url;            // otherwise the address to fetch, its column wrapped into the world
};

// The plug-in lists rows beyond the world's edges (and gives them a fixed
// stand-in tile's address) and columns east of the last one (at addresses
// no service has). Hosts fetch neither: a row outside the world is drawn
// blank, and a column past the last is the column that many worlds west.
// `urls` is the list the plug-in made for `request`; false when it does not
// match the request's tile grid.
bool PlanTileSlots(const DataRequestBlock& request, const std::vector<std::string>& urls,
                   std::vector<TileSlot>& slots);

// The addresses a host fetches for `slots`: those of the slots in the
// world, in list order.
std::vector<std::string> AddressesToFetch(const std::vector<TileSlot>& slots);
