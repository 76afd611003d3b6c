#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "layers/layer_registry.h"
#include "layers/zarvo_src_layer.h"
#include "tests/support/tile_fixtures.h"

namespace {

using Urls = AddressList;

struct InitCase {
    const char16_t* name;
    bool accepted;
    LayerKind kind;
};

class LayerInitTest : public ::testing::TestWithParam<InitCase> {};

TEST_P(LayerInitTest, AcceptsExactlyTheThreeLayerNames) {
    const InitCase& c = GetParam();
    ZarvoSrcLayer layer;
    EXPECT_EQ(layer.Init(c.name), c.accepted);
    EXPECT_EQ(layer.Kind(), c.kind);
    const auto* transform = static_cast<const ZarvoCoordTransform*>(layer.GetTransform());
    if (!c.accepted) {
        EXPECT_EQ(transform, nullptr);
        return;
    }
    ASSERT_NE(transform, nullptr);
    EXPECT_EQ(transform->Kind(), c.kind);
    EXPECT_EQ(transform->LayerName(), c.name);
}

INSTANTIATE_TEST_SUITE_P(Names, LayerInitTest,
                         ::testing::Values(InitCase{u"map", true, LayerKind::Map},
                                           InitCase{u"aerial", true, LayerKind::Aerial},
                                           InitCase{u"hybrid", true, LayerKind::Hybrid},
                                           InitCase{u"Map", false, LayerKind::None},
                                           InitCase{u"AERIAL", false, LayerKind::None},
                                           InitCase{u" map", false, LayerKind::None},
                                           InitCase{u"maps", false, LayerKind::None},
                                           InitCase{u"satellite", false, LayerKind::None},
                                           InitCase{u"", false, LayerKind::None}));

ZarvoSrcLayer& MapLayer() {
    static ZarvoSrcLayer layer;
    static const bool ready = layer.Init(u"map");
    EXPECT_TRUE(ready);
    return layer;
}

TEST(BuildRequestTest, OneAddressPerTileInEnumerationOrder) {
    const DataRequestBlock r = MakeRequest(3, 80, 0, 100, 10, 4, 4);
    Urls urls;
    ASSERT_EQ(MapLayer().BuildRequest(r, urls), ZARVO_REQUEST_STARTED);
    Urls expected;
    MapLayer().GetTransform()->TilesToUrls(RequestTiles(*MapLayer().GetTransform(), r), expected);
    EXPECT_EQ(urls.Size(), 4u);
    EXPECT_EQ(Strings(urls), Strings(expected));
}

TEST(BuildRequestTest, SwappedEdgesGiveTheSameAddresses) {
    Urls straight, swapped;
    ASSERT_EQ(MapLayer().BuildRequest(MakeRequest(3, 80, 0, 100, 10, 4, 4), straight), ZARVO_REQUEST_STARTED);
    ASSERT_EQ(MapLayer().BuildRequest(MakeRequest(3, 100, 10, 80, 0, 4, 4), swapped), ZARVO_REQUEST_STARTED);
    EXPECT_EQ(Strings(straight), Strings(swapped));
}

TEST(BuildRequestTest, ResultCodes) {
    Urls urls;
    urls.Append(u"already here", 12);
    EXPECT_EQ(MapLayer().BuildRequest(MakeRequest(3, 10, 50, 20, 60, 2, 2), urls), ZARVO_REQUEST_NO_LAYER);
    EXPECT_EQ(urls.Size(), 2u) << "the addresses stay appended";

    Urls untouched;
    EXPECT_EQ(MapLayer().BuildRequest(MakeRequest(1, -537, 0, -500, 1, 2, 2), untouched), ZARVO_REQUEST_UNSERVABLE);
    EXPECT_EQ(MapLayer().BuildRequest(MakeRequest(22, 10, 50, 20, 60, 2, 2), untouched), ZARVO_REQUEST_UNSERVABLE);
    EXPECT_EQ(MapLayer().BuildRequest(MakeRequest(3, 10, 50, 20, 60, 65536, 32768), untouched),
              ZARVO_REQUEST_UNSERVABLE);
    EXPECT_TRUE(untouched.Empty());

    ZarvoSrcLayer unnamed;
    EXPECT_EQ(unnamed.BuildRequest(MakeRequest(3, 10, 50, 20, 60, 2, 2), untouched), ZARVO_REQUEST_NO_LAYER);
    EXPECT_TRUE(untouched.Empty());
    DownloadJob job{};
    LayerImage image{};
    EXPECT_EQ(unnamed.ProcessDownload(job, image), ZARVO_EVENT_NO_TRANSFORM);
    EXPECT_EQ(image.pixels, nullptr);
}

TEST(ProcessDownloadTest, LayerAssemblesTheRaster) {
    const DataRequestBlock r = MakeRequest(3, 10, 50, 20, 60, 2, 2);
    TileSet tiles;
    tiles.AddTiles(1, 3, [](size_t, int a, int b, uint8_t* p) {
        p[0] = static_cast<uint8_t>(a);
        p[1] = static_cast<uint8_t>(b);
        p[2] = 0;
    });
    LayerImage image{};
    ASSERT_EQ(MapLayer().ProcessDownload(CompletedJob(r, tiles.Images()), image), ZARVO_EVENT_RASTER_READY);
    const std::vector<uint8_t> raster(image.pixels, image.pixels + image.byteSize);
    delete[] image.pixels;
    EXPECT_EQ(raster, (std::vector<uint8_t>{28, 41, 0, 56, 41, 0, 28, 91, 0, 56, 91, 0}));
}

TEST(LayerRegistryTest, OneSharedLayerPerName) {
    LayerRegistry registry;
    DataSrcLayer* map = registry.GetOrCreateLayer(u"map");
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(static_cast<ZarvoSrcLayer*>(map)->Kind(), LayerKind::Map);
    EXPECT_EQ(registry.GetOrCreateLayer(u"map"), map);
    DataSrcLayer* aerial = registry.GetOrCreateLayer(u"aerial");
    DataSrcLayer* hybrid = registry.GetOrCreateLayer(u"hybrid");
    EXPECT_NE(aerial, nullptr);
    EXPECT_NE(hybrid, nullptr);
    EXPECT_NE(aerial, map);
    EXPECT_NE(hybrid, aerial);
    EXPECT_EQ(registry.Size(), 3u);
    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_EQ(registry.GetOrCreateLayer(u"MAP"), nullptr) << "the registry folds no case itself";
        EXPECT_EQ(registry.GetOrCreateLayer(u"roads"), nullptr);
    }
    EXPECT_EQ(registry.Size(), 3u);
}

}  // namespace
