// The tile cache: one fetch per tile however many ask at once and under
// whatever address, a bound on what it keeps, and no memory of failures.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "host/tile_cache.h"

namespace {

constexpr size_t kTileBytes = 256 * 256 * 3;

std::shared_ptr<const DecodedTile> Tile(uint8_t shade) {
    auto tile = std::make_shared<DecodedTile>();
    tile->width = 256;
    tile->height = 256;
    tile->pixels.assign(kTileBytes, shade);
    return tile;
}

// Answers every address with a tile of a shade of its own, except those
// named "bad", and those starting "blank" with one shared tile, and counts
// how often each was asked for.
struct CountingFetcher {
    std::mutex mutex;
    std::map<std::string, int> calls;
    std::shared_ptr<const DecodedTile> blank = [] {
        auto tile = std::make_shared<DecodedTile>(*Tile(200));
        tile->shared = true;
        return std::shared_ptr<const DecodedTile>(std::move(tile));
    }();

    TileBatchFetcher Make() {
        return [this](const std::vector<std::string>& urls, std::vector<TileResult>& outcomes) {
            outcomes.clear();
            for (const std::string& url : urls) {
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    ++calls[url];
                }
                if (url == "bad") {
                    outcomes.push_back(TileResult{nullptr, "HTTP status 500"});
                } else if (url.compare(0, 5, "blank") == 0) {
                    outcomes.push_back(TileResult{blank, ""});
                } else {
                    outcomes.push_back(TileResult{Tile(static_cast<uint8_t>(url.size())), ""});
                }
            }
        };
    }
    int Calls(const std::string& url) {
        std::lock_guard<std::mutex> lock(mutex);
        return calls[url];
    }
};

// Tiles held under their addresses.
std::vector<WantedTile> Tiles(const std::vector<std::string>& urls) {
    std::vector<WantedTile> tiles;
    for (const std::string& url : urls) tiles.push_back(WantedTile{url, url});
    return tiles;
}

TEST(TileCache, FetchesEachTileOnceForManyConcurrentRequests) {
    CountingFetcher fetcher;
    TileCache cache(64 * kTileBytes, fetcher.Make());
    const auto address = [](int server, int tile) {
        return "http://tile" + std::to_string(server) + "/" + std::to_string(tile);
    };
    std::vector<std::thread> threads;
    std::atomic<int> complete{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            // Each thread asks in its own order, with a repeat, and for each
            // tile under a server of its own: a tile has several addresses.
            std::vector<WantedTile> mine;
            for (int i = 0; i < 13; ++i) {
                const int tile = (i + t % 4) % 12;
                mine.push_back(WantedTile{"tile/" + std::to_string(tile), address(t % 3, tile)});
            }
            const std::vector<TileResult> outcomes = cache.GetAll(mine);
            bool all = outcomes.size() == mine.size();
            for (const TileResult& outcome : outcomes) all = all && outcome.tile != nullptr;
            if (all) ++complete;
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(complete.load(), 8);
    for (int tile = 0; tile < 12; ++tile) {
        int calls = 0;
        for (int server = 0; server < 3; ++server) calls += fetcher.Calls(address(server, tile));
        EXPECT_EQ(calls, 1) << tile;
    }
    const TileCacheStats stats = cache.Stats();
    EXPECT_EQ(stats.fetched, 12u);
    EXPECT_EQ(stats.tiles, 12u);
}

TEST(TileCache, KeepsWithinItsBoundLeastRecentlyUsedFirstOut) {
    CountingFetcher fetcher;
    TileCache cache(3 * (kTileBytes + sizeof(DecodedTile)), fetcher.Make());
    cache.GetAll(Tiles({"a", "bb", "ccc"}));
    cache.GetAll(Tiles({"a"}));     // now bb is the oldest
    cache.GetAll(Tiles({"dddd"}));  // pushes bb out
    EXPECT_LE(cache.Stats().bytes, 3 * (kTileBytes + sizeof(DecodedTile)));
    EXPECT_EQ(cache.Stats().tiles, 3u);
    const std::vector<TileResult> again = cache.GetAll(Tiles({"a", "ccc", "dddd", "bb"}));
    EXPECT_EQ(fetcher.Calls("a"), 1);
    EXPECT_EQ(fetcher.Calls("ccc"), 1);
    EXPECT_EQ(fetcher.Calls("dddd"), 1);
    EXPECT_EQ(fetcher.Calls("bb"), 2);
    ASSERT_TRUE(again[3].tile);
    EXPECT_EQ(again[3].tile->pixels[0], 2);  // the right tile came back
}

TEST(TileCache, TriesFailedTilesAgain) {
    CountingFetcher fetcher;
    TileCache cache(16 * kTileBytes, fetcher.Make());
    for (int round = 1; round <= 2; ++round) {
        const std::vector<TileResult> outcomes = cache.GetAll(Tiles({"good", "bad"}));
        EXPECT_TRUE(outcomes[0].tile);
        EXPECT_FALSE(outcomes[1].tile);
        EXPECT_EQ(outcomes[1].error, "HTTP status 500");
        EXPECT_EQ(fetcher.Calls("bad"), round);
    }
    EXPECT_EQ(fetcher.Calls("good"), 1);
    EXPECT_EQ(cache.Stats().failed, 2u);
}

// Missing tiles all show the one blank tile: however many there are, they
// do not push real tiles out.
TEST(TileCache, ASharedTileCostsItsAddressesOnlyTheirRecords) {
    CountingFetcher fetcher;
    TileCache cache(2 * (kTileBytes + sizeof(DecodedTile)) + 64 * sizeof(DecodedTile), fetcher.Make());
    cache.GetAll(Tiles({"real/1", "real/2"}));
    std::vector<std::string> missing;
    for (int i = 0; i < 50; ++i) missing.push_back("blank/" + std::to_string(i));
    cache.GetAll(Tiles(missing));
    cache.GetAll(Tiles({"real/1", "real/2"}));
    EXPECT_EQ(fetcher.Calls("real/1"), 1);
    EXPECT_EQ(fetcher.Calls("real/2"), 1);
    EXPECT_EQ(cache.Stats().tiles, 52u);
}

TEST(TileCache, TurnsABrokenFetcherIntoFailures) {
    struct Case {
        const char* what;
        TileBatchFetcher fetcher;
    } cases[] = {
        {"throws", [](const std::vector<std::string>&, std::vector<TileResult>&) { throw std::runtime_error("boom"); }},
        {"answers too few", [](const std::vector<std::string>&, std::vector<TileResult>& outcomes) { outcomes.clear(); }},
        // Thrown past the request, but the claims are settled: asking again
        // fetches again instead of waiting for ever.
        {"throws something else, then answers too few",
         [calls = std::make_shared<int>(0)](const std::vector<std::string>&, std::vector<TileResult>& outcomes) {
             if ((*calls)++ == 0) throw 42;
             outcomes.clear();
         }},
    };
    for (const Case& c : cases) {
        TileCache cache(16 * kTileBytes, c.fetcher);
        std::vector<TileResult> outcomes;
        try {
            outcomes = cache.GetAll(Tiles({"x", "y"}));
        } catch (int) {
            outcomes = cache.GetAll(Tiles({"x", "y"}));
        }
        ASSERT_EQ(outcomes.size(), 2u) << c.what;
        EXPECT_FALSE(outcomes[0].tile) << c.what;
        EXPECT_FALSE(outcomes[1].error.empty()) << c.what;
        EXPECT_EQ(cache.Stats().tiles, 0u) << c.what;
    }
}

TEST(TileCache, WaitersShareTheFetchAndItsFailure) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> fetches{0};
    TileCache cache(16 * kTileBytes, [&](const std::vector<std::string>& urls, std::vector<TileResult>& outcomes) {
        ++fetches;
        released.wait();
        outcomes.assign(urls.size(), TileResult{nullptr, "upstream reset"});
    });
    auto first = std::async(std::launch::async, [&] { return cache.GetAll(Tiles({"t"})); });
    while (cache.Stats().fetched == 0) std::this_thread::yield();
    auto second = std::async(std::launch::async, [&] { return cache.GetAll(Tiles({"t"})); });
    while (cache.Stats().sharedWaits == 0) std::this_thread::yield();
    release.set_value();
    EXPECT_EQ(first.get()[0].error, "upstream reset");
    EXPECT_EQ(second.get()[0].error, "upstream reset");
    EXPECT_EQ(fetches.load(), 1);
}

}  // namespace
