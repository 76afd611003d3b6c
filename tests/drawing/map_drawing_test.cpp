// GetMap images drawn by the plug-in in segments: every pixel must be the
// plug-in's own sample at the position the placement gives its centre,
// whatever segment it fell in, and images that meet must meet seamlessly.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "drawing/map_drawing.h"
#include "drawing/map_grid.h"
#include "drawing/map_maker.h"
#include "drawing/map_renderer.h"
#include "drawing/tile_matrix_sets.h"
#include "host/tile_cache.h"
#include "tests/support/loaded_plugin.h"

namespace {

constexpr uint32_t kBackground = 0x102030;

// Tiles whose every pixel differs from its neighbours and from the same
// pixel of other tiles, so a sample taken anywhere else shows.
void PaintTiles(const std::vector<std::string>& urls, std::vector<TileResult>& outcomes) {
    outcomes.assign(urls.size(), TileResult{});
    for (size_t i = 0; i < urls.size(); ++i) {
        auto tile = std::make_shared<DecodedTile>();
        tile->width = tile->height = 256;
        tile->pixels.resize(256 * 256 * 3);
        uint32_t seed = static_cast<uint32_t>(std::hash<std::string>()(urls[i]));
        for (uint8_t& byte : tile->pixels) {
            seed = seed * 1664525u + 1013904223u;
            byte = static_cast<uint8_t>(seed >> 24);
        }
        outcomes[i].tile = std::move(tile);
    }
}

// The world-pixel row of `latitude` at `zoom`, in long double: a reference
// that shares no arithmetic with the placement.
long double WorldY(double latitude, int32_t zoom) {
    const long double s = std::sin(static_cast<long double>(latitude) * 3.141592653589793238L / 180);
    return (0.5L - std::log((1 + s) / (1 - s)) / (4 * 3.141592653589793238L)) * 256 * std::ldexp(1.0L, zoom - 1);
}

class MapDrawingTest : public LoadedPluginTest {
protected:
    void SetUp() override {
        LoadedPluginTest::SetUp();
        if (HasFatalFailure()) return;
        std::string error;
        cache = std::make_unique<TileCache>(size_t{64} << 20, PaintTiles);
        renderer = std::make_unique<MapRenderer>(library->Api(), *cache, RenderLimits{});
        ASSERT_TRUE(renderer->BindLayers(error)) << error;
    }

    std::vector<uint8_t> Draw(const MapBox& box, MapCrs crs, uint32_t width, uint32_t height, int32_t zoom) {
        MapDrawing drawing;
        drawing.zoom = zoom;
        drawing.background = kBackground;
        RenderResult drawn = DrawMap(*renderer, "aerial", MapGrid(box, crs, width, height), drawing);
        EXPECT_EQ(drawn.failure, RenderFailure::None) << drawn.message;
        return drawn.pixels;
    }

    // The plug-in's sample at one position: a request of one pixel, which
    // it samples at its west and north edges.
    std::vector<uint8_t> Alone(double lon, double lat, int32_t zoom) {
        DataRequestBlock one{};
        one.zoom = zoom;
        one.width = one.height = 1;
        one.west = one.east = lon;
        one.north = one.south = lat;
        RenderResult result = renderer->Render("aerial", one, 16);
        EXPECT_EQ(result.failure, RenderFailure::None) << result.message;
        return result.pixels;
    }

    std::unique_ptr<TileCache> cache;
    std::unique_ptr<MapRenderer> renderer;
};

TEST_F(MapDrawingTest, EveryMercatorPixelIsThePlugInsOwnSampleHalfATilePixelNorthWest) {
    struct Case {
        MapBox box;  // metres
        uint32_t width, height;
        int32_t maxZoom;
    } cases[] = {
        {{-2e7, -2.2e7, 2e7, 2.2e7}, 24, 31, 3},                   // the world, past its north and south edges
        {{-1.5e6, -3e5, 2.5e6, 4.1e5}, 37, 41, 8},                 // across the equator: rows of both signs
        {{1.0e6, 6.0e6, 1.2e6, 6.1e6}, 29, 30, 12},                // mid-latitudes, zoomed in
        {{-2.0037508342789244e7, 1.5e7, -1.9e7, 2.0037508342789244e7}, 16, 16, 6},  // the north-west corner
        {{1.95e7, -1e5, 2.1e7, 1e5}, 20, 9, 7},                    // across longitude 180
    };
    for (const Case& c : cases) {
        const PixelGrid grid = MapGrid(c.box, MapCrs::WebMercator, c.width, c.height);
        const int32_t zoom = MapZoom(c.box, MapCrs::WebMercator, c.width, c.height, c.maxZoom);
        SegmentLimits limits;
        limits.maxTiles = renderer->TileBudget(c.width, c.height);
        const RenderPlan plan = PlanRender(grid, PlacementPolicy{zoom, false}, limits);
        ASSERT_TRUE(plan.error.empty()) << plan.error;
        const std::vector<uint8_t> drawn = Draw(c.box, MapCrs::WebMercator, c.width, c.height, zoom);
        ASSERT_EQ(drawn.size(), size_t{c.width} * c.height * 3);
        size_t differing = 0, misplaced = 0, outside = 0;
        for (const Segment& segment : plan.segments) {
            const DataRequestBlock& request = segment.request;
            const double step = (request.east - request.west) / static_cast<double>(request.width - 1);
            for (uint32_t i = 0; i < segment.rows; ++i) {
                const uint32_t row = segment.row0 + i;
                const double centre = grid.CentreLat(grid.row0 + row);
                const double lat = i == 0 ? request.north : request.south;
                // Half a tile pixel north of the centre, but for rows so near
                // the world's edges that its edge rows stand in.
                const long double wanted = WorldY(centre, zoom) - 0.5L;
                const bool inner = wanted > 0 && wanted < 256 * std::ldexp(1.0L, zoom - 1) - 1;
                misplaced += !segment.nodata && inner && std::fabs(wanted - WorldY(lat, zoom)) > 0.01L;
                for (uint32_t j = 0; j < segment.columns; ++j) {
                    const uint8_t* pixel = &drawn[(size_t{row} * c.width + segment.column0 + j) * 3];
                    if (segment.nodata) {
                        outside += std::fabs(centre) > kCoverageNorth;
                        const uint8_t fill[3] = {0x10, 0x20, 0x30};
                        differing += std::memcmp(pixel, fill, 3) != 0;
                        continue;
                    }
                    const std::vector<uint8_t> alone = Alone(request.west + j * step, lat, zoom);
                    differing += std::memcmp(alone.data(), pixel, 3) != 0;
                }
            }
        }
        EXPECT_EQ(differing, 0u) << "box from " << c.box.west << ", " << c.box.south;
        EXPECT_EQ(misplaced, 0u) << "box from " << c.box.west << ", " << c.box.south;
        if (c.box.north > kMercatorHalfWorld) {
            EXPECT_GT(outside, 0u);
        }
    }
}

TEST_F(MapDrawingTest, NeighbouringTilesAreTheImageOfTheirUnion) {
    // Two tiles of one size that meet sample every pixel as the image of
    // both does, however their requests are cut.
    struct Case {
        TileMatrixSetId set;
        int32_t level;
        uint32_t row, column;
        bool below;  // the second tile below the first, else east of it
    } cases[] = {
        {TileMatrixSetId::WorldCrs84Quad, 3, 1, 5, false},
        {TileMatrixSetId::WorldCrs84Quad, 4, 2, 7, true},   // across 67.5 N, near the world's north edge
        {TileMatrixSetId::WorldCrs84Quad, 2, 0, 1, true},   // the north edge itself
        {TileMatrixSetId::WebMercatorQuad, 4, 5, 6, false},
        {TileMatrixSetId::WorldCrs84Quad512, 3, 2, 9, true},
        {TileMatrixSetId::WebMercatorQuad512, 3, 2, 4, false},
    };
    for (const Case& c : cases) {
        const TileMatrixSet& set = TileMatrixSetOf(c.set);
        const uint32_t side = set.tileSize;
        const MapBox first = TileBox(set, c.level, c.row, c.column);
        const MapBox second = TileBox(set, c.level, c.row + c.below, c.column + !c.below);
        const MapBox both{first.west, second.south, second.east, first.north};
        const uint32_t width = c.below ? side : 2 * side, height = c.below ? 2 * side : side;
        const int32_t zoom = MapZoom(first, set.mapCrs, side, side, 21);
        const std::vector<uint8_t> a = Draw(first, set.mapCrs, side, side, zoom);
        const std::vector<uint8_t> b = Draw(second, set.mapCrs, side, side, zoom);
        const std::vector<uint8_t> whole = Draw(both, set.mapCrs, width, height, zoom);
        ASSERT_EQ(whole.size(), size_t{width} * height * 3);
        size_t differing = 0;
        for (uint32_t row = 0; row < height; ++row) {
            for (uint32_t column = 0; column < width; ++column) {
                const bool inFirst = c.below ? row < side : column < side;
                const std::vector<uint8_t>& part = inFirst ? a : b;
                const size_t at =
                    (size_t{c.below ? row % side : row} * side + (c.below ? column : column % side)) * 3;
                differing += std::memcmp(&part[at], &whole[(size_t{row} * width + column) * 3], 3) != 0;
            }
        }
        EXPECT_EQ(differing, 0u) << "level " << c.level << " row " << c.row << " column " << c.column;
    }
}

TEST_F(MapDrawingTest, AMapsCostKnowsWhichOfItsTilesTheCacheHolds) {
    // The tiles a map is guessed to need are named as the plug-in names them,
    // so that once the map is drawn none of them is left to fetch.
    struct Case {
        const char* what;
        const char* layer;
        MapCrs crs;
        MapBox box;
        uint32_t width, height;
        bool onTheTiles;
    } cases[] = {
        {"aerial over Europe", "aerial", MapCrs::LonLat, {-10, 35, 30, 60}, 256, 256, true},
        {"a map across longitude 180", "map", MapCrs::LonLat, {170, -10, 190, 10}, 300, 200, true},
        {"hybrid in EPSG:3857", "hybrid", MapCrs::WebMercator, {1e6, 6e6, 2e6, 7e6}, 256, 256, true},
        {"north of the world", "map", MapCrs::LonLat, {0, 86, 10, 90}, 64, 64, false},
    };
    MapMaker maps(*renderer, 8, false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MapRequest map;
        map.layer = c.layer;
        map.crs = c.crs;
        map.box = c.box;
        map.width = c.width;
        map.height = c.height;
        const MapCost before = maps.Cost(map);
        EXPECT_EQ(before.pixels, uint64_t{map.width} * map.height);
        EXPECT_EQ(before.tiles > 0, c.onTheTiles);
        EXPECT_EQ(before.tilesToFetch, before.tiles);
        const EncodedMap drawn = maps.Make(map);
        ASSERT_FALSE(drawn.failure) << drawn.failure->message;
        EXPECT_LE(before.tiles, drawn.statistics.tiles);
        EXPECT_EQ(maps.Cost(map).tilesToFetch, 0u);
    }
}

}  // namespace
