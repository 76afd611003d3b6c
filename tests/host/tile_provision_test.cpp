// A job's tiles from the plug-in's address list: which are fetched and under
// what key, the tile a failure is reported for, what the program holds
// while the plug-in draws.

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <vector>

#include "host/tile_intake.h"
#include "host/tile_provision.h"
#include "projection/tile_range.h"
#include "projection/zarvo_coord_transform.h"

namespace {

DataRequestBlock Request(int32_t zoom, double west, double south, double east, double north) {
    DataRequestBlock request{};
    request.zoom = zoom;
    request.width = request.height = 10;
    request.west = west;
    request.south = south;
    request.east = east;
    request.north = north;
    return request;
}

// The addresses the plug-in lists for `request` in its map layer.
std::vector<std::string> Listed(const DataRequestBlock& request) {
    const ZarvoCoordTransform map(LayerKind::Map, u"map");
    const TileRange range = RequestTileRange(request);
    std::vector<std::string> urls;
    for (size_t k = 0; k < range.Count(); ++k) {
        std::string url;
        for (char16_t c : map.TileUrl(range.Key(k))) url += static_cast<char>(c);
        urls.push_back(url);
    }
    return urls;
}

std::string Path(const std::string& url) {
    return url.substr(url.find("tms1.0.0/") + 9);
}

TEST(TileProvisionTest, OutOfWorldRowsAreNotFetchedAndColumnsPastTheLastWrap) {
    // Zoom 2 (2 x 2 tiles), touching the north edge and longitude 180.
    const DataRequestBlock request = Request(2, 100, 60, 180, 85.05);
    std::vector<std::string> urls = Listed(request);
    std::vector<TileSlot> slots;
    ASSERT_TRUE(PlanTileSlots(request, urls, slots));
    ASSERT_EQ(slots.size(), 4u);  // the row above the world and the first row; columns 1 and 2
    EXPECT_TRUE(slots[0].OutsideWorld() && slots[1].OutsideWorld());
    EXPECT_EQ(slots[2].tile.url, urls[2]);
    EXPECT_EQ(slots[2].tile.key, "map/1/1/1.png");
    // Column 2 is column 0 a world west, held where it lies and fetched
    // from the server the plug-in named.
    EXPECT_EQ(Path(urls[3]), "map/1/2/1.png");
    EXPECT_EQ(slots[3].tile.key, "map/1/0/1.png");
    EXPECT_EQ(slots[3].tile.url, urls[3].substr(0, urls[3].find("tms1.0.0/")) + "tms1.0.0/map/1/0/1.png");
    // An address that is not the service's address of its tile is taken as it is.
    urls[2] = "http://elsewhere/tile.png";
    ASSERT_TRUE(PlanTileSlots(request, urls, slots));
    EXPECT_TRUE(slots[2].asListed);
    EXPECT_EQ(slots[2].tile.key, urls[2]);
    EXPECT_EQ(slots[2].tile.url, urls[2]);
    urls.pop_back();
    EXPECT_FALSE(PlanTileSlots(request, urls, slots));
}

// What the fetcher answers for each address it is given, in order.
enum class Answer { Tile, Missing, Undecodable, Late, Skipped };

TileResult ResultOf(Answer answer) {
    TileResult result;
    switch (answer) {
        case Answer::Tile: result.tile = SharedBlankTile(); break;
        case Answer::Missing:
            result.error = "HTTP status 500";
            result.address = "https://upstream.example/2/3/0.png";
            break;
        case Answer::Undecodable:
            result.error = "neither PNG nor JPEG";
            result.undecodable = true;
            break;
        case Answer::Late:
            result.error = "not there by the request's deadline";
            result.late = true;
            break;
        case Answer::Skipped: result.skipped = true; break;
    }
    return result;
}

// Counts what the program holds: one while a job's tiles are held.
struct Holdings {
    int held = 0;
    size_t tiles = 0;
};

TEST(TileProvisionTest, ProvidesEveryTileOrNamesTheFirstThatFailedItself) {
    // Zoom 3 along the north edge: three rows of three tiles, the first
    // above the world; six to fetch.
    const DataRequestBlock request = Request(3, 0, 60, 100, 85.05);
    const std::vector<std::string> listed = Listed(request);
    ASSERT_EQ(listed.size(), 9u);
    const Answer T = Answer::Tile, M = Answer::Missing, U = Answer::Undecodable, L = Answer::Late,
                 S = Answer::Skipped;
    struct Case {
        const char* name;
        std::vector<Answer> answers;
        size_t budget;
        std::string verb;
        RenderFailure failure;
        size_t culprit;  // of the fetched tiles
        std::string reason;
    } cases[] = {
        {"every tile there", {T, T, T, T, T, T}, 6, "", RenderFailure::None, 0, ""},
        {"over the budget", {}, 5, "", RenderFailure::TooManyTiles, 0, "6 tiles, more than 5"},
        // Named by the address tried, when there is one, and where it lies.
        {"a failure after one it stopped", {T, S, M, U, T, T}, 6, "", RenderFailure::TileMissing, 2,
         "cannot fetch tile https://upstream.example/2/3/0.png (level 2, column 3, row 0 from the north): HTTP "
         "status 500"},
        {"fetched but no tile", {S, S, S, S, U, M}, 6, "", RenderFailure::TileUndecodable, 4,
         "cannot decode tile % (level 2, column 2, row 1 from the north): neither PNG nor JPEG"},
        {"only skipped ones", {T, S, S, T, T, T}, 6, "", RenderFailure::TileMissing, 1,
         "cannot fetch tile % (level 2, column 2, row 0 from the north): another tile of its batch failed"},
        {"late, in the program's words", {T, T, L, M, T, T}, 6, "cannot have", RenderFailure::TileLate, 2,
         "cannot have tile % (level 2, column 3, row 0 from the north): not there by the request's deadline"},
    };
    for (const Case& c : cases) {
        TileCache cache(0);
        std::vector<std::string> fetched;
        auto holdings = std::make_shared<Holdings>();
        TileProvision provision(cache);
        provision.fetch = [&](const std::vector<std::string>& urls, std::vector<TileResult>& outcomes) {
            fetched = urls;
            for (size_t i = 0; i < urls.size(); ++i) outcomes.push_back(ResultOf(c.answers.at(i)));
        };
        provision.fitsBudget = [&](size_t tiles, std::string& error) {
            error = std::to_string(tiles) + " tiles, more than " + std::to_string(c.budget);
            return tiles <= c.budget;
        };
        provision.hold = [&](size_t tiles) {
            ++holdings->held;
            holdings->tiles = tiles;
            return std::shared_ptr<const void>(nullptr, [holdings](const void*) { --holdings->held; });
        };
        provision.failureVerb = c.verb;
        ProvidedTiles provided = ProvideJobTiles(request, listed, provision);
        EXPECT_EQ(provided.failure, c.failure) << c.name << ": " << provided.message;
        if (c.failure == RenderFailure::TooManyTiles) {
            EXPECT_TRUE(fetched.empty()) << c.name;
            EXPECT_EQ(holdings->tiles, 0u) << c.name;
        } else {
            EXPECT_EQ(fetched, std::vector<std::string>(listed.begin() + 3, listed.end())) << c.name;
            EXPECT_EQ(holdings->tiles, 6u) << c.name;
        }
        if (c.failure == RenderFailure::None) {
            ASSERT_EQ(provided.tiles.size(), 9u) << c.name;
            for (const TileView& view : provided.tiles) EXPECT_EQ(view.pixels, SharedBlankTile()->pixels.data());
            EXPECT_EQ(holdings->held, 1) << c.name << ": held while the plug-in draws";
            provided.keep.reset();
        } else if (c.failure != RenderFailure::TooManyTiles) {
            std::string message = c.reason;
            if (message.find('%') != std::string::npos) message.replace(message.find('%'), 1, fetched[c.culprit]);
            EXPECT_EQ(provided.message, message) << c.name;
        } else {
            EXPECT_NE(provided.message.find(c.reason), std::string::npos) << c.name << ": " << provided.message;
        }
        EXPECT_EQ(holdings->held, 0) << c.name;
    }
}

// With the cache's fetch threads, a tile not there by the deadline fails the
// job as late; its fetch goes on, and a later job takes it from the cache,
// under whatever server the plug-in names it.
TEST(TileProvisionTest, ATileNotThereByTheDeadlineIsLateAndStillComes) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::vector<std::string> fetched;
    TileCache cache(size_t{64} << 20, [&](const std::vector<std::string>& urls, std::vector<TileResult>& outcomes) {
        released.wait();
        fetched.insert(fetched.end(), urls.begin(), urls.end());
        outcomes.assign(urls.size(), ResultOf(Answer::Tile));
    });
    const DataRequestBlock request = Request(3, 0, 60, 100, 85.05);
    std::vector<std::string> listed = Listed(request);
    TileProvision provision(cache);
    provision.deadline = TileCache::Clock::now();
    const ProvidedTiles late = ProvideJobTiles(request, listed, provision);
    EXPECT_EQ(late.failure, RenderFailure::TileLate) << late.message;
    EXPECT_EQ(late.message, "cannot fetch tile " + listed[3] +
                                " (level 2, column 1, row 0 from the north): not there by the request's deadline");
    release.set_value();
    for (std::string& url : listed) url.replace(url.find("//tile") + 6, 1, "9");
    provision.deadline = TileCache::Clock::time_point::max();
    const ProvidedTiles again = ProvideJobTiles(request, listed, provision);
    EXPECT_EQ(again.failure, RenderFailure::None) << again.message;
    EXPECT_EQ(fetched.size(), 6u);
}

}  // namespace
