// The fast path reads tile rows where the host's images hold them, 3 or 4
// bytes per pixel, loading four bytes at a time away from tile edges. These
// cases hold it to the per-pixel path and to the portable kernels, byte for
// byte, with 4-byte tiles and with 3- and 4-byte tiles mixed, at every
// scale, across tile edges, column blocks and row chunks.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "projection/zarvo_coord_transform.h"
#include "raster/mosaic_resampler.h"
#include "raster/raster_sampling.h"
#include "tests/support/tile_fixtures.h"

namespace {

using Bytes = std::vector<uint8_t>;

const ZarvoCoordTransform kMap(LayerKind::Map, u"map");

Bytes Resample(const CoordTransform& transform, const DownloadJob& job) {
    LayerImage image{};
    EXPECT_EQ(ResampleMosaic(transform, job, image), 0);
    Bytes raster(image.pixels, image.pixels + image.byteSize);
    delete[] image.pixels;
    return raster;
}

Bytes PortableRaster(const DownloadJob& job) {
    const DataRequestBlock& r = job.request;
    const TileGrid grid(RequestTileRange(kMap, r), static_cast<const TileImage*>(job.items));
    const SampleRaster sampling{r.zoom, r.width, r.height, r.west, r.north,
                                r.width == 1 ? 0 : (r.east - r.west) / (r.width - 1),
                                r.height == 1 ? 0 : (r.south - r.north) / (r.height - 1)};
    Bytes out(size_t{r.width} * r.height * 3);
    SampleSeparableWith(kMap, grid, sampling, PortableKernels(), out.data());
    return out;
}

// Every pixel differs from its neighbours, and the fourth byte, which must
// never reach the raster, is set too.
void FillWithAlpha(size_t k, int a, int b, uint8_t* pixel, int32_t depth) {
    PatternFill(k, a, b, pixel);
    if (depth == 4) pixel[3] = static_cast<uint8_t>(0xA5 ^ (a * 13 + b));
}

enum class Depths { Three, Four, Mixed };

// A raster of width x height whose samples lie `scale` source pixels
// apart, starting at the given world pixel (y in offset form).
DataRequestBlock ScaledRequest(int32_t zoom, double x0, double y0, double scale, uint32_t width, uint32_t height) {
    const auto longitude = [&](double x) { return LongitudeOfWorldX(x, zoom); };
    const auto latitude = [&](double y) { return LatitudeOfWorldY(y, zoom); };
    const double x1 = x0 + scale * (width > 1 ? width - 1 : 0);
    const double y1 = y0 + scale * (height > 1 ? height - 1 : 0);
    return MakeRequest(zoom, longitude(x0), latitude(y1), longitude(x1), latitude(y0), width, height);
}

void ExpectAllPathsAgree(const DataRequestBlock& r, Depths depths, const std::string& what) {
    TileSet tiles;
    const size_t count = RequestTiles(kMap, r).size();
    ASSERT_GT(count, 0u) << what;
    for (size_t k = 0; k < count; ++k) {
        const int32_t depth = depths == Depths::Three ? 3 : depths == Depths::Four || k % 3 != 1 ? 4 : 3;
        tiles.AddTiles(1, depth, [depth](size_t t, int a, int b, uint8_t* p) { FillWithAlpha(t, a, b, p, depth); });
    }
    const DownloadJob job = CompletedJob(r, tiles.Images());
    const PerPixelTransform perPixel(kMap);
    const Bytes fast = Resample(kMap, job);
    ASSERT_EQ(fast.size(), size_t{r.width} * r.height * 3) << what;
    ASSERT_EQ(Resample(perPixel, job), fast) << what;
    ASSERT_EQ(PortableRaster(job), fast) << what;
}

struct ScaleCase {
    const char* name;
    double scale;
};

class FourByteEqualityTest : public ::testing::TestWithParam<ScaleCase> {};

// Small rasters at random places and zooms: sample grids that start
// anywhere in a tile and cross its edges, with the east neighbour in the
// same tile or the next one.
TEST_P(FourByteEqualityTest, SmallRastersMatchThePerPixelPath) {
    const double scale = GetParam().scale;
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int iteration = 0; iteration < 40; ++iteration) {
        const int32_t zoom = 4 + iteration % 15;
        const double x0 = std::ldexp(1.0, zoom + 6) + unit(rng) * 700;
        const double y0 = std::ldexp(1.0, zoom + 9) + std::ldexp(1.0, zoom + 5) + unit(rng) * 700;
        const uint32_t width = 1 + static_cast<uint32_t>(rng() % 48);
        const uint32_t height = 1 + static_cast<uint32_t>(rng() % 48);
        const Depths depths = iteration % 2 == 0 ? Depths::Four : Depths::Mixed;
        ExpectAllPathsAgree(ScaledRequest(zoom, x0, y0, scale, width, height), depths,
                            "iteration " + std::to_string(iteration));
    }
}

// Samples a quarter pixel either side of a tile's last two pixels, where
// the fast path stops loading eight bytes at a time: a load there would
// leave a 3-byte tile's last row, which the sanitizer builds catch.
TEST_P(FourByteEqualityTest, TheLastPixelsOfATileRowMatch) {
    const double scale = GetParam().scale;
    for (int32_t zoom : {3, 9, 21}) {
        const double x0 = std::ldexp(1.0, zoom + 6) + 256 - 3.25 - 4 * scale;
        const double y0 = std::ldexp(1.0, zoom + 9) + std::ldexp(1.0, zoom + 5) + 256 - 3.25 - 4 * scale;
        for (Depths depths : {Depths::Three, Depths::Four, Depths::Mixed}) {
            ExpectAllPathsAgree(ScaledRequest(zoom, x0, y0, scale, 13, 13), depths, "zoom " + std::to_string(zoom));
        }
    }
}

// Wider than a block of columns and taller than a chunk of rows.
TEST_P(FourByteEqualityTest, BlocksOfColumnsAndChunksOfRowsJoinSeamlessly) {
    const double scale = GetParam().scale;
    const int32_t zoom = 14;
    const double x0 = std::ldexp(1.0, zoom + 6) + 77.3;
    const double y0 = std::ldexp(1.0, zoom + 9) + std::ldexp(1.0, zoom + 5) + 91.6;
    ExpectAllPathsAgree(ScaledRequest(zoom, x0, y0, scale, 4200, 3), Depths::Mixed, "wide");
    ExpectAllPathsAgree(ScaledRequest(zoom, x0, y0, scale, 3, 4200), Depths::Four, "tall");
}

// West of east and south of north: columns run east to west within each
// tile, rows north to south, so the raster comes out mirrored.
TEST(FourByteEqualityMirroredTest, MirroredRastersMatchThePerPixelPath) {
    for (double scale : {-0.5, -1.0, -3.0}) {
        const int32_t zoom = 9;
        const double x0 = std::ldexp(1.0, zoom + 6) + 300.4;
        const double y0 = std::ldexp(1.0, zoom + 9) + std::ldexp(1.0, zoom + 5) + 700.2;
        ExpectAllPathsAgree(ScaledRequest(zoom, x0, y0, scale, 150, 40), Depths::Mixed,
                            "scale " + std::to_string(scale));
    }
}

INSTANTIATE_TEST_SUITE_P(Scales, FourByteEqualityTest,
                         ::testing::Values(ScaleCase{"Upsampling4x", 0.25}, ScaleCase{"Upsampling2x", 0.5},
                                           ScaleCase{"OneToOne", 1.0}, ScaleCase{"OneToOneOffGrid", 1.037},
                                           ScaleCase{"Downsampling2x", 2.0}, ScaleCase{"Downsampling3x", 3.3},
                                           ScaleCase{"Downsampling4x", 4.0}, ScaleCase{"Downsampling9x", 9.0}),
                         [](const ::testing::TestParamInfo<ScaleCase>& info) { return info.param.name; });

}  // namespace
