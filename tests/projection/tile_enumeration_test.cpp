#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "projection/zarvo_coord_transform.h"

namespace {

using Keys = std::vector<TileKey>;

Keys Enumerate(const GeoBox& box, int32_t zoom) {
    const ZarvoCoordTransform t(LayerKind::Map, u"map");
    Keys keys;
    t.EnumerateTiles(box, zoom, keys);
    return keys;
}

struct EnumerationCase {
    const char* what;
    GeoBox box;
    int32_t zoom;
    Keys expected;
};

class TileEnumerationTest : public ::testing::TestWithParam<EnumerationCase> {};

TEST_P(TileEnumerationTest, ListsTheCoveringTilesInRowMajorOrder) {
    const EnumerationCase& c = GetParam();
    EXPECT_EQ(Enumerate(c.box, c.zoom), c.expected) << c.what;
}

constexpr double kNorthEdge = 85.0511287798;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, TileEnumerationTest,
    ::testing::Values(
        EnumerationCase{"one tile", {10, 50, 20, 60}, 3, {{512, 4352, 3}}},
        EnumerationCase{"a point", {0, 0, 0, 0}, 1, {{0, 1024, 1}}},
        EnumerationCase{"whole world with the rows beyond it",
                        {-180, -kNorthEdge, 180, kNorthEdge},
                        1,
                        {{0, 768, 1}, {256, 768, 1}, {0, 1024, 1}, {256, 1024, 1}, {0, 1280, 1}, {256, 1280, 1}}},
        EnumerationCase{"start west of the world by less than a tile", {-190, 0, -170, 10}, 3,
                        {{0, 4352, 3}, {0, 4608, 3}}},
        EnumerationCase{"start a whole tile west of the world", {-540, 0, 0, 1}, 1, {}},
        EnumerationCase{"end west of the aligned start", {-537, 0, -500, 1}, 1, {}},
        EnumerationCase{"margin pulls in the row south of the equator", {-180, 0, -179, 1}, 2,
                        {{0, 2048, 2}, {0, 2304, 2}}},
        EnumerationCase{"corners in any order", {20, 60, 10, 50}, 3, {{512, 4352, 3}}}));

INSTANTIATE_TEST_SUITE_P(
    RefusedRequests, TileEnumerationTest,
    ::testing::Values(EnumerationCase{"zoom 0", {10, 50, 20, 60}, 0, {}},
                      EnumerationCase{"negative zoom", {10, 50, 20, 60}, -3, {}},
                      EnumerationCase{"zoom 22", {10, 50, 10.001, 50.001}, 22, {}},
                      EnumerationCase{"NaN corner", {kNaN, 50, 20, 60}, 3, {}},
                      EnumerationCase{"infinite corner", {10, 50, 20, kInf}, 3, {}},
                      EnumerationCase{"bounds past 32 bits", {10, 50, 1e12, 60}, 3, {}},
                      EnumerationCase{"whole world at zoom 21", {-180, -80, 180, 80}, 21, {}},
                      EnumerationCase{"huge negative longitude", {-1e300, 0, 0, 1}, 5, {}}));

TEST(TileEnumerationTest, AppendsAfterWhatTheListHolds) {
    const ZarvoCoordTransform t(LayerKind::Map, u"map");
    Keys keys{{7, 8, 9}};
    t.EnumerateTiles({10, 50, 20, 60}, 3, keys);
    EXPECT_EQ(keys, (Keys{{7, 8, 9}, {512, 4352, 3}}));
}

TEST(TileEnumerationTest, ServesZoom21AndTheTileLimitExactly) {
    // A small box at the deepest zoom still enumerates.
    EXPECT_FALSE(Enumerate({10, 50, 10.0001, 50.0001}, 21).empty());
    // 256 x 256 tiles is the most one request may ask for.
    EXPECT_EQ(Enumerate({-180, -85, 180, 85}, 9).size(), 0u);  // 257 x 257 tiles
    const size_t full = Enumerate({-180, -85, 180, 85}, 8).size();  // 130 x 129 tiles
    EXPECT_GT(full, 0u);
    EXPECT_LE(full, 65536u);
}

// Random boxes: the keys form a complete row-major grid on the tile lattice
// that covers the corners' world pixels with the two-pixel margin.
TEST(TileEnumerationTest, RandomBoxesGiveCompleteCoveringGrids) {
    const ZarvoCoordTransform t(LayerKind::Map, u"map");
    std::mt19937_64 rng(20261207);
    std::uniform_real_distribution<double> lon(-179.9, 179.9);
    std::uniform_real_distribution<double> lat(-85, 85);
    std::uniform_int_distribution<int32_t> zoomOf(1, 21);
    std::uniform_real_distribution<double> span(0, 1);
    int tested = 0;
    for (int iteration = 0; iteration < 3000; ++iteration) {
        const int32_t zoom = zoomOf(rng);
        const double size = std::pow(span(rng), 3) * 720.0 / (1 << (zoom - 1));
        const GeoBox box{lon(rng), lat(rng), 0, 0};
        const GeoBox full{box.lon1, box.lat1, std::min(180.0, box.lon1 + size), std::min(85.0, box.lat1 + size)};
        Keys keys;
        t.EnumerateTiles(full, zoom, keys);
        if (keys.empty()) {
            continue;
        }
        ++tested;
        int32_t columns = 0;
        while (columns < static_cast<int32_t>(keys.size()) && keys[columns].y == keys[0].y) {
            ++columns;
        }
        ASSERT_EQ(keys.size() % columns, 0u);
        for (size_t k = 0; k < keys.size(); ++k) {
            const TileKey& key = keys[k];
            ASSERT_EQ(key.zoom, zoom);
            ASSERT_EQ(key.x % 256, 0);
            ASSERT_EQ(key.y % 256, 0);
            ASSERT_EQ(key.x, keys[0].x + static_cast<int32_t>(k % columns) * 256);
            ASSERT_EQ(key.y, keys[0].y + static_cast<int32_t>(k / columns) * 256);
        }
        const TileKey& last = keys.back();
        for (double cx : {full.lon1, full.lon2}) {
            for (double cy : {full.lat1, full.lat2}) {
                const WorldPoint p = t.ToWorldPixel(cx, cy, zoom);
                const double x = std::trunc(p.x);
                const double y = std::trunc(p.y);
                ASSERT_LE(std::max(0.0, x - 2), x);
                ASSERT_LE(keys[0].x, std::max(0.0, x - 2));
                ASSERT_LE(keys[0].y, y - 2);
                ASSERT_GT(last.x + 256, x + 1);
                ASSERT_GT(last.y + 256, y + 1);
            }
        }
    }
    EXPECT_GT(tested, 2500);
}

}  // namespace
