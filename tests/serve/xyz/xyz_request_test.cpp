// The XYZ door's addresses: which tile of which set each names (x the
// column, y the row, @2x the 512 px twin), the format from the extension or
// from Accept, and the status of every address that names nothing.

#include <gtest/gtest.h>

#include <string>

#include "serve/xyz/xyz_request.h"

namespace {

constexpr int32_t kHighestLevel = 5;
// What browsers send for images, and what MapLibre sends for raster tiles.
const char* const kBrowser = "image/avif,image/webp,image/apng,image/svg+xml,image/*,*/*;q=0.8";
const char* const kMapLibre = "image/webp,*/*";

TEST(XyzRequest, ReadsTheTileOfEachAddressInTheFormatItNamesOrAcceptTakes) {
    struct Case {
        const char* what;
        std::string path;
        const char* accept;
        int status;  // 200: a valid request
        XyzResource resource;
        const char* set;
        int32_t level;
        uint32_t row, column;
        ImageFormat format;
        bool negotiated;
    };
    const auto tile = [](const char* what, std::string path, const char* accept, const char* set, int32_t level,
                         uint32_t row, uint32_t column, ImageFormat format, bool negotiated) {
        return Case{what, std::move(path), accept, 200, XyzResource::Tile, set, level, row, column, format, negotiated};
    };
    const auto refused = [](const char* what, std::string path, const char* accept, int status) {
        return Case{what, std::move(path), accept, status, XyzResource::Tile, "", 0, 0, 0, ImageFormat::Png, false};
    };
    const std::string bare = "map/WebMercatorQuad/1/1/0";
    const Case cases[] = {
        tile("x is the column, y the row", "map/WebMercatorQuad/3/5/2.png", kBrowser, "WebMercatorQuad", 3, 2, 5,
             ImageFormat::Png, false),
        tile("jpg is JPEG", "aerial/WorldCRS84Quad/2/7/3.jpg", "", "WorldCRS84Quad", 2, 3, 7, ImageFormat::Jpeg, false),
        tile("@2x is the twin's tile", "hybrid/WebMercatorQuad/4/9/6@2x.webp", "", "WebMercatorQuad512", 4, 6, 9,
             ImageFormat::Webp, false),
        tile("@2x without an extension", "map/WorldCRS84Quad/1/3/1@2x", kMapLibre, "WorldCRS84Quad512", 1, 1, 3,
             ImageFormat::Webp, true),
        tile("a twin by its name", "map/WebMercatorQuad512/0/0/0.png", "", "WebMercatorQuad512", 0, 0, 0,
             ImageFormat::Png, false),
        {"TileJSON", "aerial/WorldCRS84Quad512/tilejson.json", "", 200, XyzResource::TileJson, "WorldCRS84Quad512", 0,
         0, 0, ImageFormat::Png, false},
        // Extension-less: what Accept takes most, then names most nearly,
        // then the layer's own format, WebP, the rest.
        tile("no Accept: the map's own", bare, "", "WebMercatorQuad", 1, 0, 1, ImageFormat::Png, true),
        tile("anything: aerial's own", "aerial/WebMercatorQuad/1/1/0", "*/*", "WebMercatorQuad", 1, 0, 1,
             ImageFormat::Jpeg, true),
        tile("a browser", bare, kBrowser, "WebMercatorQuad", 1, 0, 1, ImageFormat::Webp, true),
        tile("MapLibre", bare, kMapLibre, "WebMercatorQuad", 1, 0, 1, ImageFormat::Webp, true),
        tile("by quality", bare, "image/png;q=0.5, image/jpeg;q=0.8", "WebMercatorQuad", 1, 0, 1, ImageFormat::Jpeg,
             true),
        tile("WebP refused", bare, "image/*;q=0.9, image/webp;q=0", "WebMercatorQuad", 1, 0, 1, ImageFormat::Png, true),
        tile("its own refused: WebP next", "aerial/WebMercatorQuad/1/1/0", "image/*, image/jpeg;q=0",
             "WebMercatorQuad", 1, 0, 1, ImageFormat::Webp, true),
        tile("names in any case", bare, "IMAGE/WEBP;Q=1", "WebMercatorQuad", 1, 0, 1, ImageFormat::Webp, true),
        tile("a malformed quality is skipped", bare, "image/webp;q=high, image/png", "WebMercatorQuad", 1, 0, 1,
             ImageFormat::Png, true),
        refused("Accept takes none", bare, "text/html", 406),
        refused("Accept refuses all", bare, "image/*;q=0", 406),
        refused("no such layer", "roads/WebMercatorQuad/0/0/0.png", "", 404),
        refused("no such set", "map/GoogleMapsCompatible/0/0/0.png", "", 404),
        refused("a level too deep", "map/WebMercatorQuad/6/0/0.png", "", 404),
        refused("x past the level", "map/WebMercatorQuad/1/2/0.png", "", 404),
        refused("y past the level", "map/WorldCRS84Quad/1/3/2.png", "", 404),
        refused("no such extension", "map/WebMercatorQuad/1/0/0.gif", "", 404),
        refused("@2x of a twin", "map/WebMercatorQuad512/0/0/0@2x.png", "", 404),
        refused("no other density", "map/WebMercatorQuad/1/0/0@3x.png", "", 404),
        refused("the extension before @2x", "map/WebMercatorQuad/1/0/0.png@2x", "", 404),
        refused("no other document", "map/WebMercatorQuad/style.json", "", 404),
        refused("too few parts", "map/WebMercatorQuad/1/0", "", 404),
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ": " + c.path + " with Accept: " + c.accept);
        const ParsedXyz parsed = ParseXyzPath(c.path, c.accept, kHighestLevel);
        EXPECT_EQ(parsed.valid, c.status == 200) << parsed.error.message;
        if (!parsed.valid) {
            EXPECT_EQ(parsed.error.status, c.status);
            EXPECT_FALSE(parsed.error.message.empty());
            continue;
        }
        const XyzRequest& request = parsed.request;
        EXPECT_EQ(request.resource, c.resource);
        EXPECT_STREQ(request.set->identifier, c.set);
        if (c.resource != XyzResource::Tile) continue;
        EXPECT_EQ(request.negotiated, c.negotiated);
        // The tile is the WMTS tile of the same set, level, row and column.
        const MapRequest expected = TileMap(c.path.substr(0, c.path.find('/')), *FindTileMatrixSet(c.set), c.level,
                                            c.row, c.column, c.format);
        EXPECT_EQ(MapIdentity(request.map), MapIdentity(expected));
    }
}

}  // namespace
