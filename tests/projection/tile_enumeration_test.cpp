#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <random>
#include <vector>

#include "projection/zarvo_coord_transform.h"
#include "tests/support/tile_fixtures.h"

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

void PrintTo(const EnumerationCase& c, std::ostream* os) {
    *os << c.what;
}

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
        EnumerationCase{"corners in any order", {20, 60, 10, 50}, 3, {{512, 4352, 3}}},
        EnumerationCase{"a small box at the deepest zoom", {10, 50, 10.0001, 50.0001}, 21,
                        {{141674240, 1164780032, 21}, {141674240, 1164780288, 21}}}));

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

// A box whose cover at zoom 21 is exactly `columns` x `rows` tiles, the
// north-west one at tile (kFirstColumn, kFirstRow) of the offset grid: its
// edges sit half a pixel inside the two-pixel margin of each tile border,
// far from any rounding of the inverse projection.
constexpr int32_t kLimitZoom = 21;
constexpr int64_t kFirstColumn = 1000;
constexpr int64_t kFirstRow = (int64_t{1} << 22) + (int64_t{1} << 19) - 300;  // offset rows, near the equator

GeoBox BoxOfTiles(int64_t columns, int64_t rows) {
    const double west = 256.0 * kFirstColumn + 2.5;
    const double east = 256.0 * (kFirstColumn + columns) - 1.5;
    const double north = 256.0 * kFirstRow + 2.5;
    const double south = 256.0 * (kFirstRow + rows) - 1.5;
    return GeoBox{LongitudeOfWorldX(west, kLimitZoom), LatitudeOfWorldY(south, kLimitZoom),
                  LongitudeOfWorldX(east, kLimitZoom), LatitudeOfWorldY(north, kLimitZoom)};
}

struct LimitCase {
    int64_t columns;
    int64_t rows;
    bool accepted;
};

void PrintTo(const LimitCase& c, std::ostream* os) {
    *os << c.columns << " x " << c.rows << " tiles";
}

class TileLimitTest : public ::testing::TestWithParam<LimitCase> {};

// One request may ask for at most 65,536 tiles, in any shape; one more
// column or row past that is refused.
TEST_P(TileLimitTest, RefusesCoversOfMoreThan65536Tiles) {
    const LimitCase& c = GetParam();
    const ZarvoCoordTransform t(LayerKind::Map, u"map");
    const GeoBox box = BoxOfTiles(c.columns, c.rows);
    const TileRange range = t.CoverBox(box, kLimitZoom);
    Keys keys;
    t.EnumerateTiles(box, kLimitZoom, keys);
    if (!c.accepted) {
        EXPECT_TRUE(range.Empty());
        EXPECT_EQ(range.Count(), 0u);
        EXPECT_TRUE(keys.empty());
        return;
    }
    ASSERT_EQ(range.columns, c.columns);
    ASSERT_EQ(range.rows, c.rows);
    EXPECT_EQ(range.x0, 256 * kFirstColumn);
    EXPECT_EQ(range.y0, 256 * kFirstRow);
    EXPECT_EQ(range.Count(), static_cast<size_t>(c.columns * c.rows));
    ASSERT_EQ(keys.size(), range.Count());
    EXPECT_EQ(keys.front(), (TileKey{static_cast<int32_t>(256 * kFirstColumn), static_cast<int32_t>(256 * kFirstRow),
                                     kLimitZoom}));
    EXPECT_EQ(keys.back(),
              (TileKey{static_cast<int32_t>(256 * (kFirstColumn + c.columns - 1)),
                       static_cast<int32_t>(256 * (kFirstRow + c.rows - 1)), kLimitZoom}));
}

INSTANTIATE_TEST_SUITE_P(AtTheEdge, TileLimitTest,
                         ::testing::Values(LimitCase{256, 256, true},     // 65,536
                                           LimitCase{1, 65536, true},     // 65,536
                                           LimitCase{65536, 1, true},     // 65,536
                                           LimitCase{3, 21845, true},     // 65,535
                                           LimitCase{256, 257, false},    // 65,792
                                           LimitCase{257, 256, false},    // 65,792
                                           LimitCase{1, 65537, false},    // 65,537
                                           LimitCase{65537, 1, false},    // 65,537
                                           LimitCase{3, 21846, false}));  // 65,538

// Latitudes 85 south to 85 north, all longitudes: 129 x 128 tiles at zoom 8
// (the margin adds the column east of the world), 257 x 256 at zoom 9, which
// is more than one request may have.
TEST(TileEnumerationTest, WholeWorldFitsTheLimitUpToZoom8) {
    const ZarvoCoordTransform t(LayerKind::Map, u"map");
    const TileRange zoom8 = t.CoverBox({-180, -85, 180, 85}, 8);
    EXPECT_EQ(zoom8.x0, 0);
    EXPECT_EQ(zoom8.y0, 131072);
    EXPECT_EQ(zoom8.columns, 129);
    EXPECT_EQ(zoom8.rows, 128);
    EXPECT_TRUE(t.CoverBox({-180, -85, 180, 85}, 9).Empty());
    EXPECT_EQ(t.CoverBox({-180, -85, 179, 85}, 9).Count(), 256u * 256u);
}

// Random boxes: the keys form a complete row-major grid on the tile lattice,
// and it is the smallest one that holds every world pixel from two west of
// (and north of) the corners' pixels to two east of (and south of) them:
// the resampler reaches one pixel east and south of each sample.
TEST(TileEnumerationTest, RandomBoxesGiveTheSmallestCoveringGrid) {
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
        const double west = lon(rng);
        const double south = lat(rng);
        const GeoBox box{west, south, std::min(180.0, west + size), std::min(85.0, south + size)};
        Keys keys;
        t.EnumerateTiles(box, zoom, keys);
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
        double minX = std::numeric_limits<double>::infinity();
        double maxX = -minX;
        double minY = minX;
        double maxY = -minX;
        for (double cx : {box.lon1, box.lon2}) {
            for (double cy : {box.lat1, box.lat2}) {
                const WorldPoint p = t.ToWorldPixel(cx, cy, zoom);
                minX = std::min(minX, std::trunc(p.x));
                maxX = std::max(maxX, std::trunc(p.x));
                minY = std::min(minY, std::trunc(p.y));
                maxY = std::max(maxY, std::trunc(p.y));
            }
        }
        // The world has no pixel west of 0, so the margin stops there.
        const double firstX = std::max(0.0, minX - 2);
        const double lastX = maxX + 1;
        const double firstY = minY - 2;
        const double lastY = maxY + 1;
        const TileKey& first = keys.front();
        const TileKey& last = keys.back();
        ASSERT_LE(first.x, firstX) << iteration;
        ASSERT_LT(firstX, first.x + 256) << iteration;
        ASSERT_LE(first.y, firstY) << iteration;
        ASSERT_LT(firstY, first.y + 256) << iteration;
        ASSERT_LE(last.x, lastX) << iteration;
        ASSERT_LT(lastX, last.x + 256) << iteration;
        ASSERT_LE(last.y, lastY) << iteration;
        ASSERT_LT(lastY, last.y + 256) << iteration;
    }
    EXPECT_GT(tested, 2500);
}

}  // namespace
