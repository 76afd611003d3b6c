// The service front: what it decides from the one value it reads a request
// into (304 without drawing, Vary, CORS, entity tags that follow the map
// drawn) and what it records of the request.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "serve/front/service_front.h"
#include "tests/support/scratch_directory.h"

namespace {

const std::string kMap =
    "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png&CRS=CRS:84&BBOX=0,0,45,45"
    "&HEIGHT=64&WIDTH=64";
const std::string kCapabilities = "/wms?SERVICE=WMS&REQUEST=GetCapabilities";
const char* const kTrustedVary = "Host, Forwarded, X-Forwarded-Proto, X-Forwarded-Host, X-Forwarded-Prefix";

// Stands in for the WMS and the WMTS: a map is drawn at zoom 3 from 4
// tiles, and its body is its width; capabilities are a document, anything
// else a report. Counts the maps drawn.
struct Doors {
    int drawn = 0;

    ProtocolHandler Handler() {
        return [this](const ServiceRequest& request, std::chrono::steady_clock::time_point) {
            DoorAnswer answer;
            answer.contentType = "text/xml";
            if (const MapRequest* map = request.Map()) {
                ++drawn;
                answer.contentType = "image/png";
                answer.body = std::to_string(map->width);
                answer.drawn = MapStatistics{};
                answer.drawn->zoom = 3;
                answer.drawn->tiles = 4;
            } else if (request.Capabilities()) {
                answer.body = "<capabilities/>";
            } else {
                answer.status = 400;
                answer.body = "<report/>";
            }
            return answer;
        };
    }
};

ServiceFrontSettings Settings() {
    ServiceFrontSettings settings;
    settings.address.fallbackHost = "127.0.0.1:8080";
    settings.stamp.plugin = "plugin-a";
    settings.stamp.tiles = TileSetStamp{"tiles-1", 784111777};
    settings.stamp.placement = "centres";
    settings.stamp.maxZoom = 6;
    settings.stamp.version = "1.0.0";
    settings.readiness = [] { return std::make_shared<const Readiness>(Readiness{false, "the tiles are away"}); };
    return settings;
}

HttpRequest Request(const std::string& target, const char* method = "GET",
                    std::vector<std::pair<std::string, std::string>> headers = {}) {
    HttpRequest request;
    request.method = method;
    request.target = target;
    request.headers = std::move(headers);
    request.headers.emplace_back("Host", "maps.example");
    request.headers.emplace_back("Origin", "https://app.example");
    request.peer = "192.0.2.7";
    return request;
}

// The values of every header of that name, joined by "; "; "" for none.
std::string Values(const HttpAnswer& answer, const std::string& name) {
    std::string values;
    for (const auto& [key, value] : answer.headers) {
        if (key != name) continue;
        values += (values.empty() ? "" : "; ") + value;
    }
    return values;
}

// The work of a request, run as the transport runs it.
struct Ran {
    bool heavy = false;
    HttpAnswer answer;
};

Ran Work(ServiceFront& front, const HttpRequest& request) {
    HttpWork work = front.Route(request);
    return Ran{work.heavy, work.answer()};
}

TEST(ServiceFront, AnswersAtOnceWhatNeedsNoDrawingAndSaysWhatItVariesBy) {
    enum class Sent { Nothing, OwnTag, WeakOwnTag, AnyTag, OtherTag, DateSince, DateBefore, DateAndOtherTag };
    struct Case {
        const char* what;
        std::function<void(ServiceFrontSettings&)> policy;
        const char* method;
        std::string target;
        Sent sent;
        int status;
        bool heavy;  // answered on a worker
        bool draws;
        const char* cacheControl;
        const char* vary;
        const char* origin;  // Access-Control-Allow-Origin
    };
    const auto plain = [](ServiceFrontSettings&) {};
    const auto trusting = [](ServiceFrontSettings& s) { s.address.trustProxy = true; };
    const auto fixed = [](ServiceFrontSettings& s) { s.address.publicUrl = "https://maps.example.org/"; };
    const auto anyOrigin = [](ServiceFrontSettings& s) { s.cache.corsOrigins = {"*"}; };
    const auto listed = [](ServiceFrontSettings& s) {
        s.cache.corsOrigins = {"https://other.example", "https://app.example"};
    };
    const auto unlisted = [](ServiceFrontSettings& s) { s.cache.corsOrigins = {"https://other.example"}; };
    const std::filesystem::path page = Scratch("page");
    std::filesystem::create_directories(page);
    std::ofstream(page / "index.html") << "<html></html>";
    const auto withPage = [page](ServiceFrontSettings& s) { s.webRoot = page.string(); };
    const std::string tile = "/wmts/1.0.0/map/default/WorldCRS84Quad/1/0/2.png";
    const char* const cached = "public, max-age=3600";
    const char* const pageCached = "public, max-age=300";
    const Case cases[] = {
        {"a map", plain, "GET", kMap, Sent::Nothing, 200, true, true, cached, "", ""},
        {"a map the client has", plain, "GET", kMap, Sent::OwnTag, 304, false, false, cached, "", ""},
        {"a weak form of its tag", plain, "HEAD", kMap, Sent::WeakOwnTag, 304, false, false, cached, "", ""},
        {"any tag", plain, "GET", kMap, Sent::AnyTag, 304, false, false, cached, "", ""},
        {"another tag", plain, "GET", kMap, Sent::OtherTag, 200, true, true, cached, "", ""},
        {"a map the client has by its date", plain, "GET", kMap, Sent::DateSince, 304, false, false, cached, "", ""},
        {"a map older than the tiles", plain, "GET", kMap, Sent::DateBefore, 200, true, true, cached, "", ""},
        {"a date with another tag", plain, "GET", kMap, Sent::DateAndOtherTag, 200, true, true, cached, "", ""},
        {"a WMTS tile the client has", plain, "GET", tile, Sent::OwnTag, 304, false, false, cached, "", ""},
        {"an XYZ tile in the format Accept takes", plain, "GET", "/tiles/map/WorldCRS84Quad/1/2/0", Sent::Nothing, 200,
         true, true, cached, "Accept", ""},
        {"one the client has", plain, "GET", "/tiles/map/WorldCRS84Quad/1/2/0", Sent::OwnTag, 304, false, false,
         cached, "Accept", ""},
        {"an XYZ tile by its extension", plain, "GET", "/tiles/map/WorldCRS84Quad/1/2/0@2x.webp", Sent::Nothing, 200,
         true, true, cached, "", ""},
        {"a TileJSON", plain, "GET", "/tiles/map/WorldCRS84Quad/tilejson.json", Sent::Nothing, 200, false, false,
         cached, "Host", ""},
        {"a tile of no level", plain, "GET", "/tiles/map/WorldCRS84Quad/9/0/0", Sent::AnyTag, 400, false, false,
         "no-store", "", ""},
        {"a map of no layer", plain, "GET", "/wms?LAYERS=roads&" + kMap.substr(5), Sent::AnyTag, 400, false, false,
         "no-store", "", ""},
        {"capabilities", plain, "GET", kCapabilities, Sent::Nothing, 200, false, false, cached, "Host", ""},
        {"capabilities the client has", plain, "GET", kCapabilities, Sent::OwnTag, 304, false, false, cached, "Host",
         ""},
        {"capabilities by their old name", plain, "GET", "/wms?SERVICE=WMS&REQUEST=capabilities&WMTVER=1.1.1",
         Sent::Nothing, 200, false, false, cached, "Host", ""},
        {"capabilities behind a trusted proxy", trusting, "GET", kCapabilities, Sent::Nothing, 200, false, false,
         cached, kTrustedVary, ""},
        {"capabilities at the operator's address", fixed, "GET", kCapabilities, Sent::Nothing, 200, false, false,
         cached, "", ""},
        {"a map for any origin", anyOrigin, "GET", kMap, Sent::Nothing, 200, true, true, cached, "", "*"},
        {"capabilities for a listed origin", listed, "GET", kCapabilities, Sent::Nothing, 200, false, false, cached,
         "Host; Origin", "https://app.example"},
        {"capabilities for an origin not listed", unlisted, "GET", kCapabilities, Sent::Nothing, 200, false, false,
         cached, "Host; Origin", ""},
        {"a preflight", listed, "OPTIONS", kMap, Sent::Nothing, 204, false, false, "", "Origin", "https://app.example"},
        {"a question about the server", listed, "OPTIONS", "*", Sent::Nothing, 204, false, false, "", "", ""},
        // Without CORS the service offers no OPTIONS.
        {"a preflight without CORS", plain, "OPTIONS", kMap, Sent::Nothing, 405, false, false, "", "", ""},
        {"OPTIONS * without CORS", plain, "OPTIONS", "*", Sent::Nothing, 405, false, false, "", "", ""},
        {"a probe", anyOrigin, "GET", "/healthz", Sent::Nothing, 200, false, false, "no-store", "", ""},
        // Answered from the last look at the tiles, taken off the event loop.
        {"the readiness probe", plain, "GET", "/readyz", Sent::Nothing, 503, false, false, "no-store", "", ""},
        {"an OGC API map in the format its Accept header chose", plain, "GET",
         "/ogcapi/collections/map/map?bbox=0,0,45,45&width=64&height=64", Sent::Nothing, 200, true, true, cached,
         "Accept", ""},
        {"an OGC API tile the client has", plain, "GET", "/ogcapi/collections/map/map/tiles/WorldCRS84Quad/1/0/2?f=png",
         Sent::OwnTag, 304, false, false, cached, "", ""},
        {"an OGC API document by its Accept header", plain, "GET", "/ogcapi/", Sent::Nothing, 200, false, false, cached,
         "Host; Accept", ""},
        {"an OGC API document by f, behind a trusted proxy", trusting, "GET", "/ogcapi/collections?f=json",
         Sent::Nothing, 200, false, false, cached, kTrustedVary, ""},
        {"a file of the page", withPage, "GET", "/", Sent::Nothing, 200, false, false, pageCached, "", ""},
        {"a file of the page the client has", withPage, "GET", "/", Sent::OwnTag, 304, false, false, pageCached, "",
         ""},
        {"a file of the page the client has by its date", withPage, "GET", "/", Sent::DateSince, 304, false, false,
         pageCached, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServiceFrontSettings settings = Settings();
        c.policy(settings);
        Doors doors;
        ServiceFront front(settings, doors.Handler(), nullptr, [] { return MetricsGauges{}; });
        const std::string own = Values(Work(front, Request(c.target)).answer, "ETag");
        const char* const sent[] = {nullptr, own.c_str(), nullptr, "*", "\"other\"", nullptr, nullptr, "\"other\""};
        std::vector<std::pair<std::string, std::string>> headers;
        if (c.sent == Sent::WeakOwnTag) headers.emplace_back("If-None-Match", "W/" + own);
        if (sent[static_cast<int>(c.sent)] != nullptr) headers.emplace_back("If-None-Match", sent[static_cast<int>(c.sent)]);
        if (c.sent == Sent::DateSince || c.sent == Sent::DateAndOtherTag) {
            headers.emplace_back("If-Modified-Since", HttpDate(std::time(nullptr)));
        }
        if (c.sent == Sent::DateBefore) headers.emplace_back("If-Modified-Since", "Sun, 06 Nov 1994 08:49:36 GMT");
        const int drawnBefore = doors.drawn;
        const Ran ran = Work(front, Request(c.target, c.method, headers));
        EXPECT_EQ(ran.answer.status, c.status);
        EXPECT_EQ(ran.heavy, c.heavy);
        EXPECT_EQ(doors.drawn - drawnBefore, c.draws ? 1 : 0);
        EXPECT_EQ(Values(ran.answer, "Cache-Control"), c.cacheControl);
        EXPECT_EQ(Values(ran.answer, "ETag"), std::string(c.cacheControl).rfind("public", 0) == 0 ? own : "");
        EXPECT_EQ(Values(ran.answer, "Vary"), c.vary);
        EXPECT_EQ(Values(ran.answer, "Access-Control-Allow-Origin"), c.origin);
    }
}

TEST(ServiceFront, TagsTwoRequestsAlikeOnlyWhenTheyAreDrawnAlike) {
    const std::string map = kMap.substr(0, kMap.size() - std::string("&WIDTH=64").size());
    const auto same = [](ServiceFrontSettings&) {};
    struct Case {
        const char* what;
        std::string first, second;
        std::function<void(ServiceFrontSettings&)> secondSettings;
        bool alike;
        const char* secondAccept = nullptr;
    } cases[] = {
        {"the same map asked in another order and case", map + "&WIDTH=100",
         "/wms?width=100&" + map.substr(5), same, true},
        {"the same box in 1.1.1's axis order", map + "&WIDTH=100",
         "/wms?SERVICE=WMS&VERSION=1.1.1&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png&SRS=EPSG:4326"
         "&BBOX=0,0,45,45&HEIGHT=64&WIDTH=100",
         same, true},
        {"an XYZ tile and the WMTS tile of its row and column", "/tiles/map/WorldCRS84Quad/1/2/0.png",
         "/wmts/1.0.0/map/default/WorldCRS84Quad/1/0/2.png", same, true},
        {"a tile by its extension and by Accept", "/tiles/map/WorldCRS84Quad/1/2/0.webp",
         "/tiles/map/WorldCRS84Quad/1/2/0", same, true, "image/webp"},
        {"a tile Accept asks in another format", "/tiles/map/WorldCRS84Quad/1/2/0", "/tiles/map/WorldCRS84Quad/1/2/0",
         same, false, "image/webp"},
        {"@2x and the twin's tile", "/tiles/map/WorldCRS84Quad/1/2/0@2x.png",
         "/wmts/1.0.0/map/default/WorldCRS84Quad512/1/0/2.png", same, true},
        {"a tile and its twin", "/tiles/map/WorldCRS84Quad/1/2/0.png", "/tiles/map/WorldCRS84Quad/1/2/0@2x.png", same,
         false},
        {"a WMTS tile and the GetMap of its box", "/wmts/1.0.0/map/default/WorldCRS84Quad/1/0/2.png",
         "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png&CRS=CRS:84"
         "&BBOX=0,0,90,90&WIDTH=256&HEIGHT=256",
         same, true},
        // The first of a repeated parameter counts: these are two sizes.
        {"a repeated width in either order", map + "&WIDTH=100&WIDTH=200", map + "&WIDTH=200&WIDTH=100", same, false},
        // Decoded and joined, both would read ...&BC=1&BGCOLOR=0x000000&...
        {"a parameter hidden in another's value", map + "&WIDTH=100&BC=1%26BGCOLOR%3D0x000000",
         map + "&WIDTH=100&BC=1&BGCOLOR=0x000000", same, false},
        {"a box a bit apart", map + "&WIDTH=100", map.substr(0, map.find("45,45")) + "45,45.000000000000007" +
         map.substr(map.find("45,45") + 5) + "&WIDTH=100", same, false},
        // Decoded and joined, both would read ...&BBOX=10,10,20,20&...: the first BBOX is drawn.
        {"a box hidden in another parameter's value", map + "&WIDTH=100&AAA=x%26BBOX%3D10,10,20,20",
         map.substr(0, map.find("0,0,45,45")) + "10,10,20,20" + map.substr(map.find("0,0,45,45") + 9) +
             "&WIDTH=100&AAA=x",
         same, false},
        {"the plug-in's own positions", map + "&WIDTH=100", map + "&WIDTH=100",
         [](ServiceFrontSettings& s) { s.stamp.placement = "plugin-grid"; }, false},
        {"a deeper tile set", map + "&WIDTH=100", map + "&WIDTH=100",
         [](ServiceFrontSettings& s) { s.stamp.maxZoom = 7; }, false},
        // The tiles as the service finds them now, not as they were at its start.
        {"tiles replaced since the start", map + "&WIDTH=100", map + "&WIDTH=100",
         [](ServiceFrontSettings& s) {
             s.tilesNow = [] { return std::make_shared<const TileSetStamp>(TileSetStamp{"tiles-2", 784111778}); };
         },
         false},
        {"an opaque OGC API map and the GetMap of its box",
         "/ogcapi/collections/map/map?bbox=0,0,45,45&width=100&height=64&transparent=false", map + "&WIDTH=100", same,
         true},
        {"an OGC API map clear off the tiles and the opaque GetMap",
         "/ogcapi/collections/map/map?bbox=0,0,45,45&width=100&height=64", map + "&WIDTH=100", same, false},
        {"an opaque OGC API tile and the WMTS tile",
         "/ogcapi/collections/map/map/tiles/WorldCRS84Quad/1/0/2?transparent=false",
         "/wmts/1.0.0/map/default/WorldCRS84Quad/1/0/2.png", same, true},
        {"an OGC API document by f and by the Accept header", "/ogcapi/collections?f=json", "/ogcapi/collections",
         same, true},
        {"an OGC API document in its two formats", "/ogcapi/collections?f=json", "/ogcapi/collections?f=html", same,
         false},
        {"capabilities in another version", kCapabilities, kCapabilities + "&VERSION=1.1.1", same, false},
        {"capabilities with the operator's other texts", kCapabilities, kCapabilities,
         [](ServiceFrontSettings& s) { s.stamp.description = "{\"title\": \"Maps\"}"; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Doors doors;
        ServiceFrontSettings settings = Settings();
        ServiceFront first(settings, doors.Handler(), nullptr, [] { return MetricsGauges{}; });
        c.secondSettings(settings);
        ServiceFront second(settings, doors.Handler(), nullptr, [] { return MetricsGauges{}; });
        const std::string tag = Values(Work(first, Request(c.first)).answer, "ETag");
        ASSERT_FALSE(tag.empty());
        std::vector<std::pair<std::string, std::string>> headers = {{"If-None-Match", tag}};
        if (c.secondAccept != nullptr) headers.emplace_back("Accept", c.secondAccept);
        const Ran ran = Work(second, Request(c.second, "GET", headers));
        // Only a request drawn alike is told it has the answer already.
        EXPECT_EQ(ran.answer.status, c.alike ? 304 : 200);
        EXPECT_EQ(Values(ran.answer, "ETag") == tag, c.alike);
    }
}

TEST(ServiceFront, TellsTheOperatorOfTheServicesOwnFailuresOnly) {
    // A map fails for want of a tile; anything else is refused as the
    // client's mistake (501), which is no news for the operator.
    const ProtocolHandler doors = [](const ServiceRequest& request, std::chrono::steady_clock::time_point) {
        DoorAnswer answer;
        answer.status = 501;
        answer.body = "<report>not this</report>";
        if (request.Map() != nullptr) {
            answer.status = 502;
            answer.failure = MapFailure{RenderFailure::TileMissing, "cannot have tile http://t/map/2/1/1.png\nforged"};
        }
        return answer;
    };
    ServiceFront front(Settings(), doors, nullptr, [] { return MetricsGauges{}; });
    testing::internal::CaptureStderr();
    Work(front, Request("/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetFeatureInfo"));
    Work(front, Request(kMap));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "zarvo-serve: 502 for 192.0.2.7 " + kMap + ": cannot have tile http://t/map/2/1/1.png?forged\n");
}

TEST(ServiceFront, CountsARequestsTimeFromItsArrivalAndLogsTheMapsZoom) {
    const std::string path = Scratch("access.log").string();
    std::filesystem::remove(path);
    std::string error;
    std::unique_ptr<AccessLog> log = AccessLog::Open(path, error);
    ASSERT_TRUE(log) << error;
    Doors doors;
    ServiceFront front(Settings(), doors.Handler(), log.get(), [] { return MetricsGauges{}; });
    HttpRequest request = Request(kMap);
    // It waited three seconds for a worker: its client waited them too.
    request.arrived = std::chrono::steady_clock::now() - std::chrono::seconds(3);
    EXPECT_EQ(Work(front, request).answer.status, 200);
    log.reset();
    std::ifstream in(path);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    std::istringstream fields(line);
    std::string time, client, method, target, zoom, tiles;
    int status = 0;
    size_t bytes = 0;
    double milliseconds = 0;
    fields >> time >> client >> method >> target >> status >> bytes >> milliseconds >> zoom >> tiles;
    EXPECT_EQ(status, 200) << line;
    EXPECT_EQ(bytes, 2u) << line;
    EXPECT_GE(milliseconds, 3000) << line;
    EXPECT_EQ(zoom + " " + tiles, "3 4") << line;
}

}  // namespace
