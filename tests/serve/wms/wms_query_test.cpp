// The WMS query parser: what it accepts, how it reads axis order, and the
// exception code of everything it refuses.

#include <gtest/gtest.h>

#include <sstream>

#include "serve/wms/wms_query.h"

namespace {

// "A=1&B=2" into parameters; no decoding, the server has done that.
QueryParameters Query(const std::string& text) {
    QueryParameters parameters;
    std::stringstream in(text);
    for (std::string pair; std::getline(in, pair, '&');) {
        const size_t equals = pair.find('=');
        parameters.emplace_back(pair.substr(0, equals), equals == std::string::npos ? "" : pair.substr(equals + 1));
    }
    return parameters;
}

const std::string kMap130 =
    "SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png&WIDTH=200&HEIGHT=100";

TEST(WmsQuery, ReadsEpsg4326LatitudeFirstIn130AndLongitudeFirstOtherwise) {
    const std::string map111 =
        "SERVICE=WMS&VERSION=1.1.1&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png&WIDTH=200&HEIGHT=100";
    struct Case {
        std::string query;
        MapBox box;
        MapCrs crs;
    } cases[] = {
        {kMap130 + "&CRS=EPSG:4326&BBOX=40,-10,60,30", {-10, 40, 30, 60}, MapCrs::LonLat},
        {kMap130 + "&CRS=CRS:84&BBOX=-10,40,30,60", {-10, 40, 30, 60}, MapCrs::LonLat},
        {map111 + "&SRS=EPSG:4326&BBOX=-10,40,30,60", {-10, 40, 30, 60}, MapCrs::LonLat},
        {kMap130 + "&crs=epsg:4326&bbox=-1.5e1,-1.25E2,2.5,125", {-125, -15, 125, 2.5}, MapCrs::LonLat},
        // EPSG:3857 is easting, northing in both versions, in metres.
        {kMap130 + "&CRS=EPSG:3857&BBOX=-20037508.342789244,-5e6,2e7,30000000",
         {-20037508.342789244, -5e6, 2e7, 3e7}, MapCrs::WebMercator},
        {map111 + "&SRS=EPSG:3857&BBOX=1000,2000,3000,4000", {1000, 2000, 3000, 4000}, MapCrs::WebMercator},
        // Too small for a normal double, yet numbers: a denormal and an underflow to zero.
        {kMap130 + "&CRS=CRS:84&BBOX=-4e-320,-1e-400,1e-300,1", {-4e-320, 0, 1e-300, 1}, MapCrs::LonLat},
    };
    for (const Case& c : cases) {
        WmsQuery query;
        WmsError error;
        ASSERT_TRUE(ParseWmsQuery(Query(c.query), query, error)) << c.query << ": " << error.message;
        EXPECT_EQ(query.operation, WmsOperation::GetMap);
        EXPECT_EQ(query.map.box.west, c.box.west) << c.query;
        EXPECT_EQ(query.map.box.south, c.box.south) << c.query;
        EXPECT_EQ(query.map.box.east, c.box.east) << c.query;
        EXPECT_EQ(query.map.box.north, c.box.north) << c.query;
        EXPECT_EQ(query.map.crs, c.crs) << c.query;
    }
}

TEST(WmsQuery, ReadsTheRestOfAGetMap) {
    WmsQuery query;
    WmsError error;
    ASSERT_TRUE(ParseWmsQuery(Query("service=wms&version=1.3.0&request=getmap&layers=map,hybrid&styles=,default"
                                    "&format=IMAGE/JPEG&width=2048&height=1&crs=CRS:84&bbox=0,0,1,1&bgcolor=0x1A2b3C"
                                    "&transparent=true"),
                              query, error))
        << error.message;
    EXPECT_EQ(query.map.layer, "hybrid");  // the top of the list hides the rest
    EXPECT_EQ(query.map.format, ImageFormat::Jpeg);
    EXPECT_EQ(query.map.width, 2048u);
    EXPECT_EQ(query.map.height, 1u);
    EXPECT_EQ(query.map.background, 0x1A2B3Cu);
    EXPECT_FALSE(query.map.transparent);  // a JPEG has no alpha
    ASSERT_TRUE(ParseWmsQuery(Query(kMap130 + "&CRS=CRS:84&BBOX=0,0,1,1&TRANSPARENT=TRUE"), query, error));
    EXPECT_TRUE(query.map.transparent);
    // Only the layers the tiles hold, named in the report.
    EXPECT_FALSE(ParseWmsQuery(Query(kMap130 + "&CRS=CRS:84&BBOX=0,0,1,1"), query, error, {"aerial", "hybrid"}));
    EXPECT_EQ(error.code, WmsErrorCode::LayerNotDefined);
    EXPECT_EQ(error.message, "no layer 'map': the layers are aerial and hybrid");
}

TEST(WmsQuery, NegotiatesTheCapabilitiesVersion) {
    struct Case {
        std::string query;
        WmsVersion version;
    } cases[] = {
        {"SERVICE=WMS&REQUEST=GetCapabilities", WmsVersion::V130},
        {"SERVICE=WMS&REQUEST=GetCapabilities&VERSION=1.3.0", WmsVersion::V130},
        {"SERVICE=WMS&REQUEST=GetCapabilities&VERSION=1.1.1", WmsVersion::V111},
        {"SERVICE=WMS&REQUEST=GetCapabilities&VERSION=1.0.0", WmsVersion::V111},
        {"SERVICE=WMS&REQUEST=GetCapabilities&VERSION=1.2.0", WmsVersion::V111},
        {"SERVICE=WMS&REQUEST=GetCapabilities&VERSION=2.0.0", WmsVersion::V130},
        {"SERVICE=WMS&REQUEST=capabilities&WMTVER=1.1.1", WmsVersion::V111},
    };
    for (const Case& c : cases) {
        WmsQuery query;
        WmsError error;
        ASSERT_TRUE(ParseWmsQuery(Query(c.query), query, error)) << c.query << ": " << error.message;
        EXPECT_EQ(query.operation, WmsOperation::GetCapabilities);
        EXPECT_EQ(query.version, c.version) << c.query;
    }
}

TEST(WmsQuery, RefusesWithTheStandardCodes) {
    const std::string base111 =
        "SERVICE=WMS&VERSION=1.1.1&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png&WIDTH=200&HEIGHT=100";
    struct Case {
        std::string query;
        WmsErrorCode code;
        const char* name;
    } cases[] = {
        {"", WmsErrorCode::MissingParameterValue, "MissingParameterValue"},
        {"SERVICE=WMS", WmsErrorCode::MissingParameterValue, "MissingParameterValue"},
        {"REQUEST=GetCapabilities", WmsErrorCode::MissingParameterValue, "MissingParameterValue"},
        {"SERVICE=WFS&REQUEST=GetCapabilities", WmsErrorCode::InvalidParameterValue, "InvalidParameterValue"},
        {"SERVICE=WMS&REQUEST=GetCapabilities&VERSION=one", WmsErrorCode::InvalidParameterValue,
         "InvalidParameterValue"},
        {"SERVICE=WMS&VERSION=1.3.0&REQUEST=GetFeatureInfo", WmsErrorCode::OperationNotSupported,
         "OperationNotSupported"},
        {"SERVICE=WMS&REQUEST=GetMap&LAYERS=map", WmsErrorCode::MissingParameterValue, "MissingParameterValue"},
        {"SERVICE=WMS&VERSION=1.2.0&REQUEST=GetMap", WmsErrorCode::InvalidParameterValue, "InvalidParameterValue"},
        {kMap130 + "&CRS=EPSG:32632&BBOX=0,0,1,1", WmsErrorCode::InvalidCRS, "InvalidCRS"},
        {base111 + "&SRS=EPSG:900913&BBOX=0,0,1,1", WmsErrorCode::InvalidCRS, "InvalidSRS"},
        {base111 + "&CRS=EPSG:4326&BBOX=0,0,1,1", WmsErrorCode::MissingParameterValue, "MissingParameterValue"},
        {kMap130 + "&CRS=CRS:84", WmsErrorCode::MissingParameterValue, "MissingParameterValue"},
        {kMap130 + "&CRS=CRS:84&BBOX=0,0,1", WmsErrorCode::InvalidParameterValue, "InvalidParameterValue"},
        {kMap130 + "&CRS=CRS:84&BBOX=0,0,1,1,1", WmsErrorCode::InvalidParameterValue, "InvalidParameterValue"},
        {kMap130 + "&CRS=CRS:84&BBOX=1,0,0,1", WmsErrorCode::InvalidParameterValue, "InvalidParameterValue"},
        {kMap130 + "&CRS=CRS:84&BBOX=0,1,1,1", WmsErrorCode::InvalidParameterValue, "InvalidParameterValue"},
        {kMap130 + "&CRS=CRS:84&BBOX=0,0,nan,1", WmsErrorCode::InvalidParameterValue, "InvalidParameterValue"},
        {kMap130 + "&CRS=CRS:84&BBOX=0,0,inf,1", WmsErrorCode::InvalidParameterValue, "InvalidParameterValue"},
        {kMap130 + "&CRS=CRS:84&BBOX=0,0,1e400,1", WmsErrorCode::InvalidParameterValue, "InvalidParameterValue"},
        {kMap130 + "&CRS=CRS:84&BBOX=0,0,0x10,1", WmsErrorCode::InvalidParameterValue, "InvalidParameterValue"},
        {kMap130 + "&CRS=CRS:84&BBOX= 0,0,1,1", WmsErrorCode::InvalidParameterValue, "InvalidParameterValue"},
        {kMap130 + "&CRS=CRS:84&BBOX=-2e6,0,1,1", WmsErrorCode::InvalidParameterValue, "InvalidParameterValue"},
        {kMap130 + "&CRS=EPSG:3857&BBOX=-2e9,0,1,1", WmsErrorCode::InvalidParameterValue, "InvalidParameterValue"},
    };
    for (const Case& c : cases) {
        WmsQuery query;
        WmsError error;
        EXPECT_FALSE(ParseWmsQuery(Query(c.query), query, error)) << c.query;
        EXPECT_EQ(error.code, c.code) << c.query << ": " << error.message;
        EXPECT_STREQ(WmsErrorCodeName(error.code, error.version), c.name) << c.query;
        EXPECT_FALSE(error.message.empty());
    }
}

TEST(WmsQuery, RefusesBadLayersStylesSizesAndFormats) {
    const std::string head = "SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&CRS=CRS:84&BBOX=0,0,1,1";
    const std::string good = "&LAYERS=map&STYLES=&FORMAT=image/png&WIDTH=10&HEIGHT=10";
    struct Case {
        std::string change;  // replaces the named parameter of `good`
        WmsErrorCode code;
    } cases[] = {
        {"&LAYERS=roads&STYLES=&FORMAT=image/png&WIDTH=10&HEIGHT=10", WmsErrorCode::LayerNotDefined},
        {"&LAYERS=Map&STYLES=&FORMAT=image/png&WIDTH=10&HEIGHT=10", WmsErrorCode::LayerNotDefined},
        {"&LAYERS=map,&STYLES=&FORMAT=image/png&WIDTH=10&HEIGHT=10", WmsErrorCode::LayerNotDefined},
        {"&LAYERS=&STYLES=&FORMAT=image/png&WIDTH=10&HEIGHT=10", WmsErrorCode::MissingParameterValue},
        {"&LAYERS=map,map,map,map,map,map,map,map,map,map,map,map,map,map,map,map,map&STYLES=&FORMAT=image/png"
         "&WIDTH=10&HEIGHT=10",
         WmsErrorCode::InvalidParameterValue},
        {"&LAYERS=map&FORMAT=image/png&WIDTH=10&HEIGHT=10", WmsErrorCode::MissingParameterValue},
        {"&LAYERS=map&STYLES=bold&FORMAT=image/png&WIDTH=10&HEIGHT=10", WmsErrorCode::StyleNotDefined},
        {"&LAYERS=map&STYLES=,&FORMAT=image/png&WIDTH=10&HEIGHT=10", WmsErrorCode::StyleNotDefined},
        {"&LAYERS=map&STYLES=&FORMAT=image/gif&WIDTH=10&HEIGHT=10", WmsErrorCode::InvalidFormat},
        {"&LAYERS=map&STYLES=&WIDTH=10&HEIGHT=10", WmsErrorCode::MissingParameterValue},
        {"&LAYERS=map&STYLES=&FORMAT=image/png&WIDTH=0&HEIGHT=10", WmsErrorCode::InvalidParameterValue},
        {"&LAYERS=map&STYLES=&FORMAT=image/png&WIDTH=2049&HEIGHT=10", WmsErrorCode::InvalidParameterValue},
        {"&LAYERS=map&STYLES=&FORMAT=image/png&WIDTH=10&HEIGHT=99999999999999999999", WmsErrorCode::InvalidParameterValue},
        {"&LAYERS=map&STYLES=&FORMAT=image/png&WIDTH=-5&HEIGHT=10", WmsErrorCode::InvalidParameterValue},
        {"&LAYERS=map&STYLES=&FORMAT=image/png&WIDTH=10.5&HEIGHT=10", WmsErrorCode::InvalidParameterValue},
        {"&LAYERS=map&STYLES=&FORMAT=image/png&WIDTH=10", WmsErrorCode::MissingParameterValue},
        {good + "&BGCOLOR=white", WmsErrorCode::InvalidParameterValue},
        {good + "&BGCOLOR=0xFFFFFG", WmsErrorCode::InvalidParameterValue},
        {good + "&TRANSPARENT=yes", WmsErrorCode::InvalidParameterValue},
    };
    for (const Case& c : cases) {
        WmsQuery query;
        WmsError error;
        EXPECT_FALSE(ParseWmsQuery(Query(head + c.change), query, error)) << c.change;
        EXPECT_EQ(error.code, c.code) << c.change << ": " << error.message;
    }
    WmsQuery query;
    WmsError error;
    EXPECT_TRUE(ParseWmsQuery(Query(head + good), query, error)) << error.message;
}

TEST(WmsQuery, WritesErrorsInTheDialectOfTheRequest) {
    WmsQuery query;
    WmsError error;
    EXPECT_FALSE(ParseWmsQuery(Query("SERVICE=WMS&VERSION=1.1.1&REQUEST=GetMap&LAYERS=nope"), query, error));
    EXPECT_EQ(error.version, WmsVersion::V111);
    EXPECT_FALSE(ParseWmsQuery(Query("SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=nope"), query, error));
    EXPECT_EQ(error.version, WmsVersion::V130);
}

}  // namespace
