// The intake's policy over what a source delivers: missing tiles, broken
// ones, the order failures are reported in, the memory budget.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <utility>

#include "host/tile_intake.h"
#include "tests/host/hostile_tiles.h"
#include "tests/support/scratch_directory.h"

namespace {

// Delivers scripted outcomes in a scripted order, honouring a stop as a
// parallel source does: what is "in flight" (the next `inFlight`) still comes.
class ScriptedSource final : public TileSource {
public:
    ScriptedSource(std::vector<TileFetch> outcomes, std::vector<size_t> order, size_t inFlight)
        : outcomes(std::move(outcomes)), order(std::move(order)), inFlight(inFlight) {}

    void Fetch(const std::vector<std::string>&, const FetchLimits&, const TileSink& sink) override {
        size_t last = order.size();
        for (size_t k = 0; k < order.size() && k < last; ++k) {
            if (!sink(order[k], TileFetch(outcomes[order[k]])) && last == order.size()) {
                last = k + 1 + inFlight;
            }
        }
    }

private:
    std::vector<TileFetch> outcomes;
    std::vector<size_t> order;
    size_t inFlight;
};

TileFetch Body(std::vector<uint8_t> file) {
    return TileFetch{TileOutcome::Body, std::move(file), ""};
}
TileFetch Missing() {
    return TileFetch{TileOutcome::Missing, {}, "HTTP status 404"};
}
TileFetch Failed(const char* reason) {
    return TileFetch{TileOutcome::Failed, {}, reason};
}

std::vector<std::string> Urls(size_t n) {
    std::vector<std::string> urls;
    for (size_t i = 0; i < n; ++i) urls.push_back("tile" + std::to_string(i));
    return urls;
}

TEST(TileIntakeTest, PolicyDecidesWhatAMissingTileComesTo) {
    const std::vector<uint8_t> good = GoodPngTile();
    const std::vector<uint8_t> bomb = PngClaiming(1000000, 1000000);
    struct Case {
        const char* name;
        std::vector<TileFetch> outcomes;
        std::vector<size_t> order;
        MissingTiles policy;
        bool complete;
        size_t missing;
        std::string problemUrl;
        std::string reason;
    } cases[] = {
        {"all there", {Body(good), Body(good)}, {0, 1}, MissingTiles::Fail, true, 0, "", ""},
        {"missing, blank", {Body(good), Missing(), Missing()}, {2, 0, 1}, MissingTiles::Blank, true, 2, "", ""},
        {"missing, fail", {Body(good), Missing(), Body(good)}, {0, 1, 2}, MissingTiles::Fail, false, 0, "tile1",
         "HTTP status 404"},
        {"server error fails under blank", {Body(good), Failed("HTTP status 500")}, {0, 1}, MissingTiles::Blank,
         false, 0, "tile1", "HTTP status 500"},
        {"bomb fails under blank", {Body(good), Body(bomb)}, {0, 1}, MissingTiles::Blank, false, 0, "tile1",
         "declares 1000000 x 1000000"},
        // Tile 3 fails first, tile 1 (in flight) after: tile 1 is reported.
        {"earliest in address order", {Body(good), Failed("late"), Body(good), Failed("early")}, {0, 3, 1, 2},
         MissingTiles::Blank, false, 0, "tile1", "late"},
    };
    for (const Case& c : cases) {
        ScriptedSource source(c.outcomes, c.order, 2);
        IntakeOptions options;
        options.missing = c.policy;
        size_t reported = 0;
        const TileIntake intake = TakeInTiles(source, Urls(c.outcomes.size()), options, [&](size_t n) { reported = n; });
        EXPECT_EQ(intake.complete, c.complete) << c.name;
        EXPECT_EQ(intake.missing, c.missing) << c.name;
        if (c.complete) {
            EXPECT_EQ(reported, c.outcomes.size()) << c.name;
            ASSERT_EQ(intake.images.size(), c.outcomes.size()) << c.name;
            for (size_t i = 0; i < c.outcomes.size(); ++i) {
                EXPECT_EQ(intake.images[i].pixels.empty(), c.outcomes[i].outcome == TileOutcome::Missing) << c.name;
            }
        } else {
            EXPECT_EQ(intake.problem.url, c.problemUrl) << c.name;
            EXPECT_NE(intake.problem.reason.find(c.reason), std::string::npos) << c.name << ": " << intake.problem.reason;
        }
    }
}

TEST(TileIntakeTest, FirstMissingTileIsTheFirstInAddressOrder) {
    ScriptedSource source({Body(GoodPngTile()), Missing(), Missing()}, {2, 1, 0}, 0);
    const TileIntake intake = TakeInTiles(source, Urls(3), IntakeOptions{}, [](size_t) {});
    EXPECT_EQ(intake.missing, 2u);
    EXPECT_EQ(intake.firstMissing, "tile1");
}

// An MBTiles file made to hurt: a tile's bytes are never taken before its
// length is known to be within the bound, and a query that never ends ends
// at the fetch's deadline.
TEST(TileIntakeTest, HostileMbtilesFilesEndAsOneOutcome) {
    const std::string tile = "http://tile1.zarvo.example/geowebcache/service/tms1.0.0/map/5/16/20.png";
    const std::string row = "SELECT 5 AS zoom_level, 16 AS tile_column, 20 AS tile_row, ";
    struct Case {
        const char* name;
        std::string schema;
        TileOutcome outcome;
        const char* reason;
    } cases[] = {
        {"a tile", "CREATE TABLE tiles AS " + row + "x'89504E47' AS tile_data", TileOutcome::Body, ""},
        {"no tile", "CREATE TABLE tiles AS " + row + "x'00' AS tile_data WHERE 0", TileOutcome::Missing,
         "no such tile"},
        {"8 MB", "CREATE TABLE tiles AS " + row + "zeroblob(8000000) AS tile_data", TileOutcome::Failed,
         "the tile has 8000000 bytes, more than the 1048576 a tile may have"},
        {"never ends",
         "CREATE VIEW tiles AS WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n) " + row +
             "x'00' AS tile_data FROM n WHERE i < 0",
         TileOutcome::Failed, "the fetch deadline of 1 s passed"},
    };
    FetchLimits limits;
    limits.maxBodyBytes = 1 << 20;
    limits.deadline = std::chrono::milliseconds(1000);
    for (const Case& c : cases) {
        const std::string path = Scratch(std::string(c.name) + ".mbtiles").string();
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, c.schema.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
        std::string error;
        const std::unique_ptr<TileSource> source = MakeTileSource(path, error);
        ASSERT_TRUE(source) << c.name << ": " << error;
        sqlite3_int64 used = 0, peak = 0;
        sqlite3_status64(SQLITE_STATUS_MEMORY_USED, &used, &peak, 1);
        TileFetch fetched;
        source->Fetch({tile}, limits, [&](size_t, TileFetch&& fetch) {
            fetched = std::move(fetch);
            return true;
        });
        sqlite3_status64(SQLITE_STATUS_MEMORY_USED, &used, &peak, 0);
        EXPECT_LT(peak, 2 << 20) << c.name;
        EXPECT_EQ(fetched.outcome, c.outcome) << c.name << ": " << fetched.reason;
        EXPECT_NE(fetched.reason.find(c.reason), std::string::npos) << c.name << ": " << fetched.reason;
        EXPECT_EQ(fetched.address, path + " at zoom_level 5, tile_column 16, tile_row 20") << c.name;
    }
}

TEST(TileIntakeTest, BudgetNamesTheCountAndTheBudget) {
    std::string error;
    const uint64_t twoGigabytes = uint64_t{2048} << 20;
    EXPECT_TRUE(TilesFitBudget(10922, twoGigabytes, error));
    EXPECT_FALSE(TilesFitBudget(10923, twoGigabytes, error));
    EXPECT_FALSE(TilesFitBudget(64770, twoGigabytes, error));
    EXPECT_NE(error.find("needs 64770 tiles, 12.7 GB decoded"), std::string::npos) << error;
    EXPECT_NE(error.find("budget of 2048 MB (10922 tiles)"), std::string::npos) << error;
}

}  // namespace
