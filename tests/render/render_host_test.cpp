// The render host around the real plug-in, with tile sources that break
// the rules: whatever a source does, the job ends in one outcome.

#include <gtest/gtest.h>

#include <stdexcept>

#include "host/plugin_library.h"
#include "render/render_host.h"

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

class RenderHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        library = PluginLibrary::Open(ZARVO_PLUGIN_PATH, error);
        ASSERT_TRUE(library) << error;
    }
    std::unique_ptr<PluginLibrary> library;
};

TEST_F(RenderHostTest, AnExceptionInTheWorkerEndsTheJobAsAHostFailure) {
    RenderHost host(library->Api(), std::make_unique<ThrowingSource>(), RenderSettings{});
    ASSERT_TRUE(host.Bind(u"map", 1));
    const RenderOutcome outcome = host.Render(Europe());
    EXPECT_EQ(outcome.requestResult, 1);
    EXPECT_EQ(outcome.eventResult, kHostFailure);
    EXPECT_EQ(DescribeEventResult(outcome.eventResult, outcome.problem), "the host failed: source exploded");
}

TEST_F(RenderHostTest, OverTheBudgetNoTileIsFetched) {
    int calls = 0;
    RenderSettings settings;
    settings.memoryBudgetBytes = kDecodedTileBytes * 24;  // the request has 25 tiles
    RenderHost host(library->Api(), std::make_unique<EmptySource>(calls), settings);
    ASSERT_TRUE(host.Bind(u"map", 1));
    const RenderOutcome outcome = host.Render(Europe());
    EXPECT_EQ(outcome.requestResult, -1);
    EXPECT_NE(outcome.refusal.find("needs 25 tiles"), std::string::npos) << outcome.refusal;
    EXPECT_EQ(calls, 0);
}

TEST_F(RenderHostTest, AllMissingUnderBlankIsAGreyRaster) {
    int calls = 0;
    RenderHost host(library->Api(), std::make_unique<EmptySource>(calls), RenderSettings{});
    ASSERT_TRUE(host.Bind(u"map", 1));
    const RenderOutcome outcome = host.Render(Europe());
    ASSERT_EQ(outcome.eventResult, 0);
    EXPECT_EQ(outcome.missing, 25u);
    ASSERT_EQ(outcome.raster.pixels.size(), 200u * 150 * 3);
    for (uint8_t p : outcome.raster.pixels) ASSERT_EQ(p, BlankTile().pixels[0]);
}

}  // namespace
