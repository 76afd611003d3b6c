#include <gtest/gtest.h>

#include <cmath>

#include "projection/mercator.h"
#include "projection/zarvo_coord_transform.h"

namespace {

struct ProjectionCase {
    const char* what;
    int32_t zoom;
    double lon;
    double lat;
    double x;
    double y;
    double tolerance;
};

class WorldPixelTest : public ::testing::TestWithParam<ProjectionCase> {};

TEST_P(WorldPixelTest, ProjectsToTheExpectedWorldPixel) {
    const ProjectionCase& c = GetParam();
    const ZarvoCoordTransform t(LayerKind::Map, u"map");
    const WorldPoint p = t.ToWorldPixel(c.lon, c.lat, c.zoom);
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
                      ProjectionCase{"longitude is not wrapped", 1, 190, 0, 263.1111, 1152.0, 1e-4}));

TEST(MercatorProjectTest, KeepsTheOrderOfOperationsToTheBit) {
    // Computed independently with the same constants and order of operations;
    // a contracted multiply-add or a full-precision constant changes these bits.
    const WorldPoint p = MercatorProject(10.0, 60.0, 2);
    EXPECT_EQ(p.x, (10.0 * 0.7111111111111111 + 128.0) * 4.0);
    const double s = std::sin(60.0 * 0.017453292519943295);
    EXPECT_EQ(p.y, (128.0 - ((std::log((1 + s) / (1 - s)) * 0.5) * 40.743665431525)) * 4.0);
}

TEST(MercatorProjectTest, SeparableAxesMatchTheWholeProjection) {
    for (double lon : {-180.0, -33.3, 0.0, 17.25, 179.999}) {
        for (double lat : {-89.0, -45.5, 0.0, 51.5, 85.0}) {
            const WorldPoint p = MercatorProject(lon, lat, 7);
            EXPECT_EQ(p.x, MercatorX(lon, 128.0));
            EXPECT_EQ(p.y, MercatorY(lat, 128.0));
        }
    }
}

TEST(ZarvoCoordTransformTest, TilesAre256PixelsForEveryKind) {
    for (LayerKind kind : {LayerKind::Aerial, LayerKind::Map, LayerKind::Hybrid}) {
        const ZarvoCoordTransform t(kind, u"x");
        EXPECT_EQ(t.TileWidth(), 256);
        EXPECT_EQ(t.TileHeight(), 256);
        EXPECT_TRUE(t.IsSeparable());
    }
}

}  // namespace
