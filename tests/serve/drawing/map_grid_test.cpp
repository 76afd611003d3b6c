// Where a WMS image's pixels lie, on which lattice, and the zoom they are
// drawn at.

#include <gtest/gtest.h>

#include <algorithm>

#include "serve/drawing/map_grid.h"
#include "serve/drawing/tile_matrix_sets.h"

namespace {

TEST(MapGrid, PutsTilesOfOneSizeOnOneLattice) {
    // WorldCRS84Quad tiles of one level: whole pixels from -180 and 90, so
    // neighbours share the lattice and its blocks.
    const PixelGrid tile = MapGrid(MapBox{-90, 0, -45, 45}, MapCrs::LonLat, 256, 256);
    EXPECT_EQ(tile.latticeWest, -180);
    EXPECT_EQ(tile.latticeNorth, 90);
    EXPECT_EQ(tile.column0, 512);
    EXPECT_EQ(tile.row0, 256);
    // A box off the lattice keeps its own edges.
    const PixelGrid own = MapGrid(MapBox{-12, 34, 32, 62}, MapCrs::LonLat, 1000, 760);
    EXPECT_EQ(own.West(), -12);
    EXPECT_EQ(own.North(), 62);
    EXPECT_EQ(own.CentreLon(own.column0), -12 + 0.044 / 2);
}

TEST(MapGrid, ChoosesTheSmallestZoomWithAPixelPerPixel) {
    const double zoom1Pixel = 360.0 / 256;  // degrees across one tile pixel at zoom 1
    struct Case {
        double dx, dy, latitude;
        int32_t maxZoom, zoom;
    } cases[] = {
        {zoom1Pixel, zoom1Pixel, 0, 21, 1},
        {zoom1Pixel * 0.999, zoom1Pixel, 0, 21, 2},
        {zoom1Pixel / 4, zoom1Pixel / 4, 0, 21, 3},
        {zoom1Pixel / 5, zoom1Pixel / 5, 0, 21, 4},
        {10, zoom1Pixel / 4, 0, 21, 3},                   // the finer axis decides
        {zoom1Pixel, zoom1Pixel * 0.51, 60, 21, 1},       // Mercator rows are short at 60 degrees
        {zoom1Pixel, zoom1Pixel * 0.49, 60, 21, 2},
        {44.0 / 1000, 28.0 / 760, 48, 21, 6},             // Europe on 1000 x 760
        {44.0 / 1000, 28.0 / 760, 48, 4, 4},              // capped at what the tiles have
        {1e-9, 1e-9, 0, 21, 21},
        {1000, 1000, 0, 21, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseZoom(c.dx, c.dy, c.latitude, c.maxZoom), c.zoom) << c.dx << " " << c.dy << " " << c.latitude;
    }
}

TEST(MapGrid, DrawsAtTheZoomWorkedOutByHand) {
    // A tile pixel is 1.40625 / 2^(zoom-1) degrees across and that times
    // cos(latitude) up and down; in EPSG:3857, 156543.03 / 2^(zoom-1) metres.
    constexpr double kHalf = 20037508.342789244;
    struct Case {
        const char* what;
        MapBox box;
        MapCrs crs;
        uint32_t width, height;
        int32_t maxZoom, zoom;
    } cases[] = {
        // Rows of 0.17 degrees at 42.5 N, the middle of the part on the
        // tiles (0 to 85.05), not of the box: 0.176 x 0.737 = 0.130 fits at
        // zoom 4, 0.352 x 0.737 = 0.259 does not at zoom 3.
        {"rows at the middle of the covered latitudes", {0, 0, 100, 170}, MapCrs::LonLat, 10, 1000, 21, 4},
        {"the same south of the equator", {0, -170, 100, 0}, MapCrs::LonLat, 10, 1000, 21, 4},
        // Rows of 0.25 degrees at 52.5 N: 0.352 x 0.609 = 0.214 fits at zoom 3.
        {"rows shortened by Mercator", {10, 40, 110, 65}, MapCrs::LonLat, 10, 100, 21, 3},
        {"the world on one tile's pixels", {-180, -90, 180, 90}, MapCrs::LonLat, 256, 128, 21, 1},
        {"capped at the tile set's deepest", {0, 0, 0.001, 0.001}, MapCrs::LonLat, 256, 256, 6, 6},
        // Pixels of 10 km: tile pixels of 9784 m at zoom 5, 19568 m at 4.
        {"EPSG:3857, 10 km pixels", {0, 0, 1e6, 1e6}, MapCrs::WebMercator, 100, 100, 21, 5},
        {"EPSG:3857, the finer axis decides", {0, 0, 1e7, 1e5}, MapCrs::WebMercator, 10, 10, 21, 5},
        {"EPSG:3857, the world on four tiles", {-kHalf, -kHalf, kHalf, kHalf}, MapCrs::WebMercator, 512, 512, 21, 2},
        // Pixels of 1 m: tile pixels of 0.60 m at zoom 19, 1.19 m at 18.
        {"EPSG:3857, 1 m pixels", {0, 0, 256, 256}, MapCrs::WebMercator, 256, 256, 21, 19},
        {"never below the first zoom", {0, 0, 1e6, 1e6}, MapCrs::WebMercator, 100, 100, 0, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MapZoom(c.box, c.crs, c.width, c.height, c.maxZoom), c.zoom) << c.what;
    }
}

}  // namespace

TEST(MercatorGrid, DrawsEachWmtsTileAtTheTilesOwnZoom) {
    // A WebMercatorQuad tile's pixels are a tile pixel of the service's zoom
    // of the same number, its 512 px twin's of the zoom after; rounding of
    // the tile's edges must not push it a zoom deeper (that would skip every
    // other tile row).
    for (TileMatrixSetId id : {TileMatrixSetId::WebMercatorQuad, TileMatrixSetId::WebMercatorQuad512}) {
        const TileMatrixSet& set = TileMatrixSetOf(id);
        const int32_t deeper = set.tileSize == 512 ? 1 : 0;
        for (int32_t level = 0; level <= 20; ++level) {
            const uint32_t last = MatrixWidth(set, level) - 1;
            for (uint32_t index : {0u, last / 3, last}) {
                EXPECT_EQ(MapZoom(TileBox(set, level, index, last - index), set.mapCrs, set.tileSize, set.tileSize, 21),
                          std::min(level + 1 + deeper, 21))
                    << set.identifier << " level " << level << " tile " << index;
            }
        }
    }
}

TEST(MercatorGrid, SamplesEachRowAtItsOwnLatitudeAndTheColumnsEvenly) {
    // Rows of equal height in metres: the latitudes close in towards the
    // equator; the columns' longitudes are evenly spaced.
    const PixelGrid grid = MapGrid(MapBox{0, 0, 1000, 4000}, MapCrs::WebMercator, 10, 4);
    ASSERT_TRUE(grid.rowLatitudes);
    ASSERT_EQ(grid.rowLatitudes->size(), 4u);
    EXPECT_EQ(grid.CentreLat(grid.row0), LatitudeOfNorthing(3500));
    EXPECT_EQ(grid.CentreLat(grid.row0 + 3), LatitudeOfNorthing(500));
    EXPECT_NEAR(grid.CentreLon(grid.column0), LongitudeOfEasting(50), 1e-15);
    EXPECT_NEAR(grid.CentreLon(grid.column0 + 9), LongitudeOfEasting(950), 1e-15);
}
