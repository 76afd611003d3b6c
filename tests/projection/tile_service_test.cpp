// Where a listed tile lies in the world, and the address it is fetched
// from: columns past the antimeridian wrap to the world's first ones.

#include <gtest/gtest.h>

#include "projection/tile_service.h"
#include "projection/world_tile.h"

namespace {

bool operator==(const WorldTileKey& a, const WorldTileKey& b) {
    return a.zoom == b.zoom && a.column == b.column && a.row == b.row && a.wrap == b.wrap;
}

// The tile key of column `column` and row `row` (from the north) of the
// listed grid at `zoom`.
TileKey Listed(int64_t column, int64_t row, int32_t zoom) {
    return TileKey{static_cast<int32_t>(column * 256), static_cast<int32_t>((int64_t{1} << (zoom + 9)) + row * 256),
                   zoom};
}

TEST(WorldTile, WrapsColumnsPastTheEastEdgeAndKeepsTheListedServer) {
    const std::string base = "http://tile2.zarvo.example/geowebcache/service/tms1.0.0/";
    struct Case {
        TileKey key;
        WorldTileKey world;
        std::string listed;
        std::string fetched;  // empty: not the service's address of the tile
    } cases[] = {
        {Listed(8, 2, 4), {4, 0, 2, 1}, base + "map/3/8/5.png", base + "map/3/0/5.png"},
        {Listed(1, 0, 1), {1, 0, 0, 1}, base + "aerial/0/1/0.jpeg", base + "aerial/0/0/0.jpeg"},
        {Listed(7, 2, 4), {4, 7, 2, 0}, base + "map/3/7/5.png", base + "map/3/7/5.png"},
        {Listed(1048576, 1048572, 21), {21, 0, 1048572, 1}, base + "hybrid/20/1048576/3.png",
         base + "hybrid/20/0/3.png"},
        {Listed(17, 2, 4), {4, 1, 2, 2}, base + "map/3/17/5.png", base + "map/3/1/5.png"},
        // Rows beyond the world's edges: the plug-in's stand-in tile is no
        // tile of the world.
        {Listed(3, -1, 4), {4, 3, -1, 0}, base + "map/5/0/0.png", ""},
        {Listed(3, 8, 4), {4, 3, 8, 0}, base + "map/5/0/0.png", ""},
        // Addresses of another tile, or no tile at all.
        {Listed(8, 2, 4), {4, 0, 2, 1}, base + "map/3/8/4.png", ""},
        {Listed(8, 2, 4), {4, 0, 2, 1}, base + "map/3/0/5.png", ""},
        {Listed(8, 2, 4), {4, 0, 2, 1}, base + "map/4/8/5.png", ""},
        {Listed(8, 2, 4), {4, 0, 2, 1}, base + "map/3/x/5.png", ""},
        {Listed(8, 2, 4), {4, 0, 2, 1}, base + "map/3", ""},
        {Listed(8, 2, 4), {4, 0, 2, 1}, "http://elsewhere/map/3/8/5.png", ""},
    };
    for (const Case& c : cases) {
        const WorldTileKey world = LocateWorldTile(c.key);
        EXPECT_TRUE(world == c.world) << c.listed << ": column " << world.column << ", row " << world.row << ", wrap "
                                      << world.wrap;
        EXPECT_EQ(world.OutsideWorld(), c.world.row < 0 || c.world.row >= int64_t{1} << (c.world.zoom - 1))
            << c.listed;
        TileAddress address;
        const bool found = WorldTileAddress(world, c.listed, address);
        EXPECT_EQ(found, !c.fetched.empty()) << c.listed;
        if (found) {
            EXPECT_EQ(ServiceAddress(address), c.fetched) << c.listed;
        }
    }
}

}  // namespace
