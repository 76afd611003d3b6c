#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "projection/zarvo_coord_transform.h"
#include "raster/column_plan.h"
#include "raster/mosaic_resampler.h"
#include "raster/raster_sampling.h"
#include "tests/support/tile_fixtures.h"

namespace {

using Bytes = std::vector<uint8_t>;

const ZarvoCoordTransform kMap(LayerKind::Map, u"map");
const PerPixelTransform kPerPixel(kMap);

struct Outcome {
    int32_t result;
    LayerImage image;
    Bytes raster;
};

Outcome Resample(const CoordTransform& transform, DownloadJob job, ColumnPlans* plans = nullptr) {
    Outcome o{};
    o.result = ResampleMosaic(transform, job, o.image, plans);
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
    return Resample(transform, CompletedJob(request, tiles.Images()));
}

// Rasters worked out by hand from the tiles' pattern.
struct WorkedCase {
    const char* what;
    DataRequestBlock request;
    int32_t bytesPerPixel;
    PixelFill fill;
    size_t unreadImages;  // empty image records after the tiles' own
    Bytes expected;
};

void PrintTo(const WorkedCase& c, std::ostream* os) {
    *os << c.what;
}

class WorkedRasterTest : public ::testing::TestWithParam<WorkedCase> {};

TEST_P(WorkedRasterTest, GivesTheWorkedBytes) {
    const WorkedCase& c = GetParam();
    TileSet tiles;
    tiles.AddTiles(RequestTiles(kMap, c.request).size(), c.bytesPerPixel, c.fill);
    for (size_t n = 0; n < c.unreadImages; ++n) {
        tiles.AddEmpty();
    }
    const Outcome o = Resample(kMap, CompletedJob(c.request, tiles.Images()));
    ASSERT_EQ(o.result, ZARVO_EVENT_RASTER_READY) << c.what;
    EXPECT_EQ(o.raster, c.expected) << c.what;
    EXPECT_EQ(o.image.byteSize, static_cast<int32_t>(c.expected.size())) << c.what;
    EXPECT_EQ(o.image.width, static_cast<int32_t>(c.request.width)) << c.what;
    EXPECT_EQ(o.image.height, static_cast<int32_t>(c.request.height)) << c.what;
    EXPECT_EQ(o.image.bytesPerPixel, 3) << c.what;
    EXPECT_EQ(o.image.reserved, 0) << c.what;
}

void FourBytePositionFill(size_t k, int a, int b, uint8_t* p) {
    PositionFill(k, a, b, p);
    p[3] = 255;
}

void Grey200(size_t, int, int, uint8_t* p) {
    p[0] = p[1] = p[2] = 200;
}

// The zoom 3 box (89.7, 50)-(89.8, 60) lies across the border of two tiles:
// its east column takes its eastern neighbours from the second one.
const DataRequestBlock kAcrossTwoTiles = MakeRequest(3, 89.7, 50, 89.8, 60, 2, 2);
const Bytes kAcrossTwoTilesBytes{217, 41, 1, 145, 41, 4, 217, 91, 1, 145, 91, 4};

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, WorkedRasterTest,
    ::testing::Values(
        WorkedCase{"one tile, 2 x 2", MakeRequest(3, 10, 50, 20, 60, 2, 2), 3, PositionFill, 0,
                   {28, 41, 0, 56, 41, 0, 28, 91, 0, 56, 91, 0}},
        WorkedCase{"eastern neighbours come from the next tile", kAcrossTwoTiles, 3, PositionFill, 0,
                   kAcrossTwoTilesBytes},
        WorkedCase{"four-byte tiles use their first three bytes", kAcrossTwoTiles, 4, FourBytePositionFill, 0,
                   kAcrossTwoTilesBytes},
        WorkedCase{"twice the images, the second half never read", kAcrossTwoTiles, 3, PositionFill, 2,
                   kAcrossTwoTilesBytes},
        // Longitude 0 and latitude 0 are world pixel (128, 1152) at zoom 1:
        // pixel (128, 128) of the one tile, reproduced exactly.
        WorkedCase{"sample on a tile pixel", MakeRequest(1, 0, 0, 0, 0, 1, 1), 3, PositionFill, 0, {128, 128, 0}},
        // The grid starts at world x 0; longitudes below -180 have no source pixel.
        WorkedCase{"samples west of the world are black", MakeRequest(3, -190, 0, -170, 10, 3, 1), 3, Grey200, 0,
                   {0, 0, 0, 200, 200, 200, 200, 200, 200}},
        WorkedCase{"no pixel at all", MakeRequest(3, 10, 50, 20, 60, 0, 5), 3, PositionFill, 0, {}},
        WorkedCase{"no row at all", MakeRequest(3, 10, 50, 20, 60, 5, 0), 3, PositionFill, 0, {}},
        // No table may be sized by the width of a raster that has no pixel.
        WorkedCase{"empty raster of the largest width", MakeRequest(3, 10, 50, 20, 60, 0xFFFFFFFFu, 0), 3,
                   PositionFill, 0, {}},
        WorkedCase{"empty raster of the largest height", MakeRequest(3, 10, 50, 20, 60, 0, 0xFFFFFFFFu), 3,
                   PositionFill, 0, {}}));

TEST(MosaicResamplerTest, SingleColumnAndRowSampleTheWestAndNorthEdges) {
    const Outcome wide = ResampleWithTiles(MakeRequest(4, 5, 40, 25, 55, 2, 2), 3, PatternFill);
    const Outcome column = ResampleWithTiles(MakeRequest(4, 5, 40, 25, 55, 1, 2), 3, PatternFill);
    const Outcome row = ResampleWithTiles(MakeRequest(4, 5, 40, 25, 55, 2, 1), 3, PatternFill);
    ASSERT_EQ(wide.result, ZARVO_EVENT_RASTER_READY);
    ASSERT_EQ(column.result, ZARVO_EVENT_RASTER_READY);
    ASSERT_EQ(row.result, ZARVO_EVENT_RASTER_READY);
    EXPECT_EQ(column.raster, (Bytes{wide.raster[0], wide.raster[1], wide.raster[2], wide.raster[6], wide.raster[7],
                                    wide.raster[8]}));
    EXPECT_EQ(row.raster, Bytes(wide.raster.begin(), wide.raster.begin() + 6));
}

// An independent model: the tiles pasted into one big picture, sampled
// with plain indexing at each sample's own projected position, black
// outside the picture.
Bytes ReferenceRaster(const CoordTransform& transform, const DataRequestBlock& r,
                      const std::vector<TileImage>& images) {
    const TileRange range = RequestTileRange(transform, r);
    const int64_t columns = range.columns;
    const int64_t rows = range.rows;
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
            const int64_t X = static_cast<int64_t>(std::floor(p.x)) - range.x0;
            const int64_t Y = static_cast<int64_t>(std::floor(p.y)) - range.y0;
            if (p.x < range.x0 || X + 1 >= columns * 256 || Y + 1 >= rows * 256) {
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

// The raster of `job` is the model's on every path: the separable one with
// the fastest and with the portable kernels, and the per-pixel one.
::testing::AssertionResult EveryPathGivesTheModel(const DownloadJob& job, const std::vector<TileImage>& images) {
    const Outcome fast = Resample(kMap, job);
    if (fast.result != ZARVO_EVENT_RASTER_READY) {
        return ::testing::AssertionFailure() << "result " << fast.result;
    }
    if (fast.raster != ReferenceRaster(kMap, job.request, images)) {
        return ::testing::AssertionFailure() << "fast path differs from the model";
    }
    const Outcome perPixel = Resample(kPerPixel, job);
    if (perPixel.result != ZARVO_EVENT_RASTER_READY || perPixel.raster != fast.raster) {
        return ::testing::AssertionFailure() << "per-pixel path differs from the fast path";
    }
    if (PortableRaster(job) != fast.raster) {
        return ::testing::AssertionFailure() << "portable kernels differ from the fastest ones";
    }
    // Column plans kept across every request of the suite, as a layer keeps
    // them: made on the first pass, found on the second, and never found for
    // other columns (another zoom, box or block of a wide raster).
    static ColumnPlans plans;
    for (int pass = 0; pass < 2; ++pass) {
        const Outcome kept = Resample(kMap, job, &plans);
        if (kept.result != ZARVO_EVENT_RASTER_READY || kept.raster != fast.raster) {
            return ::testing::AssertionFailure() << "kept column plans differ from the fast path, pass " << pass;
        }
    }
    return ::testing::AssertionSuccess();
}

// A request whose samples fall a quarter pixel either side of a tile
// corner in both directions, so every case of the neighbour table (inside,
// east edge, south edge, corner) occurs: 12 x 12 samples over 5.5 world
// pixels around the corner between tile columns 2 and 3 and between the
// tile rows about five eighths of the way down the world.
DataRequestBlock AcrossATileCorner(int32_t zoom) {
    const int64_t row = std::max<int64_t>(1, (int64_t{5} << (zoom - 1)) / 8);
    const double x0 = 3 * 256 - 2.75;
    const double y0 = std::ldexp(1.0, zoom + 9) + 256.0 * static_cast<double>(row) - 2.75;
    return MakeRequest(zoom, LongitudeOfWorldX(x0, zoom), LatitudeOfWorldY(y0 + 5.5, zoom),
                       LongitudeOfWorldX(x0 + 5.5, zoom), LatitudeOfWorldY(y0, zoom), 12, 12);
}

struct PathCase {
    const char* what;
    DataRequestBlock request;
    bool mixedDepths;  // 3- and 4-byte tiles in turn instead of 3-byte ones
};

void PrintTo(const PathCase& c, std::ostream* os) {
    *os << c.what;
}

class EveryPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(EveryPathTest, FastPerPixelAndPortablePathsGiveTheModel) {
    const PathCase& c = GetParam();
    TileSet tiles;
    for (size_t k = RequestTiles(kMap, c.request).size(); k > 0; --k) {
        tiles.AddTiles(1, c.mixedDepths ? 3 + static_cast<int32_t>(k % 2) : 3, PatternFill);
    }
    EXPECT_TRUE(EveryPathGivesTheModel(CompletedJob(c.request, tiles.Images()), tiles.Images())) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    EdgeRules, EveryPathTest,
    ::testing::Values(PathCase{"partly west of the world", MakeRequest(3, -190, 0, -170, 10, 7, 3), false},
                      PathCase{"one column", MakeRequest(4, 5, 40, 25, 55, 1, 5), false},
                      PathCase{"one row", MakeRequest(4, 5, 40, 25, 55, 5, 1), false},
                      PathCase{"partly east of the world", MakeRequest(2, 170, -80, 190, 80, 9, 9), false},
                      PathCase{"rows beyond the world", MakeRequest(1, -180, -89, 180, 89, 16, 16), false},
                      // Wider than one block of columns: sampled block by block.
                      PathCase{"9000 columns", MakeRequest(4, -30, 10, 60, 12, 9000, 3), false}));

INSTANTIATE_TEST_SUITE_P(TileCorners, EveryPathTest,
                         ::testing::Values(PathCase{"zoom 2", AcrossATileCorner(2), true},
                                           PathCase{"zoom 7", AcrossATileCorner(7), true},
                                           PathCase{"zoom 13", AcrossATileCorner(13), true},
                                           PathCase{"zoom 21", AcrossATileCorner(21), true}));

TEST(MosaicResamplerTest, TileCornerRequestsSpanSeveralTiles) {
    for (int32_t zoom : {2, 7, 13, 21}) {
        EXPECT_EQ(RequestTiles(kMap, AcrossATileCorner(zoom)).size(), 4u) << "zoom " << zoom;
    }
}

// Random rectangles across tile borders and corners, at every zoom, with
// 3- and 4-byte tiles mixed.
TEST(MosaicResamplerTest, EveryPathGivesTheModelOnRandomRequests) {
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
            tiles.AddTiles(1, 3 + rng() % 2, PatternFill);
        }
        ASSERT_TRUE(EveryPathGivesTheModel(CompletedJob(r, tiles.Images()), tiles.Images()))
            << "iteration " << iteration;
    }
}

// x leans with the latitude, so no two rows of samples share their x: a
// resampler that projected each column once for such a transform would
// read the wrong pixels. The per-pixel path projects every sample.
class ShearedTransform : public CoordTransform {
public:
    WorldPoint ToWorldPixel(double lon, double lat, int32_t zoom) const override {
        WorldPoint p = kMap.ToWorldPixel(lon, lat, zoom);
        p.x += (p.y - std::ldexp(1.0, zoom + 9)) / 4;
        return p;
    }
    int32_t TileWidth() const override { return kMap.TileWidth(); }
    int32_t TileHeight() const override { return kMap.TileHeight(); }
    std::u16string TileUrl(const TileKey& key) const override { return kMap.TileUrl(key); }
};

TEST(MosaicResamplerTest, NonSeparableTransformIsSampledAtEveryPixel) {
    const ShearedTransform sheared;
    const DataRequestBlock requests[] = {
        MakeRequest(3, 10, 50, 20, 60, 3, 2),       // one tile, every edge sampled
        MakeRequest(4, 20, -30, 60, 40, 23, 17),    // several tiles
        MakeRequest(9, 33.3, 44.4, 33.9, 45.0, 31, 29),
    };
    for (const DataRequestBlock& r : requests) {
        TileSet tiles;
        tiles.AddTiles(RequestTiles(sheared, r).size(), 3, PatternFill);
        const Outcome o = Resample(sheared, CompletedJob(r, tiles.Images()));
        ASSERT_EQ(o.result, ZARVO_EVENT_RASTER_READY) << r.zoom;
        EXPECT_EQ(o.raster, ReferenceRaster(sheared, r, tiles.Images())) << r.zoom;
        // The shear matters: the separable reading of the same tiles differs.
        EXPECT_NE(o.raster, ResampleWithTiles(r, 3, PatternFill).raster) << r.zoom;
    }
}

// Jobs the resampler must refuse, and the result it refuses them with.
// None may produce a raster or touch the image.
struct RefusalCase {
    const char* what;
    int32_t expected;
    std::function<void(DataRequestBlock&, TileSet&, DownloadJob&)> spoil;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.what;
}

class MosaicRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(MosaicRefusalTest, RefusesWithoutARaster) {
    const RefusalCase& c = GetParam();
    DataRequestBlock r = MakeRequest(3, 80, 0, 100, 10, 4, 4);  // a 2 x 2 tile grid
    TileSet tiles;
    tiles.AddTiles(RequestTiles(kMap, r).size(), 3, PatternFill);
    DownloadJob job = CompletedJob(r, tiles.Images());
    c.spoil(job.request, tiles, job);
    const Outcome o = Resample(kMap, job);
    EXPECT_EQ(o.result, c.expected) << c.what;
    EXPECT_EQ(o.image.pixels, nullptr);
    EXPECT_EQ(o.image.byteSize, 0);
    EXPECT_EQ(o.image.width, 0);
}

constexpr int32_t kMismatch = ZARVO_EVENT_TILES_MISMATCH;
constexpr int32_t kBadImage = ZARVO_EVENT_BAD_TILE_IMAGE;

INSTANTIATE_TEST_SUITE_P(
    BadJobs, MosaicRefusalTest,
    ::testing::Values(
        RefusalCase{"one image too many", kMismatch,
                    [](DataRequestBlock&, TileSet&, DownloadJob& j) { ++j.itemCount; }},
        RefusalCase{"one image too few", kMismatch,
                    [](DataRequestBlock&, TileSet&, DownloadJob& j) { --j.itemCount; }},
        RefusalCase{"negative count", kMismatch,
                    [](DataRequestBlock&, TileSet&, DownloadJob& j) { j.itemCount = -4; }},
        RefusalCase{"zoom the enumeration refuses", kMismatch,
                    [](DataRequestBlock& r, TileSet&, DownloadJob&) { r.zoom = 0; }},
        RefusalCase{"non-finite edge", kMismatch,
                    [](DataRequestBlock& r, TileSet&, DownloadJob&) { r.north = std::nan(""); }},
        RefusalCase{"raster over 2^31 - 1 bytes", kMismatch,
                    [](DataRequestBlock& r, TileSet&, DownloadJob&) { r.width = r.height = 26755; }},
        RefusalCase{"null items", kBadImage, [](DataRequestBlock&, TileSet&, DownloadJob& j) { j.items = nullptr; }},
        RefusalCase{"null pixels", kBadImage,
                    [](DataRequestBlock&, TileSet& t, DownloadJob&) { t.Images()[3].pixels = nullptr; }},
        RefusalCase{"zero byte size", kBadImage,
                    [](DataRequestBlock&, TileSet& t, DownloadJob&) { t.Images()[2].byteSize = 0; }},
        RefusalCase{"one byte short", kBadImage,
                    [](DataRequestBlock&, TileSet& t, DownloadJob&) { --t.Images()[1].byteSize; }},
        RefusalCase{"not one tile wide", kBadImage,
                    [](DataRequestBlock&, TileSet& t, DownloadJob&) { t.Images()[0].width = 255; }},
        RefusalCase{"two bytes per pixel", kBadImage,
                    [](DataRequestBlock&, TileSet& t, DownloadJob&) { t.Images()[0].bytesPerPixel = 2; }},
        RefusalCase{"five bytes per pixel", kBadImage,
                    [](DataRequestBlock&, TileSet& t, DownloadJob&) { t.Images()[0].bytesPerPixel = 5; }}));

}  // namespace
