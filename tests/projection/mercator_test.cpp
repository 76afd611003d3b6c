#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

#include "projection/mercator.h"
#include "projection/zarvo_coord_transform.h"
#include "projection/power_of_two.h"
#include "projection/zoom.h"

namespace {

const ZarvoCoordTransform kMap(LayerKind::Map, u"map");

// Width (and height) of the world in pixels at `zoom`.
double WorldSize(int32_t zoom) {
    return std::ldexp(256.0, zoom - 1);
}

// The y offset ToWorldPixel adds: four world heights.
double Offset(int32_t zoom) {
    return 4 * WorldSize(zoom);
}

double Ulp(double v) {
    return std::nextafter(std::fabs(v), std::numeric_limits<double>::infinity()) - std::fabs(v);
}

struct ProjectionCase {
    const char* what;
    int32_t zoom;
    double lon;
    double lat;
    double x;
    double y;
    double tolerance;
};

void PrintTo(const ProjectionCase& c, std::ostream* os) {
    *os << c.what;
}

class WorldPixelTest : public ::testing::TestWithParam<ProjectionCase> {};

TEST_P(WorldPixelTest, ProjectsToTheExpectedWorldPixel) {
    const ProjectionCase& c = GetParam();
    const WorldPoint p = kMap.ToWorldPixel(c.lon, c.lat, c.zoom);
    EXPECT_NEAR(p.x, c.x, c.tolerance) << c.what;
    EXPECT_NEAR(p.y, c.y, c.tolerance) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, WorldPixelTest,
    ::testing::Values(ProjectionCase{"origin plus offset", 1, 0, 0, 128.0, 1152.0, 0},
                      ProjectionCase{"west edge", 1, -180, 0, 0.0, 1152.0, 0},
                      ProjectionCase{"east edge", 1, 180, 0, 256.0, 1152.0, 0},
                      ProjectionCase{"north pole clamps the sine", 1, 0, 90, 128.0, 950.2488, 1e-4},
                      ProjectionCase{"south pole clamps the sine", 1, 0, -90, 128.0, 1353.7512, 1e-4},
                      ProjectionCase{"zoom 3 mid latitude", 3, 10, 60, 540.4444, 4393.3692, 1e-4},
                      ProjectionCase{"north edge of the world", 5, -180, 85.0511287798, 0.0, 16384.0, 1e-8},
                      ProjectionCase{"longitude is not wrapped", 1, 190, 0, 263.1111, 1152.0, 1e-4},
                      ProjectionCase{"east edge at the deepest zoom", 21, 180, 0, 268435456.0, 1207959552.0, 0}));

// Positions computed elsewhere with the tiling's constants must match ours:
// x to the bit, y to a few units in the last place (sin and log may differ
// by one unit between C libraries). A contracted multiply-add changes x in
// three of these cases; the full-precision 256 / (2 pi) moves y by 8 to 70
// units.
struct BitCase {
    double lon;
    double lat;
    int32_t scaleExponent;
    double x;
    double y;
};

TEST(MercatorProjectTest, MatchesTheTilingsOwnValues) {
    const BitCase cases[] = {
        {10.0, 60.0, 2, 0x1.0e38e38e38e39p+9, 0x1.295e8601106b6p+8},
        {-33.3, -80.0, 0, 0x1.a147ae147ae14p+6, 0x1.c685efaa291a4p+7},
        {151.2093, 51.5, 13, 0x1.d70da043489bcp+20, 0x1.548a3a3397d78p+19},
        {-58.3816, 89.0, 0, 0x1.59efd0f5afeb2p+6, -0x1.04b83eefee4d0p+6},
        {179.999, 30.0, 20, 0x1.ffffa2cb12116p+27, 0x1.a67a1dc84a34bp+26},
    };
    for (const BitCase& c : cases) {
        const WorldPoint p = MercatorProject(c.lon, c.lat, c.scaleExponent);
        EXPECT_EQ(p.x, c.x) << c.lon;
        EXPECT_NEAR(p.y, c.y, 4 * Ulp(c.y)) << c.lat;
    }
}

// The separable resampler projects columns and rows with the two halves;
// they must give the bits of the whole projection.
TEST(MercatorProjectTest, SeparableAxesMatchTheWholeProjection) {
    for (double lon : {-180.0, -33.3, 0.0, 17.25, 179.999}) {
        for (double lat : {-89.0, -45.5, 0.0, 51.5, 85.0}) {
            const WorldPoint p = MercatorProject(lon, lat, 7);
            EXPECT_EQ(p.x, MercatorX(lon, 128.0));
            EXPECT_EQ(p.y, MercatorY(lat, 128.0));
        }
    }
}

TEST(MercatorProjectTest, XIsLinearInLongitude) {
    for (int32_t zoom : {1, 9, 21}) {
        const double world = WorldSize(zoom);
        const double tolerance = world * 1e-14;
        EXPECT_EQ(kMap.ToWorldPixel(-180, 12, zoom).x, 0.0);
        EXPECT_EQ(kMap.ToWorldPixel(180, -40, zoom).x, world);
        for (double lon = -180; lon <= 180; lon += 7.5) {
            // Equal steps of longitude are equal steps of x, whatever the latitude.
            const double x = kMap.ToWorldPixel(lon, 0, zoom).x;
            EXPECT_NEAR(x, (lon + 180) / 360 * world, tolerance) << lon;
            EXPECT_EQ(kMap.ToWorldPixel(lon, 66.6, zoom).x, x);
        }
    }
}

TEST(MercatorProjectTest, YFallsStrictlyNorthwardUpToTheClamp) {
    double south = kMap.ToWorldPixel(0, -89.18, 1).y;
    for (double lat = -89.17; lat <= 89.18; lat += 0.01) {
        const double y = kMap.ToWorldPixel(0, lat, 1).y;
        ASSERT_LT(y, south) << lat;
        south = y;
    }
    double west = kMap.ToWorldPixel(-180, 0, 1).x;
    for (double lon = -179.9; lon <= 180; lon += 0.1) {
        const double x = kMap.ToWorldPixel(lon, 0, 1).x;
        ASSERT_GT(x, west) << lon;
        west = x;
    }
}

// Above the latitude whose sine is 0.9999 every latitude lands on the same
// row, so the logarithm stays finite up to the poles.
TEST(MercatorProjectTest, SineClampHoldsTheRowsBeyondTheClampLatitude) {
    const double clampLatitude = std::asin(0.9999) * 180 / 3.141592653589793;  // about 89.19
    for (int32_t zoom : {1, 12, 21}) {
        const double north = kMap.ToWorldPixel(0, 90, zoom).y;
        const double south = kMap.ToWorldPixel(0, -90, zoom).y;
        ASSERT_TRUE(std::isfinite(north));
        for (double lat : {clampLatitude + 1e-9, 89.5, 89.999999}) {
            EXPECT_EQ(kMap.ToWorldPixel(0, lat, zoom).y, north) << lat;
            EXPECT_EQ(kMap.ToWorldPixel(0, -lat, zoom).y, south) << lat;
        }
        EXPECT_GT(kMap.ToWorldPixel(0, clampLatitude - 1e-6, zoom).y, north);
        EXPECT_LT(kMap.ToWorldPixel(0, -(clampLatitude - 1e-6), zoom).y, south);
        // The clamped rows lie beyond the world, but the offset keeps them positive.
        EXPECT_NEAR(north - Offset(zoom), -73.7512 * std::ldexp(1.0, zoom - 1), 1e-4 * std::ldexp(1.0, zoom - 1));
        EXPECT_GT(north, 0.0);
    }
}

TEST(MercatorProjectTest, RowsAreSymmetricAboutTheEquator) {
    for (int32_t zoom : {1, 8, 21}) {
        const double equator = kMap.ToWorldPixel(0, 0, zoom).y;
        EXPECT_EQ(equator, Offset(zoom) + WorldSize(zoom) / 2);
        for (double lat = 0.5; lat <= 90; lat += 0.5) {
            const double north = kMap.ToWorldPixel(0, lat, zoom).y;
            const double south = kMap.ToWorldPixel(0, -lat, zoom).y;
            EXPECT_NEAR(equator - north, south - equator, WorldSize(zoom) * 1e-12) << lat;
        }
    }
}

// The latitude whose Mercator y is the top of the square world, to ten
// decimals: it lands on the offset (north edge) and the offset plus one
// world height (south edge) within 1e-8 pixels up to zoom 8. The ten
// decimals are about 7e-12 degrees short, 5.5e-11 pixels at zoom 1, an
// error that doubles with each zoom level.
TEST(MercatorProjectTest, EdgeLatitudeMeetsTheWorldsNorthAndSouthEdges) {
    for (int32_t zoom = 1; zoom <= 8; ++zoom) {
        EXPECT_NEAR(kMap.ToWorldPixel(-180, 85.0511287798, zoom).y, Offset(zoom), 1e-8) << zoom;
        EXPECT_NEAR(kMap.ToWorldPixel(180, -85.0511287798, zoom).y, Offset(zoom) + WorldSize(zoom), 1e-8) << zoom;
    }
}

// One zoom level deeper doubles every world coordinate (before the offset,
// which itself doubles): exactly, since the scale is a power of two.
TEST(MercatorProjectTest, EachZoomLevelDoublesTheCoordinates) {
    for (int32_t zoom = kMinZoom; zoom < kMaxZoom; ++zoom) {
        for (double lon : {-180.0, -71.0589, 0.0, 139.6917, 180.0}) {
            for (double lat : {-90.0, -33.8688, 0.0, 42.3601, 85.0511287798}) {
                const WorldPoint here = MercatorProject(lon, lat, zoom - 1);
                const WorldPoint deeper = MercatorProject(lon, lat, zoom);
                ASSERT_EQ(deeper.x, 2 * here.x) << zoom;
                ASSERT_EQ(deeper.y, 2 * here.y) << zoom;
                // ToWorldPixel is this projection plus four world heights.
                const WorldPoint p = kMap.ToWorldPixel(lon, lat, zoom);
                ASSERT_EQ(p.x, here.x);
                ASSERT_EQ(p.y, here.y + Offset(zoom));
            }
        }
    }
}

TEST(PowerOfTwoTest, DefinedBeyondTheIntegerShift) {
    const struct {
        int32_t exponent;
        double value;
    } cases[] = {{0, 1.0}, {1, 2.0}, {30, 1073741824.0}, {31, 2147483648.0}, {40, 1099511627776.0}, {-1, 0.5},
                 {-3, 0.125}};
    for (const auto& c : cases) {
        EXPECT_EQ(PowerOfTwo(c.exponent), c.value) << c.exponent;
    }
}

}  // namespace
