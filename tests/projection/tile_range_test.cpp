#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <random>
#include <vector>

#include "projection/tile_range.h"
#include "projection/zarvo_coord_transform.h"
#include "tests/support/tile_fixtures.h"

namespace {

const ZarvoCoordTransform kMap(LayerKind::Map, u"map");

// The resampler and the host pair image k with Key(k); the enumeration
// must list exactly those keys, in that order, for any box it serves, and
// nothing for a box it refuses.
TEST(TileRangeTest, EnumerationListsKeyKForEveryK) {
    std::mt19937_64 rng(31337);
    std::uniform_real_distribution<double> lon(-200, 200);
    std::uniform_real_distribution<double> lat(-89, 89);
    std::uniform_int_distribution<int32_t> zoomOf(1, 21);
    std::uniform_real_distribution<double> unit(0, 1);
    int served = 0;
    int refused = 0;
    for (int iteration = 0; iteration < 2000; ++iteration) {
        const int32_t zoom = zoomOf(rng);
        // Spans from a fraction of a tile to some hundreds of tiles.
        const double span = std::pow(unit(rng), 4) * 400 * 360.0 / (1 << (zoom - 1));
        const double west = lon(rng);
        const double north = lat(rng);
        const GeoBox box{west, north, west + span * unit(rng), std::max(-89.0, north - span * unit(rng))};
        const TileRange range = kMap.CoverBox(box, zoom);
        std::vector<TileKey> keys;
        kMap.EnumerateTiles(box, zoom, keys);
        ASSERT_EQ(keys.size(), range.Count()) << iteration;
        (range.Empty() ? refused : served) += 1;
        for (size_t k = 0; k < keys.size(); ++k) {
            ASSERT_EQ(keys[k], range.Key(k)) << iteration << " key " << k;
        }
    }
    // Both kinds of box occur often enough to mean something.
    EXPECT_GT(served, 1000);
    EXPECT_GT(refused, 100);
}

TEST(TileRangeTest, RequestCoversItsOwnBox) {
    // The request stores south, west, north, east; the cover is that of the
    // box from (west, south) to (east, north).
    const TileRange range = RequestTileRange(kMap, MakeRequest(3, 10, 50, 20, 60, 2, 2));
    ASSERT_EQ(range.Count(), 1u);
    EXPECT_EQ(range.Key(0), (TileKey{512, 4352, 3}));
    const TileRange tall = RequestTileRange(kMap, MakeRequest(2, -180, 0, -179, 1, 2, 2));
    ASSERT_EQ(tall.Count(), 2u);
    EXPECT_EQ(tall.Key(0), (TileKey{0, 2048, 2}));
    EXPECT_EQ(tall.Key(1), (TileKey{0, 2304, 2}));
}

struct RasterSizeCase {
    uint32_t width;
    uint32_t height;
    bool served;
};

void PrintTo(const RasterSizeCase& c, std::ostream* os) {
    *os << c.width << " x " << c.height << " pixels";
}

class RasterSizeTest : public ::testing::TestWithParam<RasterSizeCase> {};

// A LayerImage counts its bytes in 31 bits, so a raster of more than
// 2^31 - 1 bytes (3 per pixel) is refused. 2^31 - 1 is not a multiple of
// three: the largest raster served has 2,147,483,646 bytes, the next size
// up 2,147,483,649.
TEST_P(RasterSizeTest, RefusesRastersOver2To31Minus1Bytes) {
    const RasterSizeCase& c = GetParam();
    const TileRange range = RequestTileRange(kMap, MakeRequest(3, 10, 50, 20, 60, c.width, c.height));
    EXPECT_EQ(!range.Empty(), c.served) << c.width << " x " << c.height;
}

INSTANTIATE_TEST_SUITE_P(AtTheEdge, RasterSizeTest,
                         ::testing::Values(RasterSizeCase{715827882u, 1u, true},  // 2,147,483,646 bytes
                                           RasterSizeCase{1u, 715827882u, true},
                                           RasterSizeCase{6u, 119304647u, true},
                                           RasterSizeCase{715827883u, 1u, false},  // 2,147,483,649 bytes
                                           RasterSizeCase{1u, 715827883u, false},
                                           RasterSizeCase{26754u, 26755u, true},   // 2,147,409,810 bytes
                                           RasterSizeCase{26755u, 26755u, false},  // 2,147,490,075 bytes
                                           RasterSizeCase{0u, 0xFFFFFFFFu, true},  // no pixel at all
                                           RasterSizeCase{0xFFFFFFFFu, 0u, true},
                                           RasterSizeCase{0xFFFFFFFFu, 0xFFFFFFFFu, false}));

// 2,007,567,422 x 3,062,868,337 pixels of 3 bytes are 26 bytes more than
// 2^64: a size computed as one 64-bit product wraps to 26 and lets the
// request through, and the resampler then writes the whole first row of
// samples into a raster of 26 bytes.
TEST(TileRangeTest, RefusesARasterWhoseByteCountWrapsPast64Bits) {
    EXPECT_TRUE(RequestTileRange(kMap, MakeRequest(3, 10, 50, 20, 60, 2007567422u, 3062868337u)).Empty());
    EXPECT_TRUE(RequestTileRange(kMap, MakeRequest(3, 10, 50, 20, 60, 1604214285u, 3832975899u)).Empty());
}

}  // namespace
