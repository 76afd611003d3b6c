// Where a WMS image's pixels are sampled, which of them the tiles cover,
// and the zoom they are drawn at.

#include <gtest/gtest.h>

#include "serve/map_window.h"
#include "serve/wmts_tile_matrix_sets.h"

namespace {

// The centre of pixel i of n across [low, high]: the far edge's pixel is
// measured from the far edge.
double Centre(double low, double high, uint32_t n, uint32_t i) {
    const double step = (high - low) / n;
    return i + 1 == n ? high - step / 2 : low + (i + 0.5) * step;
}

TEST(MapWindow, AsksThePlugInForThePixelCentresOfTheEdges) {
    const LonLatBox box{-12, 34, 32, 62};
    const MapWindow window = PlanMapWindow(box, 1000, 760, 6);
    ASSERT_FALSE(window.empty);
    EXPECT_EQ(window.column0, 0u);
    EXPECT_EQ(window.row0, 0u);
    EXPECT_EQ(window.columns, 1000u);
    EXPECT_EQ(window.rows, 760u);
    const double dx = (32.0 - -12.0) / 1000, dy = (62.0 - 34.0) / 760;
    EXPECT_EQ(window.west, -12 + dx / 2);
    EXPECT_EQ(window.east, 32 - dx / 2);
    EXPECT_EQ(window.north, 62 - dy / 2);
    EXPECT_EQ(window.south, 34 + dy / 2);
    EXPECT_EQ(window.zoom, 6);
}

TEST(MapWindow, KeepsToThePixelsWhoseCentresTheTilesCover) {
    struct Case {
        LonLatBox box;
        uint32_t width, height;
        bool empty;
        uint32_t column0, columns, row0, rows;
    } cases[] = {
        {{-190, 0, -170, 10}, 20, 10, false, 10, 10, 0, 10},        // west of the world
        {{170, 0, 190, 10}, 20, 10, false, 0, 10, 0, 10},           // east of it
        {{0, 80, 10, 90}, 10, 10, false, 0, 10, 5, 5},              // over the north edge
        {{0, -90, 10, -80}, 10, 10, false, 0, 10, 0, 5},            // over the south edge
        {{-180.5, 0, -179.5, 1}, 1, 1, false, 0, 1, 0, 1},          // a centre exactly on the edge counts
        {{181, 0, 200, 10}, 19, 10, true, 0, 0, 0, 0},
        {{0, 86, 10, 90}, 10, 4, true, 0, 0, 0, 0},
        {{-1e6, -1e6, 1e6, 1e6}, 2000, 2000, true, 0, 0, 0, 0},     // pixels of 1000 degrees: no centre inside
        {{-1000, -90, 1000, 90}, 2048, 2048, false, 0, 0, 0, 0},    // checked against enumeration below
        {{-180, -85.0511287798066, 180, 85.0511287798066}, 7, 3, false, 0, 7, 0, 3},
    };
    for (const Case& c : cases) {
        const MapWindow window = PlanMapWindow(c.box, c.width, c.height, 21);
        EXPECT_EQ(window.empty, c.empty) << c.box.west << " " << c.box.south;
        if (window.empty) continue;
        // Enumerate every pixel's centre and compare.
        uint32_t first = c.width, last = 0, top = c.height, bottom = 0;
        for (uint32_t i = 0; i < c.width; ++i) {
            const double lon = Centre(c.box.west, c.box.east, c.width, i);
            if (lon >= kCoverageWest && lon <= kCoverageEast) {
                first = std::min(first, i);
                last = std::max(last, i);
            }
        }
        for (uint32_t j = 0; j < c.height; ++j) {
            const double lat = -Centre(-c.box.north, -c.box.south, c.height, j);
            if (lat >= kCoverageSouth && lat <= kCoverageNorth) {
                top = std::min(top, j);
                bottom = std::max(bottom, j);
            }
        }
        EXPECT_EQ(window.column0, first);
        EXPECT_EQ(window.columns, last - first + 1);
        EXPECT_EQ(window.row0, top);
        EXPECT_EQ(window.rows, bottom - top + 1);
        if (c.columns != 0) {
            EXPECT_EQ(window.column0, c.column0);
            EXPECT_EQ(window.columns, c.columns);
            EXPECT_EQ(window.row0, c.row0);
            EXPECT_EQ(window.rows, c.rows);
        }
        EXPECT_EQ(window.west, Centre(c.box.west, c.box.east, c.width, window.column0));
        EXPECT_EQ(window.east, Centre(c.box.west, c.box.east, c.width, window.column0 + window.columns - 1));
        EXPECT_EQ(window.north, -Centre(-c.box.north, -c.box.south, c.height, window.row0));
        EXPECT_EQ(window.south, -Centre(-c.box.north, -c.box.south, c.height, window.row0 + window.rows - 1));
    }
}

TEST(MapWindow, ChoosesTheSmallestZoomWithAPixelPerPixel) {
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

TEST(MapWindow, TakesTheZoomAtTheMiddleOfTheCoveredLatitudes) {
    // 0..170 of latitude: the covered part is 0..85.05, its middle 42.5.
    const MapWindow window = PlanMapWindow(LonLatBox{0, 0, 10, 170}, 100, 1000, 21);
    ASSERT_FALSE(window.empty);
    EXPECT_EQ(window.zoom, ChooseZoom(0.1, 0.17, (0 + kCoverageNorth) / 2, 21));
}

}  // namespace

TEST(MercatorWindow, DrawsEachWmtsTileAtTheTilesOwnZoom) {
    // A WebMercatorQuad tile's pixels are a tile pixel of the service's zoom
    // of the same number; rounding of the tile's edges must not push it a
    // zoom deeper (that would skip every other tile row).
    const TileMatrixSet& set = TileMatrixSetOf(TileMatrixSetId::WebMercatorQuad);
    for (int32_t level = 0; level <= 20; ++level) {
        const uint32_t last = MatrixWidth(set, level) - 1;
        for (uint32_t index : {0u, last / 3, last}) {
            const MapWindow window = PlanMercatorWindow(TileBox(set, level, index, last - index), 256, 256, 21).window;
            ASSERT_FALSE(window.empty);
            EXPECT_EQ(window.zoom, level + 1) << "level " << level << " tile " << index;
            EXPECT_EQ(window.rows, 256u);
            EXPECT_EQ(window.columns, 256u);
        }
    }
}

TEST(MercatorWindow, SamplesEachRowAtItsOwnLatitudeAndTheColumnsEvenly) {
    // Rows of equal height in metres: the latitudes close in towards the
    // equator; the columns' longitudes are the edge pixels' centres.
    const MercatorWindow window = PlanMercatorWindow(LonLatBox{0, 0, 1000, 4000}, 10, 4, 21);
    ASSERT_EQ(window.rowLatitudes.size(), 4u);
    EXPECT_NEAR(window.rowLatitudes[0], MercatorLatitude(3500), 1e-15);
    EXPECT_NEAR(window.rowLatitudes[3], MercatorLatitude(500), 1e-15);
    EXPECT_EQ(window.window.west, MercatorLongitude(50));
    EXPECT_EQ(window.window.east, MercatorLongitude(950));
    // Beyond the world's edges: only the rows whose centres are on it.
    const MercatorWindow north = PlanMercatorWindow(LonLatBox{-1e6, 1.9e7, 1e6, 2.1e7}, 8, 8, 21);
    EXPECT_EQ(north.window.rows, 4u);
    EXPECT_EQ(north.window.row0, 4u);
    EXPECT_EQ(north.rowLatitudes.front(), MercatorLatitude(1.9875e7));
}
