#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "projection/zarvo_coord_transform.h"
#include "tests/support/tile_fixtures.h"

namespace {

struct UrlCase {
    LayerKind kind;
    const char16_t* name;
    TileKey key;
    const char* url;
};

class TileUrlTest : public ::testing::TestWithParam<UrlCase> {};

TEST_P(TileUrlTest, BuildsTheServiceAddress) {
    const UrlCase& c = GetParam();
    const ZarvoCoordTransform t(c.kind, c.name);
    EXPECT_EQ(Narrow(t.TileUrl(c.key)), c.url);
}

#define ZARVO_SERVER(n) "http://tile" #n ".zarvo.example/geowebcache/service/tms1.0.0/"

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, TileUrlTest,
    ::testing::Values(
        UrlCase{LayerKind::Map, u"map", {512, 4352, 3}, ZARVO_SERVER(1) "map/2/2/2.png"},
        UrlCase{LayerKind::Aerial, u"aerial", {71936, 562688, 10}, ZARVO_SERVER(3) "aerial/9/281/361.jpeg"},
        UrlCase{LayerKind::Hybrid, u"hybrid", {0, 1024, 1}, ZARVO_SERVER(1) "hybrid/0/0/0.png"},
        UrlCase{LayerKind::Map, u"map", {0, 768, 1}, ZARVO_SERVER(1) "map/5/0/0.png"},
        UrlCase{LayerKind::Aerial, u"aerial", {256, 1280, 1}, ZARVO_SERVER(1) "aerial/5/0/0.jpeg"},
        UrlCase{LayerKind::Map, u"map", {256, 1024, 1}, ZARVO_SERVER(2) "map/0/1/0.png"},
        UrlCase{LayerKind::Map, u"map", {0, 2048, 2}, ZARVO_SERVER(2) "map/1/0/1.png"},
        UrlCase{LayerKind::Map, u"map", {0, 2304, 2}, ZARVO_SERVER(1) "map/1/0/0.png"},
        // The extension follows the kind alone, whatever the name.
        UrlCase{LayerKind::Hybrid, u"aerial", {0, 1024, 1}, ZARVO_SERVER(1) "aerial/0/0/0.png"},
        UrlCase{LayerKind::Aerial, u"map", {0, 1024, 1}, ZARVO_SERVER(1) "map/0/0/0.jpeg"},
        // Keys no enumeration makes still give an address on servers 1 to 4.
        UrlCase{LayerKind::Map, u"map", {-256, 1024, 1}, ZARVO_SERVER(4) "map/0/-1/0.png"},
        UrlCase{LayerKind::Map, u"map", {0, 1024, 0}, ZARVO_SERVER(1) "map/5/0/0.png"},
        UrlCase{LayerKind::Map, u"map", {0, 1024, 40}, ZARVO_SERVER(1) "map/5/0/0.png"},
        UrlCase{LayerKind::Map, u"map", {0, -2147483647 - 1, 21}, ZARVO_SERVER(1) "map/5/0/0.png"}));

TEST(TilesToUrlsTest, AppendsOneAddressPerKeyInOrder) {
    const ZarvoCoordTransform t(LayerKind::Map, u"map");
    AddressList urls;
    urls.Append(u"kept", 4);
    t.TilesToUrls({{0, 2048, 2}, {0, 2304, 2}}, urls);
    ASSERT_EQ(urls.Size(), 3u);
    EXPECT_EQ(urls.String(0), u"kept");
    EXPECT_EQ(Narrow(urls.Text(1)), ZARVO_SERVER(2) "map/1/0/1.png");
    EXPECT_EQ(Narrow(urls.Text(2)), ZARVO_SERVER(1) "map/1/0/0.png");
    t.TilesToUrls({}, urls);
    EXPECT_EQ(urls.Size(), 3u);
}

}  // namespace
