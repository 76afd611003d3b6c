// Tile addresses, URL templates and tile source descriptions.

#include <gtest/gtest.h>

#include <string>

#include "host/tile_address.h"
#include "host/tile_source.h"

namespace {

constexpr char kService[] = "http://tile3.zarvo.example/geowebcache/service/tms1.0.0/";

TEST(TileAddressTest, ServiceAddressesParseAndOthersDoNot) {
    TileAddress a;
    ASSERT_TRUE(ParseTileAddress(std::string(kService) + "aerial/5/16/20.jpeg", a));
    EXPECT_EQ(a.layer, "aerial");
    EXPECT_EQ(a.z, 5);
    EXPECT_EQ(a.x, 16);
    EXPECT_EQ(a.y, 20);
    EXPECT_EQ(a.extension, "jpeg");
    EXPECT_EQ(RelativeTilePath(a), "aerial/5/16/20.jpeg");
    for (const char* tail : {"map/5/16/20", "map/5/16.png", "../5/16/20.png", "map/5/-1/20.png", "map/5/1/2.png/..",
                             "map/5/1/2./", "map/a/1/2.png", "map/5/12345678901/2.png", "m p/5/1/2.png"}) {
        EXPECT_FALSE(ParseTileAddress(std::string(kService) + tail, a)) << tail;
    }
    EXPECT_FALSE(ParseTileAddress("http://elsewhere/map/5/16/20.png", a));
}

TEST(TileAddressTest, TemplatesTakeEveryPart) {
    TileAddress a{"hybrid", 8, 130, 77, "png", ""};
    // The address counts rows from the south; {y} from the north, {-y} from the south.
    EXPECT_EQ(ExpandTileTemplate("https://t.example/{layer}/{z}/{x}/{y}.{ext}?k={z}", a),
              "https://t.example/hybrid/8/130/178.png?k=8");
    EXPECT_EQ(ExpandTileTemplate("https://{s:a,b,c}.t.example/{z}/{x}/{-y}", a), "https://a.t.example/8/130/77");
    EXPECT_EQ(ExpandTileTemplate("https://{s}.t.example/{z}/{x}/{-y}", TileAddress{"map", 8, 131, 77, "png", ""}),
              "https://b.t.example/8/131/77");
    EXPECT_TRUE(IsTileTemplate("http://h/{z}/{x}/{y}.png"));
    EXPECT_TRUE(IsTileTemplate("/tiles/{z}/{x}/{-y}.png"));
    EXPECT_FALSE(IsTileTemplate("http://h/{z}/{x}.png"));
}

TEST(TileAddressTest, SourceDescriptionsAreCheckedBeforeUse) {
    struct Case {
        std::string description;
        const char* error;  // empty: a source is made
    } cases[] = {
        {"http://127.0.0.1:8080", ""},
        {"http://127.0.0.1:8080/", ""},
        {"http://localhost:1/{z}/{x}/{y}.png", ""},
        {"https://tiles.example/{layer}/{z}/{x}/{y}.{ext}", ""},
        {".", ""},
        {"http://127.0.0.1", "is neither http://HOST:PORT nor a URL template"},
        {"http://127.0.0.1:80/tiles", "is neither http://HOST:PORT nor a URL template"},
        {"https://127.0.0.1:8443", "is no URL template"},
        {"ftp://h/{z}/{x}/{y}", "from a directory or over http or https"},
        {"file:///tmp/{z}/{x}/{y}", "from a directory or over http or https"},
        {"/no/such/tile/directory", "tile directory '/no/such/tile/directory' does not exist"},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto source = MakeTileSource(c.description, error);
        EXPECT_EQ(source != nullptr, *c.error == '\0') << c.description;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.description << ": " << error;
    }
}

}  // namespace
