// Where hosts ask the plug-in to sample: every pixel's value lands at its
// centre, nothing beyond the world's edges is drawn, and the cut into
// requests is within the limits.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "host/placement.h"
#include "host/zoom_choice.h"
#include "projection/mercator.h"
#include "projection/power_of_two.h"
#include "projection/tile_range.h"
#include "projection/zoom.h"

namespace {

struct GridCase {
    const char* name;
    PixelGrid grid;
    int32_t zoom;
};

TEST(PlacementTest, EveryPixelIsAskedForHalfATilePixelWestAndNorthOfItsCentre) {
    const GridCase cases[] = {
        {"europe, magnified", GridFromEdges(0, 40, 10, 50, 1600, 1600), 6},
        {"world, reduced", GridFromEdges(-180, -90, 180, 90, 3000, 1500), 9},
        {"arctic at zoom 21", GridFromEdges(10, 84.9, 10.001, 85.06, 300, 4000), 21},
        {"across longitude 180", GridFromCentres(170, -50, 200, -20, 900, 700), 8},
        {"west of -180, one row", GridFromEdges(-185, 10, -175, 10.01, 500, 1), 10},
    };
    SegmentLimits limits;
    limits.maxColumns = 700;
    limits.maxRows = 900;
    limits.maxTiles = 300;
    for (const GridCase& c : cases) {
        const RenderPlan plan = PlanRender(c.grid, PlacementPolicy{c.zoom, false}, limits);
        ASSERT_TRUE(plan.error.empty()) << c.name << ": " << plan.error;
        const double scale = PowerOfTwo(c.zoom - 1), world = PowerOfTwo(c.zoom + 7);
        std::vector<int> covered(size_t{c.grid.width} * c.grid.height, 0);
        for (const Segment& s : plan.segments) {
            const DataRequestBlock& r = s.request;
            for (uint32_t i = 0; i < s.rows; ++i) {
                const double centre = c.grid.CentreLat(c.grid.row0 + s.row0 + i);
                ASSERT_EQ(s.nodata, !CentreInWorld(centre)) << c.name << " row " << s.row0 + i;
                for (uint32_t j = 0; j < s.columns; ++j) ++covered[(s.row0 + i) * size_t{c.grid.width} + s.column0 + j];
                if (s.nodata) continue;
                // As the plug-in steps: first + i * step, exactly.
                const double lat = r.north + i * ((r.south - r.north) / (r.height - 1));
                const double want = MercatorY(centre, scale) - 0.5;
                const double got = MercatorY(lat, scale);
                if (want < 0 || want > world - 1) {
                    // Within half a pixel of an edge: the edge row itself, never beyond.
                    EXPECT_TRUE(got >= 0 && got <= world - 1 && std::fabs(got - want) <= 1) << c.name;
                } else {
                    EXPECT_NEAR(got, want, 0.04) << c.name << " row " << s.row0 + i;
                }
            }
            if (s.nodata) continue;
            EXPECT_GE(r.west, -180) << c.name;
            EXPECT_LE(RequestTileRange(r).Count(), limits.maxTiles) << c.name;
            for (uint32_t j = 0; j < s.columns; ++j) {
                const double lon = r.west + j * ((r.east - r.west) / (r.width - 1));
                const double centre = c.grid.CentreLon(c.grid.column0 + s.column0 + j);
                const double off = std::fmod(MercatorX(lon, scale) - (MercatorX(centre, scale) - 0.5) + 4 * world, world);
                EXPECT_LT(std::min(off, world - off), 1e-3) << c.name << " column " << s.column0 + j;
            }
        }
        for (int n : covered) ASSERT_EQ(n, 1) << c.name << ": the segments cover every pixel once";
    }
}

// Both programs draw an image at the zoom of its pixel size at the middle
// latitude of the part of it on the tiles.
TEST(PlacementTest, AnImageIsDrawnAtTheZoomOfTheMiddleOfItsPartOnTheTiles) {
    struct Case {
        const char* name;
        double south, north, middle;
    } cases[] = {
        {"reaching past the north edge", 0, 170, kWorldNorth / 2},
        {"across both edges", -90, 80, (kWorldSouth + 80) / 2},
        {"wholly north of the world", 86, 90, 0},
        {"wholly south of the world", -90, -86, 0},
    };
    for (const Case& c : cases) {
        for (double dy : {0.01, 0.17, 1.3}) {
            EXPECT_EQ(ChooseImageZoom(0.1, dy, c.south, c.north, 21), ChooseZoom(0.1, dy, c.middle, 21))
                << c.name << ", " << dy << " degrees a pixel";
        }
    }
}

}  // namespace
