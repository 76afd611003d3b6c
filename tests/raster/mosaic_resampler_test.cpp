#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "layers/data_src_layer.h"
#include "projection/zarvo_coord_transform.h"
#include "raster/mosaic_resampler.h"
#include "raster/raster_sampling.h"
#include "tests/support/tile_fixtures.h"

namespace {

using Bytes = std::vector<uint8_t>;

const ZarvoCoordTransform kMap(LayerKind::Map, u"map");

struct Outcome {
    int32_t result;
    LayerImage image;
    Bytes raster;
};

Outcome Resample(const CoordTransform& transform, DownloadJob job) {
    Outcome o{};
    o.result = ResampleMosaic(transform, job, o.image);
    if (o.image.pixels != nullptr) {
        o.raster.assign(o.image.pixels, o.image.pixels + o.image.byteSize);
        delete[] o.image.pixels;
    }
    return o;
}

// Tiles whose pixel (a, b) holds (a, b, 10 k): the worked examples' pattern.
void PositionFill(size_t k, int a, int b, uint8_t* p) {
    p[0] = static_cast<uint8_t>(a);
    p[1] = static_cast<uint8_t>(b);
    p[2] = static_cast<uint8_t>(10 * k);
}

Outcome ResampleWithTiles(const DataRequestBlock& request, int32_t bytesPerPixel, const PixelFill& fill,
                          const CoordTransform& transform = kMap) {
    TileSet tiles;
    tiles.AddTiles(RequestTiles(transform, request).size(), bytesPerPixel, fill);
    return Resample(transform, MakeCompletedJob(request, tiles.Images()));
}

TEST(MosaicResamplerTest, OneTileWorkedExample) {
    const Outcome o = ResampleWithTiles(MakeRequest(3, 10, 50, 20, 60, 2, 2), 3, PositionFill);
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.raster, (Bytes{28, 41, 0, 56, 41, 0, 28, 91, 0, 56, 91, 0}));
    EXPECT_EQ(o.image.byteSize, 12);
    EXPECT_EQ(o.image.width, 2);
    EXPECT_EQ(o.image.height, 2);
    EXPECT_EQ(o.image.bytesPerPixel, 3);
    EXPECT_EQ(o.image.reserved, 0);
}

TEST(MosaicResamplerTest, EasternNeighboursComeFromTheNextTile) {
    const Outcome o = ResampleWithTiles(MakeRequest(3, 89.7, 50, 89.8, 60, 2, 2), 3, PositionFill);
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.raster, (Bytes{217, 41, 1, 145, 41, 4, 217, 91, 1, 145, 91, 4}));
}

TEST(MosaicResamplerTest, FourByteTilesUseTheirFirstThreeBytes) {
    const auto fill = [](size_t k, int a, int b, uint8_t* p) {
        PositionFill(k, a, b, p);
        p[3] = 255;
    };
    const Outcome o = ResampleWithTiles(MakeRequest(3, 89.7, 50, 89.8, 60, 2, 2), 4, fill);
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.raster, (Bytes{217, 41, 1, 145, 41, 4, 217, 91, 1, 145, 91, 4}));
}

TEST(MosaicResamplerTest, SampleOnATilePixelReproducesItExactly) {
    // Longitude 0 and latitude 0 project to world pixel (128, 1152) at zoom 1.
    const Outcome o = ResampleWithTiles(MakeRequest(1, 0, 0, 0, 0, 1, 1), 3, PatternFill);
    ASSERT_EQ(o.result, 0);
    uint8_t expected[3];
    PatternFill(0, 128, 128, expected);
    EXPECT_EQ(o.raster, (Bytes{expected[0], expected[1], expected[2]}));
}

// An independent model: the tiles pasted into one big picture, sampled
// with plain indexing, black outside it.
Bytes ReferenceRaster(const CoordTransform& transform, const DataRequestBlock& r, const std::vector<TileImage>& images) {
    const std::vector<TileKey> tiles = RequestTiles(transform, r);
    int64_t columns = 0;
    for (const TileKey& k : tiles) columns += k.y == tiles[0].y ? 1 : 0;
    const int64_t rows = static_cast<int64_t>(tiles.size()) / columns;
    const auto at = [&](int64_t X, int64_t Y) {
        const TileImage& im = images[static_cast<size_t>((Y / 256) * columns + X / 256)];
        return im.pixels + ((Y % 256) * 256 + X % 256) * im.bytesPerPixel;
    };
    const double stepX = r.width == 1 ? 0 : (r.east - r.west) / (r.width - 1);
    const double stepY = r.height == 1 ? 0 : (r.south - r.north) / (r.height - 1);
    Bytes out;
    for (uint32_t i = 0; i < r.height; ++i) {
        for (uint32_t j = 0; j < r.width; ++j) {
            const WorldPoint p = transform.ToWorldPixel(r.west + j * stepX, r.north + i * stepY, r.zoom);
            const int64_t X = static_cast<int64_t>(std::floor(p.x)) - tiles[0].x;
            const int64_t Y = static_cast<int64_t>(std::floor(p.y)) - tiles[0].y;
            if (p.x < tiles[0].x || X + 1 >= columns * 256 || Y + 1 >= rows * 256) {
                out.insert(out.end(), {0, 0, 0});
                continue;
            }
            const double fx = p.x - std::floor(p.x);
            const double fy = p.y - std::floor(p.y);
            for (int ch = 0; ch < 3; ++ch) {
                const double v = (at(X, Y)[ch] * (1 - fx) + at(X + 1, Y)[ch] * fx) * (1 - fy) +
                                 (at(X, Y + 1)[ch] * (1 - fx) + at(X + 1, Y + 1)[ch] * fx) * fy;
                out.push_back(static_cast<uint8_t>(static_cast<int>(v)));
            }
        }
    }
    return out;
}

// The separable path with the portable kernels instead of the fastest ones.
Bytes PortableRaster(const DownloadJob& job) {
    const DataRequestBlock& r = job.request;
    const TileGrid grid(RequestTileRange(kMap, r), static_cast<const TileImage*>(job.items));
    SampleRaster sampling{r.zoom, r.width, r.height, r.west, r.north,
                          r.width == 1 ? 0 : (r.east - r.west) / (r.width - 1),
                          r.height == 1 ? 0 : (r.south - r.north) / (r.height - 1)};
    Bytes out(size_t{r.width} * r.height * 3);
    SampleSeparableWith(kMap, grid, sampling, PortableKernels(), out.data());
    return out;
}

// Random rectangles across tile borders and corners, at every zoom, with
// 3- and 4-byte tiles: the resampler matches the model on both its paths.
TEST(MosaicResamplerTest, MatchesThePastedMosaicOnRandomRequests) {
    const CountingTransform perPixel(kMap);
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int iteration = 0; iteration < 300; ++iteration) {
        const int32_t zoom = 1 + iteration % 21;
        const double worldDegrees = 360.0 / (1 << (zoom - 1));
        const double w = -179 + unit(rng) * 350;
        const double s = -80 + unit(rng) * 150;
        const double spanX = worldDegrees * (0.002 + unit(rng) * 1.2);
        const double spanY = worldDegrees * (0.002 + unit(rng) * 0.8);
        const DataRequestBlock r = MakeRequest(zoom, w, s, std::min(180.0, w + spanX), std::min(85.0, s + spanY),
                                               1 + rng() % 40, 1 + rng() % 40);
        TileSet tiles;
        for (size_t k = RequestTiles(kMap, r).size(); k > 0; --k) {
            tiles.AddTiles(1, 3 + rng() % 2, PatternFill);  // 3- and 4-byte tiles mixed
        }
        const DownloadJob job = MakeCompletedJob(r, tiles.Images());
        const Outcome fast = Resample(kMap, job);
        const Outcome slow = Resample(perPixel, job);
        ASSERT_EQ(fast.result, 0);
        ASSERT_EQ(slow.result, 0);
        ASSERT_EQ(fast.raster, ReferenceRaster(kMap, r, tiles.Images())) << "iteration " << iteration;
        ASSERT_EQ(slow.raster, fast.raster) << "iteration " << iteration;
        ASSERT_EQ(PortableRaster(job), fast.raster) << "iteration " << iteration;
    }
}

// A transform that is not separable is asked for every sample of the
// regular grid, the edges included, after the four corners of the cover.
TEST(MosaicResamplerTest, GenericTransformProjectsEverySampleOfTheGrid) {
    const CountingTransform counting(kMap);
    const DataRequestBlock r = MakeRequest(3, 10, 50, 20, 60, 3, 2);
    TileSet tiles;
    tiles.AddTiles(1, 3, PatternFill);
    ASSERT_EQ(Resample(counting, MakeCompletedJob(r, tiles.Images())).result, 0);
    ASSERT_EQ(counting.projected.size(), 4u + 6u);
    const double lons[] = {10, 15, 20};
    const double lats[] = {60, 50};
    for (size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(counting.projected[4 + k].x, lons[k % 3]);
        EXPECT_EQ(counting.projected[4 + k].y, lats[k / 3]);
    }
}

TEST(MosaicResamplerTest, SingleColumnAndRowSampleTheWestAndNorthEdges) {
    const Outcome wide = ResampleWithTiles(MakeRequest(4, 5, 40, 25, 55, 2, 2), 3, PatternFill);
    const Outcome column = ResampleWithTiles(MakeRequest(4, 5, 40, 25, 55, 1, 2), 3, PatternFill);
    const Outcome row = ResampleWithTiles(MakeRequest(4, 5, 40, 25, 55, 2, 1), 3, PatternFill);
    ASSERT_EQ(column.result, 0);
    ASSERT_EQ(row.result, 0);
    EXPECT_EQ(column.raster, (Bytes{wide.raster[0], wide.raster[1], wide.raster[2], wide.raster[6], wide.raster[7],
                                    wide.raster[8]}));
    EXPECT_EQ(row.raster, Bytes(wide.raster.begin(), wide.raster.begin() + 6));
}

TEST(MosaicResamplerTest, SamplesWestOfTheWorldAreBlack) {
    // The grid starts at world x 0; longitudes below -180 have no source pixel.
    const Outcome o = ResampleWithTiles(MakeRequest(3, -190, 0, -170, 10, 3, 1), 3, [](size_t, int, int, uint8_t* p) {
        p[0] = p[1] = p[2] = 200;
    });
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.raster, (Bytes{0, 0, 0, 200, 200, 200, 200, 200, 200}));
}

TEST(MosaicResamplerTest, EmptyRasterStillSucceeds) {
    for (const auto& size : {std::pair<uint32_t, uint32_t>{0, 5}, {5, 0}, {0, 0}}) {
        const Outcome o = ResampleWithTiles(MakeRequest(3, 10, 50, 20, 60, size.first, size.second), 3, PatternFill);
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.image.byteSize, 0);
        EXPECT_EQ(o.image.width, static_cast<int32_t>(size.first));
        EXPECT_EQ(o.image.height, static_cast<int32_t>(size.second));
    }
}

TEST(MosaicResamplerTest, AcceptsTwiceTheImagesAndNeverReadsTheSecondHalf) {
    const DataRequestBlock r = MakeRequest(3, 89.7, 50, 89.8, 60, 2, 2);
    TileSet tiles;
    tiles.AddTiles(2, 3, PositionFill);
    tiles.AddEmpty();
    tiles.AddEmpty();
    const Outcome o = Resample(kMap, MakeCompletedJob(r, tiles.Images()));
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.raster, (Bytes{217, 41, 1, 145, 41, 4, 217, 91, 1, 145, 91, 4}));
}

// Jobs the resampler must refuse, and the code it refuses them with. None
// may produce a raster or touch the image.
struct RefusalCase {
    const char* what;
    int32_t expected;
    std::function<void(DataRequestBlock&, TileSet&, DownloadJob&)> spoil;
};

class MosaicRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(MosaicRefusalTest, RefusesWithoutARaster) {
    const RefusalCase& c = GetParam();
    DataRequestBlock r = MakeRequest(3, 80, 0, 100, 10, 4, 4);  // a 2 x 2 tile grid
    TileSet tiles;
    tiles.AddTiles(RequestTiles(kMap, r).size(), 3, PatternFill);
    DownloadJob job = MakeCompletedJob(r, tiles.Images());
    c.spoil(job.request, tiles, job);
    const Outcome o = Resample(kMap, job);
    EXPECT_EQ(o.result, c.expected) << c.what;
    EXPECT_EQ(o.image.pixels, nullptr);
    EXPECT_EQ(o.image.byteSize, 0);
    EXPECT_EQ(o.image.width, 0);
}

INSTANTIATE_TEST_SUITE_P(
    BadJobs, MosaicRefusalTest,
    ::testing::Values(
        RefusalCase{"one image too many", -2, [](DataRequestBlock&, TileSet&, DownloadJob& j) { ++j.itemCount; }},
        RefusalCase{"one image too few", -2, [](DataRequestBlock&, TileSet&, DownloadJob& j) { --j.itemCount; }},
        RefusalCase{"negative count", -2, [](DataRequestBlock&, TileSet&, DownloadJob& j) { j.itemCount = -4; }},
        RefusalCase{"zoom the enumeration refuses", -2, [](DataRequestBlock& r, TileSet&, DownloadJob&) { r.zoom = 0; }},
        RefusalCase{"non-finite edge", -2,
                    [](DataRequestBlock& r, TileSet&, DownloadJob&) { r.north = std::nan(""); }},
        RefusalCase{"raster over 2^31 - 1 bytes", -2,
                    [](DataRequestBlock& r, TileSet&, DownloadJob&) { r.width = r.height = 26755; }},
        RefusalCase{"null items", -1, [](DataRequestBlock&, TileSet&, DownloadJob& j) { j.items = nullptr; }},
        RefusalCase{"null pixels", -1, [](DataRequestBlock&, TileSet& t, DownloadJob&) { t.Images()[3].pixels = nullptr; }},
        RefusalCase{"zero byte size", -1, [](DataRequestBlock&, TileSet& t, DownloadJob&) { t.Images()[2].byteSize = 0; }},
        RefusalCase{"one byte short", -1, [](DataRequestBlock&, TileSet& t, DownloadJob&) { --t.Images()[1].byteSize; }},
        RefusalCase{"not one tile wide", -1, [](DataRequestBlock&, TileSet& t, DownloadJob&) { t.Images()[0].width = 255; }},
        RefusalCase{"two bytes per pixel", -1,
                    [](DataRequestBlock&, TileSet& t, DownloadJob&) { t.Images()[0].bytesPerPixel = 2; }},
        RefusalCase{"five bytes per pixel", -1,
                    [](DataRequestBlock&, TileSet& t, DownloadJob&) { t.Images()[0].bytesPerPixel = 5; }}));

}  // namespace

namespace {

// An empty raster of absurd width must not make the resampler size any
// table by the width: it has no pixel to sample.
TEST(MosaicResamplerTest, EmptyRasterOfHugeWidthAllocatesNoTables) {
    const Outcome o = ResampleWithTiles(MakeRequest(3, 10, 50, 20, 60, 0xFFFFFFFFu, 0), 3, PatternFill);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.image.byteSize, 0);
}

// Rasters wider than one block of columns are sampled block by block; the
// bytes are those of the per-pixel path.
TEST(MosaicResamplerTest, WideRastersMatchThePerPixelPath) {
    const CountingTransform perPixel(kMap);
    const DataRequestBlock r = MakeRequest(4, -30, 10, 60, 12, 9000, 3);
    TileSet tiles;
    tiles.AddTiles(RequestTiles(kMap, r).size(), 3, PatternFill);
    const DownloadJob job = MakeCompletedJob(r, tiles.Images());
    const Outcome fast = Resample(kMap, job);
    ASSERT_EQ(fast.result, 0);
    EXPECT_EQ(fast.raster, Resample(perPixel, job).raster);
}

}  // namespace

namespace {

// Samples a quarter pixel either side of tile borders in both directions,
// so every case of the neighbour table (inside, east edge, south edge,
// corner) occurs, on every path.
TEST(MosaicResamplerTest, TileEdgesAndCornersMatchOnEveryPath) {
    const CountingTransform perPixel(kMap);
    for (int32_t zoom : {2, 7, 13, 21}) {
        const double scale = std::ldexp(1.0, zoom - 1);
        const double offset = std::ldexp(1.0, zoom + 9);
        // World pixel 256.25 west of a border and the same past it, in 0.5 steps.
        const double x0 = 3 * 256 - 2.75;
        const double y0 = offset + 5 * 256 * std::ldexp(1.0, zoom - 3) - 2.75;
        const double west = (x0 / scale - 128.0) / 0.7111111111111111;
        const double east = ((x0 + 5.5) / scale - 128.0) / 0.7111111111111111;
        const auto latitude = [&](double y) {
            const double m = (128.0 - (y - offset) / scale) / 40.743665431525;
            return std::atan(std::sinh(m)) * 57.29577951308232;
        };
        const DataRequestBlock r = MakeRequest(zoom, west, latitude(y0 + 5.5), east, latitude(y0), 12, 12);
        TileSet tiles;
        for (size_t k = RequestTiles(kMap, r).size(); k > 0; --k) tiles.AddTiles(1, 3 + k % 2, PatternFill);
        const DownloadJob job = MakeCompletedJob(r, tiles.Images());
        const Outcome fast = Resample(kMap, job);
        ASSERT_EQ(fast.result, 0) << "zoom " << zoom;
        EXPECT_EQ(fast.raster, ReferenceRaster(kMap, r, tiles.Images())) << "zoom " << zoom;
        EXPECT_EQ(Resample(perPixel, job).raster, fast.raster) << "zoom " << zoom;
        EXPECT_EQ(PortableRaster(job), fast.raster) << "zoom " << zoom;
        EXPECT_GT(RequestTiles(kMap, r).size(), 1u) << "zoom " << zoom;
    }
}

// The rules for samples outside the grid and for single rows and columns
// hold on the per-pixel path exactly as on the fast one.
TEST(MosaicResamplerTest, EdgeRulesAreTheSameOnBothPaths) {
    const CountingTransform perPixel(kMap);
    const DataRequestBlock requests[] = {
        MakeRequest(3, -190, 0, -170, 10, 7, 3),   // partly west of the world
        MakeRequest(4, 5, 40, 25, 55, 1, 5),       // one column
        MakeRequest(4, 5, 40, 25, 55, 5, 1),       // one row
        MakeRequest(2, 170, -80, 190, 80, 9, 9),   // partly east of the world
        MakeRequest(1, -180, -89, 180, 89, 16, 16) // rows beyond the world
    };
    for (const DataRequestBlock& r : requests) {
        TileSet tiles;
        tiles.AddTiles(RequestTiles(kMap, r).size(), 3, PatternFill);
        const DownloadJob job = MakeCompletedJob(r, tiles.Images());
        const Outcome fast = Resample(kMap, job);
        ASSERT_EQ(fast.result, 0);
        EXPECT_EQ(Resample(perPixel, job).raster, fast.raster) << r.west << " " << r.width << "x" << r.height;
        EXPECT_EQ(fast.raster, ReferenceRaster(kMap, r, tiles.Images()));
    }
}

}  // namespace
