// The HTTP tile source against a loopback server that misbehaves on
// purpose: every answer ends as one outcome within the limits.

#include <gtest/gtest.h>

#include <string>

#include "host/bounded_file.h"
#include "host/tile_intake.h"
#include "host/tile_source.h"
#include "tests/host/loopback_server.h"

namespace {

constexpr char kTile[] = "map/5/16/20.png";
constexpr char kService[] = "http://tile1.zarvo.example/geowebcache/service/tms1.0.0/";

std::string ServerScript() {
    return std::string(ZARVO_SOURCE_DIR) + "/tests/host/hostile_tile_server.py";
}

// Tight limits, so that a stall or an endless body ends in about a second.
FetchLimits TestLimits() {
    FetchLimits limits;
    limits.maxBodyBytes = 1 << 20;
    limits.transferTimeout = std::chrono::milliseconds(1000);
    limits.deadline = std::chrono::milliseconds(20000);
    limits.retries = 1;
    return limits;
}

std::vector<TileFetch> FetchAll(TileSource& source, const std::vector<std::string>& urls, const FetchLimits& limits) {
    std::vector<TileFetch> fetched(urls.size());
    source.Fetch(urls, limits, [&](size_t i, TileFetch&& fetch) {
        fetched[i] = std::move(fetch);
        return true;
    });
    return fetched;
}

class HttpTileSourceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new LoopbackServer(ServerScript(), ZARVO_DEMO_TILES); }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    std::unique_ptr<TileSource> Source(const std::string& mode) const {
        std::string error;
        auto source = MakeTileSource(server->Address() + "/" + mode + "/{layer}/{z}/{x}/{-y}.{ext}", error);
        EXPECT_TRUE(source) << error;
        return source;
    }
    static LoopbackServer* server;
};

LoopbackServer* HttpTileSourceTest::server = nullptr;

TEST_F(HttpTileSourceTest, EveryAnswerEndsAsOneOutcome) {
    ASSERT_GT(server->port, 0);
    std::vector<uint8_t> file;
    std::string error;
    ASSERT_EQ(ReadBoundedFile(std::string(ZARVO_DEMO_TILES) + "/" + kTile, 1 << 20, file, error),
              FileReadStatus::Read);
    struct Case {
        const char* mode;
        TileOutcome outcome;
        const char* reason;
    } cases[] = {
        {"ok", TileOutcome::Body, ""},
        {"flaky", TileOutcome::Body, ""},  // a 500 once, then the tile
        {"missing", TileOutcome::Missing, "HTTP status 404"},
        {"error", TileOutcome::Failed, "HTTP status 500 (tried 2 times)"},
        {"endless", TileOutcome::Failed, "body larger than 1048576 bytes"},
        {"oversized", TileOutcome::Failed, "body larger than 1048576 bytes"},
        {"stall", TileOutcome::Failed, "no complete answer within 1000 ms"},
        // Answered only once all four transfers of the batch wait at once:
        // none of them waits for another, nor counts another's time.
        {"together", TileOutcome::Body, ""},
    };
    for (const Case& c : cases) {
        const auto fetched = FetchAll(*Source(c.mode), std::vector<std::string>(4, std::string(kService) + kTile),
                                      TestLimits());
        for (const TileFetch& fetch : fetched) {
            EXPECT_EQ(fetch.outcome, c.outcome) << c.mode;
            EXPECT_NE(fetch.reason.find(c.reason), std::string::npos) << c.mode << ": " << fetch.reason;
            if (c.outcome == TileOutcome::Body) {
                EXPECT_TRUE(fetch.body == file) << c.mode;
            }
        }
    }
}

// The plug-in's own addresses, every server name connected to the loopback.
TEST_F(HttpTileSourceTest, HostAndPortServesAddressesAsTheyAre) {
    std::string error;
    const auto source = MakeTileSource(server->Address(), error);
    ASSERT_TRUE(source) << error;
    const auto fetched = FetchAll(*source, {std::string(kService) + kTile, std::string(kService) + "map/5/99/0.png"},
                                  TestLimits());
    EXPECT_EQ(fetched[0].outcome, TileOutcome::Body);
    EXPECT_EQ(fetched[1].outcome, TileOutcome::Missing);
}

// A connection outlives its fetch: the next fetch from the same server,
// even through another source (zarvo-serve makes one per batch), reuses it.
TEST_F(HttpTileSourceTest, FetchesReuseTheirConnections) {
    std::string first, second;
    for (std::string* seen : {&first, &second}) {
        const auto fetched = FetchAll(*Source("connection"), {std::string(kService) + kTile}, TestLimits());
        ASSERT_EQ(fetched[0].outcome, TileOutcome::Body);
        seen->assign(fetched[0].body.begin(), fetched[0].body.end());
    }
    EXPECT_EQ(first, second) << "the second fetch opened a new connection";
}

TEST_F(HttpTileSourceTest, TheWholeFetchEndsByItsDeadline) {
    FetchLimits limits = TestLimits();
    limits.transferTimeout = std::chrono::milliseconds(30000);
    limits.deadline = std::chrono::milliseconds(1000);
    const std::vector<std::string> urls(3, std::string(kService) + kTile);
    const auto fetched = FetchAll(*Source("stall"), urls, limits);
    for (const TileFetch& fetch : fetched) {
        EXPECT_EQ(fetch.outcome, TileOutcome::Failed);
        EXPECT_NE(fetch.reason.find("the fetch deadline of 1 s passed"), std::string::npos) << fetch.reason;
    }
}

// With parallel transfers the reported failure is still the first failing
// address, not the first failure to happen: address 2 stalls for a second,
// address 9 fails at once.
TEST_F(HttpTileSourceTest, TheEarliestFailingAddressIsReported) {
    std::string error;
    const auto source = MakeTileSource(server->Address() + "/{layer}/map/{z}/{x}/{-y}.{ext}", error);
    ASSERT_TRUE(source) << error;
    std::vector<std::string> urls;
    for (int i = 0; i < 12; ++i) {
        const char* mode = i == 2 ? "stall" : i == 9 ? "error" : "ok";
        urls.push_back(std::string("http://tile1.zarvo.example/geowebcache/service/tms1.0.0/") + mode + "/5/" +
                       std::to_string(10 + i) + "/20.png");
    }
    IntakeOptions options;
    options.limits = TestLimits();
    const TileIntake intake = TakeInTiles(*source, urls, options, [](size_t) {});
    EXPECT_FALSE(intake.complete);
    EXPECT_EQ(intake.problem.url, urls[2]);
    EXPECT_NE(intake.problem.reason.find("no complete answer"), std::string::npos) << intake.problem.reason;
}

}  // namespace
