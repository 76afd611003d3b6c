// The OGC API's reading of a request: which resource a path names, in
// which format, what a map's parameters draw, and every refusal with the
// status the standards give it.

#include <gtest/gtest.h>

#include <string>

#include "drawing/map_grid.h"
#include "serve/ogcapi/ogcapi_request.h"

namespace {

constexpr int32_t kHighestLevel = 5;
const char* const kBrowser = "text/html,application/xhtml+xml,application/xml;q=0.9,image/webp,*/*;q=0.8";

ParsedOgcApi Read(const std::string& path, const std::string& query, const char* accept = nullptr) {
    const std::string header = accept != nullptr ? accept : "";
    return ParseOgcApi(path, ParseQueryString(query), accept != nullptr ? &header : nullptr, kHighestLevel);
}

TEST(OgcApiRequest, NamesEachResourceInTheFormatAskedForAndRefusesTheRest) {
    struct Case {
        const char* path;
        const char* query;
        const char* accept;
        int status;  // 200: read
        OgcResource resource;
        OgcFormat format;
    } cases[] = {
        {"", "", nullptr, 200, OgcResource::Landing, OgcFormat::Json},
        {"/", "f=html", nullptr, 200, OgcResource::Landing, OgcFormat::Html},
        {"/conformance", "", kBrowser, 200, OgcResource::Conformance, OgcFormat::Html},
        {"/api", "f=json", nullptr, 200, OgcResource::ApiDefinition, OgcFormat::OpenApi},
        {"/api", "", "application/json", 200, OgcResource::ApiDefinition, OgcFormat::Json},
        {"/collections/", "", "*/*", 200, OgcResource::Collections, OgcFormat::Json},
        {"/collections/hybrid", "f=text/html", nullptr, 200, OgcResource::Collection, OgcFormat::Html},
        {"/collections/map/map", "", "image/avif,image/*;q=0.9", 200, OgcResource::Map, OgcFormat::Png},
        {"/collections/map/map", "", "image/png;q=0.5, image/jpeg;q=0.9", 200, OgcResource::Map, OgcFormat::Jpeg},
        {"/collections/map/map/tiles", "", nullptr, 200, OgcResource::Tilesets, OgcFormat::Json},
        {"/collections/map/map/tiles/WebMercatorQuad", "", nullptr, 200, OgcResource::Tileset, OgcFormat::Json},
        {"/collections/aerial/map/tiles/WorldCRS84Quad/5/31/63", "f=jpg", nullptr, 200, OgcResource::Tile,
         OgcFormat::Jpeg},
        {"/tileMatrixSets/WorldCRS84Quad", "", nullptr, 200, OgcResource::TileMatrixSet, OgcFormat::Json},
        // Paths that name nothing.
        {"/collections/roads", "", nullptr, 404, OgcResource::Collection, OgcFormat::Json},
        {"/collections/map/legend", "", nullptr, 404, OgcResource::Landing, OgcFormat::Json},
        {"/collections/map/map/tiles/GoogleMapsCompatible", "", nullptr, 404, OgcResource::Tileset, OgcFormat::Json},
        {"/collections/map/map/tiles/WebMercatorQuad/6/0/0", "", nullptr, 404, OgcResource::Tile, OgcFormat::Json},
        {"/collections/map/map/tiles/WorldCRS84Quad/1/2/0", "", nullptr, 404, OgcResource::Tile, OgcFormat::Json},
        {"/collections/map/map/tiles/WorldCRS84Quad/1/0/4", "", nullptr, 404, OgcResource::Tile, OgcFormat::Json},
        {"/collections/map/map/tiles/WorldCRS84Quad/1/0", "", nullptr, 404, OgcResource::Landing, OgcFormat::Json},
        // Parameters: names are case-sensitive, unknown ones are refused.
        {"/conformance", "F=json", nullptr, 400, OgcResource::Conformance, OgcFormat::Json},
        {"/conformance", "f=json&f=html", nullptr, 400, OgcResource::Conformance, OgcFormat::Json},
        {"/collections", "bbox=0,0,1,1", nullptr, 400, OgcResource::Collections, OgcFormat::Json},
        {"/conformance", "f=xml", nullptr, 400, OgcResource::Conformance, OgcFormat::Json},
        // Formats not offered.
        {"/conformance", "f=png", nullptr, 406, OgcResource::Conformance, OgcFormat::Json},
        {"/collections/map/map", "", "application/json", 406, OgcResource::Map, OgcFormat::Json},
        {"/collections/map/map/tiles/WebMercatorQuad/0/0/0", "", "image/png;q=0", 406, OgcResource::Tile,
         OgcFormat::Json},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + "?" + c.query);
        const ParsedOgcApi parsed = Read(c.path, c.query, c.accept);
        EXPECT_EQ(parsed.valid, c.status == 200) << parsed.error.message;
        if (!parsed.valid) {
            EXPECT_EQ(parsed.error.status, c.status) << parsed.error.message;
            // Counted as what its path has the shape of, even when refused
            // (Landing stands for a path of no shape).
            if (c.resource != OgcResource::Landing) {
                EXPECT_EQ(parsed.named, c.resource);
            }
            continue;
        }
        EXPECT_EQ(parsed.request.resource, c.resource);
        EXPECT_EQ(parsed.request.format, c.format);
        EXPECT_EQ(parsed.request.formatFromAccept, std::string(c.query).find("f=") == std::string::npos);
    }
}

TEST(OgcApiRequest, DrawsTheMapItsParametersDescribe) {
    constexpr double H = kMercatorHalfWorld, N = kCoverageNorth;
    // A tenth of a degree a pixel at the equator.
    const std::string tenth = "scale-denominator=" + std::to_string(0.1 * 111319.49079327357 / 0.00028);
    struct Case {
        std::string query;
        int status;  // 200: drawn as below
        OgcCrs crs;
        MapBox box;
        uint32_t width, height;
        uint32_t background;
        bool transparent;
    } cases[] = {
        // Nothing given: the whole extent, 1024 pixels across, clear where there are no tiles.
        {"", 200, OgcCrs::Crs84, {-180, -N, 180, N}, 1024, 484, 0xFFFFFF, true},
        {"bbox=-12,34,32,62&width=440", 200, OgcCrs::Crs84, {-12, 34, 32, 62}, 440, 280, 0xFFFFFF, true},
        {"bbox=-12,34,32,62&height=140&f=jpeg", 200, OgcCrs::Crs84, {-12, 34, 32, 62}, 220, 140, 0xFFFFFF, false},
        // Across longitude 180.
        {"bbox=170,0,-170,10&width=64", 200, OgcCrs::Crs84, {170, 0, 190, 10}, 64, 32, 0xFFFFFF, true},
        {"bbox-crs=http://www.opengis.net/def/crs/EPSG/0/4326&bbox=34,-12,62,32&width=44&height=28", 200,
         OgcCrs::Crs84, {-12, 34, 32, 62}, 44, 28, 0xFFFFFF, true},
        {"crs=[EPSG:3857]&bbox=0,0,90,90&width=256", 200, OgcCrs::Epsg3857, {0, 0, H / 2, H}, 256, 512, 0xFFFFFF, true},
        {"crs=[EPSG:4326]&bbox-crs=[EPSG:3857]&bbox=0,0,10018754.171394622,20037508.342789244&width=90&height=85",
         200, OgcCrs::Epsg4326, {0, 0, 90, N}, 90, 85, 0xFFFFFF, true},
        {"subset=Lat(40:60),Lon(-10:20)&height=100", 200, OgcCrs::Crs84, {-10, 40, 20, 60}, 150, 100, 0xFFFFFF, true},
        {"subset=Lat(*:0)&width=360", 200, OgcCrs::Crs84, {-180, -N, 180, 0}, 360, 85, 0xFFFFFF, true},
        // Without an area, a size takes the view of that size around the centre.
        {"width=512&height=256", 200, OgcCrs::Crs84, {-90, -45, 90, 45}, 512, 256, 0xFFFFFF, true},
        {"center=0,0&width=100&height=50&" + tenth, 200, OgcCrs::Crs84, {-5, -2.5, 5, 2.5}, 100, 50, 0xFFFFFF, true},
        {"bbox=0,-5,10,5&" + tenth, 200, OgcCrs::Crs84, {0, -5, 10, 5}, 100, 100, 0xFFFFFF, true},
        {"bbox=0,0,1,1&bgcolor=0x102030", 200, OgcCrs::Crs84, {0, 0, 1, 1}, 1024, 1024, 0x102030, false},
        {"bbox=0,0,1,1&bgcolor=LightGoldenRodYellow&transparent=true", 200, OgcCrs::Crs84, {0, 0, 1, 1}, 1024, 1024,
         0xFAFAD2, true},
        // Refused.
        {"bbox=0,0,1,1&subset=Lat(0:1)", 400, {}, {}, 0, 0, 0, false},
        {"center=0,0&bbox=0,0,1,1", 400, {}, {}, 0, 0, 0, false},
        {"bbox=0,0,1,1&width=10&" + tenth, 400, {}, {}, 0, 0, 0, false},
        {"bbox=0,10,1,0", 400, {}, {}, 0, 0, 0, false},
        {"bbox=0,0,1,1,0,5", 400, {}, {}, 0, 0, 0, false},
        {"bbox=0,0,1,nan", 400, {}, {}, 0, 0, 0, false},
        {"bbox=0,0,1e300,1", 400, {}, {}, 0, 0, 0, false},
        {"bbox-crs=EPSG:4326&bbox=0,0,1,1", 400, {}, {}, 0, 0, 0, false},
        {"crs=http://www.opengis.net/def/crs/EPSG/0/32632", 400, {}, {}, 0, 0, 0, false},
        {"subset=Lat(10)", 400, {}, {}, 0, 0, 0, false},
        {"subset=Time(1:2)", 400, {}, {}, 0, 0, 0, false},
        {"width=0", 400, {}, {}, 0, 0, 0, false},
        {"transparent=yes", 400, {}, {}, 0, 0, 0, false},
        {"bgcolor=chartreuse2", 400, {}, {}, 0, 0, 0, false},
        // Beyond the limits, given or as it follows.
        {"width=2049", 413, {}, {}, 0, 0, 0, false},
        {"bbox=0,0,100,1&height=100", 413, {}, {}, 0, 0, 0, false},
        {"bbox=0,0,10,10&scale-denominator=1", 413, {}, {}, 0, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        const ParsedOgcApi parsed = Read("/collections/map/map", c.query);
        const MapRequest& map = parsed.request.map;
        ASSERT_EQ(parsed.valid ? 200 : parsed.error.status, c.status) << parsed.error.message;
        if (!parsed.valid) continue;
        EXPECT_EQ(parsed.request.crs, c.crs);
        EXPECT_EQ(map.crs, c.crs == OgcCrs::Epsg3857 ? MapCrs::WebMercator : MapCrs::LonLat);
        const double tolerance = c.crs == OgcCrs::Epsg3857 ? 1e-6 : 1e-9;
        EXPECT_NEAR(map.box.west, c.box.west, tolerance);
        EXPECT_NEAR(map.box.south, c.box.south, tolerance);
        EXPECT_NEAR(map.box.east, c.box.east, tolerance);
        EXPECT_NEAR(map.box.north, c.box.north, tolerance);
        EXPECT_EQ(map.width, c.width);
        EXPECT_EQ(map.height, c.height);
        EXPECT_EQ(map.layer, "map");
        EXPECT_EQ(map.background, c.background);
        EXPECT_EQ(map.transparent, c.transparent);
    }
}

}  // namespace
