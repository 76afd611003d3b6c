// Tile addresses past the antimeridian wrap to the world's first column.

#include <gtest/gtest.h>

#include "projection/tile_service.h"

namespace {

TEST(TileAddress, WrapsColumnsPastTheEastEdgeOnly) {
    const std::string base = "http://tile2.zarvo.example/geowebcache/service/tms1.0.0/";
    struct Case {
        std::string in, out;
    } cases[] = {
        {base + "map/3/8/5.png", base + "map/3/0/5.png"},
        {base + "aerial/0/1/0.jpeg", base + "aerial/0/0/0.jpeg"},
        {base + "map/3/7/5.png", base + "map/3/7/5.png"},
        {base + "hybrid/20/1048576/3.png", base + "hybrid/20/0/3.png"},
        {base + "map/3/x/5.png", base + "map/3/x/5.png"},
        {base + "map/31/8/5.png", base + "map/31/8/5.png"},
        {base + "map/3", base + "map/3"},
        {"http://elsewhere/map/3/8/5.png", "http://elsewhere/map/3/8/5.png"},
    };
    for (const Case& c : cases) EXPECT_EQ(WrapTileColumn(c.in), c.out) << c.in;
}

}  // namespace
