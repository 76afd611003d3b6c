// zarvo-render's tiles through the plug-in host around the real plug-in,
// with tile sources that break the rules: whatever a source does, the job
// ends in one outcome.

#include <gtest/gtest.h>

#include <stdexcept>

#include "host/plugin_host.h"
#include "render/render_host.h"
#include "tests/support/loaded_plugin.h"

namespace {

// Throws from the worker thread, as a source out of memory would.
class ThrowingSource final : public TileSource {
public:
    void Fetch(const std::vector<std::string>&, const FetchLimits&, const TileSink&) override {
        throw std::runtime_error("source exploded");
    }
};

// Counts its calls and has no tile.
class EmptySource final : public TileSource {
public:
    explicit EmptySource(int& calls) : calls(calls) {}
    void Fetch(const std::vector<std::string>& urls, const FetchLimits&, const TileSink& sink) override {
        ++calls;
        for (size_t i = 0; i < urls.size(); ++i) {
            if (!sink(i, TileFetch{TileOutcome::Missing, {}, "none here"})) return;
        }
    }

private:
    int& calls;
};

DataRequestBlock Europe() {
    DataRequestBlock request{};
    request.zoom = 6;
    request.layerId = 1;
    request.width = 200;
    request.height = 150;
    request.west = -12;
    request.south = 34;
    request.east = 32;
    request.north = 62;
    return request;
}

using RenderHostTest = LoadedPluginTest;

// Renders Europe at zoom 6 (25 tiles) from `source`, completed on a worker
// thread as zarvo-render does.
RenderOutcome RenderEurope(const PluginApi& api, TileSource& source, const RenderSettings& settings,
                           IntakeReport& report) {
    PluginHost host(api, CompleteOn::WorkerThread);
    EXPECT_TRUE(host.Bind("map", 1));
    return host.Render(Europe(), RenderTileProvider(source, settings, Europe(), report));
}

TEST_F(RenderHostTest, AnExceptionInTheWorkerEndsTheJobAsAHostFailure) {
    ThrowingSource source;
    IntakeReport report;
    const RenderOutcome outcome = RenderEurope(library->Api(), source, RenderSettings{}, report);
    EXPECT_EQ(outcome.failure, RenderFailure::HostFailure);
    EXPECT_EQ(outcome.message, "the host failed: source exploded");
}

TEST_F(RenderHostTest, OverTheBudgetNoTileIsFetched) {
    int calls = 0;
    EmptySource source(calls);
    RenderSettings settings;
    settings.memoryBudgetBytes = kDecodedTileBytes * 24;  // the request has 25 tiles
    IntakeReport report;
    const RenderOutcome outcome = RenderEurope(library->Api(), source, settings, report);
    EXPECT_EQ(outcome.failure, RenderFailure::TooManyTiles);
    EXPECT_NE(outcome.message.find("needs 25 tiles"), std::string::npos) << outcome.message;
    EXPECT_EQ(calls, 0);
}

TEST_F(RenderHostTest, AllMissingUnderBlankIsAGreyRaster) {
    int calls = 0;
    EmptySource source(calls);
    IntakeReport report;
    const RenderOutcome outcome = RenderEurope(library->Api(), source, RenderSettings{}, report);
    ASSERT_TRUE(outcome.Ok()) << outcome.message;
    EXPECT_EQ(report.missing, 25u);
    ASSERT_EQ(outcome.raster.pixels.size(), 200u * 150 * 3);
    for (uint8_t p : outcome.raster.pixels) ASSERT_EQ(p, BlankTile().pixels[0]);
}

}  // namespace
