// EPSG:3857 images drawn in bands of rows: every pixel must be the very
// sample the plug-in gives for that pixel centre alone, whatever band it
// fell in.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "host/tile_cache.h"
#include "serve/map_renderer.h"
#include "serve/map_window.h"
#include "serve/mercator_render.h"
#include "tests/support/loaded_plugin.h"

namespace {

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

class MercatorRender : public LoadedPluginTest {
protected:
    void SetUp() override {
        LoadedPluginTest::SetUp();
        if (HasFatalFailure()) return;
        std::string error;
        cache = std::make_unique<TileCache>(size_t{64} << 20, PaintTiles);
        renderer = std::make_unique<MapRenderer>(library->Api(), *cache, RenderLimits{});
        ASSERT_TRUE(renderer->BindLayers(error)) << error;
    }

    // The plug-in's sample at one position: a request of one pixel, which
    // it samples at its west and north edges.
    std::vector<uint8_t> Alone(double lon, double lat, int32_t zoom) {
        MapWindow one;
        one.empty = false;
        one.columns = one.rows = 1;
        one.west = one.east = lon;
        one.north = one.south = lat;
        one.zoom = zoom;
        RenderResult result = renderer->Render("aerial", one);
        EXPECT_EQ(result.status, RenderStatus::Ok) << result.message;
        return result.pixels;
    }

    std::unique_ptr<TileCache> cache;
    std::unique_ptr<MapRenderer> renderer;
};

TEST_F(MercatorRender, EveryPixelIsThePlugInsOwnSampleAtItsCentre) {
    struct Case {
        LonLatBox box;  // metres
        uint32_t width, height;
        int32_t maxZoom;
    } cases[] = {
        {{-2e7, -2e7, 2e7, 2e7}, 24, 31, 3},                       // the world, past its north and south edges
        {{-1.5e6, -3e5, 2.5e6, 4.1e5}, 37, 41, 8},                 // across the equator: rows of both signs
        {{1.0e6, 6.0e6, 1.2e6, 6.1e6}, 29, 30, 12},                // mid-latitudes, zoomed in
        {{-2.0037508342789244e7, 1.5e7, -1.9e7, 2.0037508342789244e7}, 16, 16, 6},  // the north-west corner
    };
    for (const Case& c : cases) {
        const MercatorWindow mercator = PlanMercatorWindow(c.box, c.width, c.height, c.maxZoom);
        const MapWindow& window = mercator.window;
        ASSERT_FALSE(window.empty);
        const uint64_t before = renderer->DataRequests();
        const RenderResult drawn = RenderMercatorWindow(*renderer, "aerial", mercator);
        ASSERT_EQ(drawn.status, RenderStatus::Ok) << drawn.message;
        // Bands of two rows, one row only where the pair's arithmetic
        // would miss the second row.
        const uint64_t bands = renderer->DataRequests() - before;
        EXPECT_LE(bands, window.rows / 2 + 3) << c.box.west;
        const double step = (window.east - window.west) / static_cast<double>(window.columns - 1);
        size_t differing = 0;
        for (uint32_t row = 0; row < window.rows; ++row) {
            for (uint32_t column = 0; column < window.columns; ++column) {
                const double lon = window.west + column * step;
                const std::vector<uint8_t> alone = Alone(lon, mercator.rowLatitudes[row], window.zoom);
                differing += std::memcmp(alone.data(), &drawn.pixels[(size_t{row} * window.columns + column) * 3], 3) != 0;
            }
        }
        EXPECT_EQ(differing, 0u) << "box from " << c.box.west << ", " << c.box.south;
    }
}

TEST_F(MercatorRender, PairsOnlyRowsWhoseSecondLatitudeTheArithmeticHits) {
    // Same sign and within a factor of two: the difference is exact.
    EXPECT_TRUE(SecondRowLandsOn(50.123456789, 50.0987654321));
    EXPECT_TRUE(SecondRowLandsOn(-10.5, -11.25));
    // Across the equator the difference rounds, and the pair would miss.
    int missed = 0;
    for (double north = 1e-3; north < 1.0; north *= 1.37) missed += !SecondRowLandsOn(north, -north * 0.7311);
    EXPECT_GT(missed, 0);
}

}  // namespace
