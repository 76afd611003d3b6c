// The plug-in host around the real plug-in: whatever a provider does, each
// render ends in one outcome, and renders of several threads, completed
// either way, keep to their own jobs.

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <thread>

#include "host/plugin_host.h"
#include "host/utf16.h"
#include "tests/support/loaded_plugin.h"
#include "tests/support/tile_fixtures.h"

namespace {

const DataRequestBlock kFourTiles = MakeRequest(3, 80, 0, 100, 10, 300, 200, 1);

using PluginHostTest = LoadedPluginTest;

TEST_F(PluginHostTest, EveryProviderFailureEndsTheJobWithItsOwnReason) {
    struct Case {
        const char* name;
        TileProvider provider;
        RenderFailure failure;
        const char* message;
    } cases[] = {
        {"failure",
         [](const std::vector<std::string>&) { return ProvidedTiles::Failed(RenderFailure::TileMissing, "gone"); },
         RenderFailure::TileMissing, "gone"},
        {"too few tiles", [](const std::vector<std::string>&) { return ProvidedTiles{}; }, RenderFailure::HostFailure,
         "the host failed: 0 tiles for 4 addresses"},
        {"std::exception", [](const std::vector<std::string>&) -> ProvidedTiles { throw std::runtime_error("boom"); },
         RenderFailure::HostFailure, "the host failed: boom"},
        {"bad_alloc", [](const std::vector<std::string>&) -> ProvidedTiles { throw std::bad_alloc(); },
         RenderFailure::OutOfMemory, "the host ran out of memory"},
        {"no exception at all", [](const std::vector<std::string>&) -> ProvidedTiles { throw 42; },
         RenderFailure::HostFailure, "the host failed: unknown failure"},
    };
    for (CompleteOn completion : {CompleteOn::RenderingThread, CompleteOn::WorkerThread}) {
        PluginHost host(library->Api(), completion);
        ASSERT_TRUE(host.Bind("map", 1));
        for (const Case& c : cases) {
            const RenderOutcome outcome = host.Render(kFourTiles, c.provider);
            EXPECT_EQ(outcome.failure, c.failure) << c.name;
            EXPECT_EQ(outcome.message, c.message) << c.name;
            EXPECT_TRUE(outcome.raster.pixels.empty()) << c.name;
        }
        // The plug-in's own refusal, in its own words.
        EXPECT_EQ(host.Render(MakeRequest(3, 80, 0, 100, 10, 300, 200, 7), PatternTiles(3)).failure,
                  RenderFailure::NoLayer);
    }
}

// Each thread renders its own layer; a job answered with another's raster
// would show as a raster unlike the one rendered alone.
TEST_F(PluginHostTest, ConcurrentRendersKeepToTheirOwnJobs) {
    for (CompleteOn completion : {CompleteOn::RenderingThread, CompleteOn::WorkerThread}) {
        PluginHost host(library->Api(), completion);
        const char* layers[] = {"map", "aerial", "hybrid"};
        std::vector<std::vector<uint8_t>> alone;
        for (int32_t id = 1; id <= 3; ++id) {
            ASSERT_TRUE(host.Bind(layers[id - 1], id));
            DataRequestBlock request = kFourTiles;
            request.layerId = id;
            const RenderOutcome outcome = host.Render(request, PatternTiles(id == 2 ? 4 : 3));
            ASSERT_TRUE(outcome.Ok()) << outcome.message;
            alone.push_back(outcome.raster.pixels);
        }
        std::vector<std::thread> threads;
        std::vector<int> wrong(3, 0);
        for (int32_t id = 1; id <= 3; ++id) {
            threads.emplace_back([&, id] {
                DataRequestBlock request = kFourTiles;
                request.layerId = id;
                for (int i = 0; i < 10; ++i) {
                    const RenderOutcome outcome = host.Render(request, PatternTiles(id == 2 ? 4 : 3));
                    if (!outcome.Ok() || outcome.raster.pixels != alone[id - 1]) ++wrong[id - 1];
                }
            });
        }
        for (std::thread& t : threads) t.join();
        EXPECT_EQ(wrong, std::vector<int>(3, 0));
    }
}

// Layer names and host texts cross as UTF-16; what is no character becomes
// U+FFFD, never a character it hides.
TEST(Utf16Test, MalformedUtf8BecomesReplacementCharacters) {
    struct Case {
        const char* utf8;
        std::u16string utf16;
    } cases[] = {
        {"map", u"map"},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x97\xBA", u"\u00E9\u20AC\U0001F5FA"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},          // an overlong '/'
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},  // another
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // a surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
        {"a\xE2\x82", u"a\uFFFD\uFFFD"},        // truncated
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToUtf16(c.utf8), c.utf16) << c.utf8;
    }
    EXPECT_EQ(ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");  // a lone surrogate
}

}  // namespace
