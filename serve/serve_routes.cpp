#include "serve/serve_routes.h"

#include <strings.h>

#include <cstdio>

#include "serve/map_renderer.h"
#include "serve/tile_cache.h"
#include "serve/web_files.h"
#include "serve/wms_service.h"
#include "serve/wmts_service.h"

namespace {

// A GetMap or a WMTS tile is answered within this of its arrival, 504 when its tiles are
// not there by then; longer than a batch of tile fetches may take.
constexpr std::chrono::seconds kMapDeadline(15);

// The Host header names the address the client used; it goes into the
// capabilities only when it looks like one.
std::string ServiceBase(const HttpRequest& request, const std::string& fallback) {
    const std::string* header = request.Header("Host");
    const std::string host = header ? *header : std::string();
    bool plausible = !host.empty() && host.size() <= 255;
    for (char c : host) {
        plausible = plausible && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                  c == '.' || c == '-' || c == ':' || c == '[' || c == ']');
    }
    return "http://" + (plausible ? host : fallback);
}

std::string StatsJson(const TileCache& cache, const MapRenderer& renderer) {
    const TileCacheStats s = cache.Stats();
    char text[512];
    std::snprintf(text, sizeof text,
                  "{\"dataRequests\":%llu,\"tileHits\":%llu,\"tilesFetched\":%llu,\"tilesFailed\":%llu,"
                  "\"sharedWaits\":%llu,\"cachedTiles\":%zu,\"cachedBytes\":%zu}\n",
                  static_cast<unsigned long long>(renderer.DataRequests()), static_cast<unsigned long long>(s.hits),
                  static_cast<unsigned long long>(s.fetched), static_cast<unsigned long long>(s.failed),
                  static_cast<unsigned long long>(s.sharedWaits), s.tiles, s.bytes);
    return text;
}

// Drawing a map takes a worker; capabilities and errors are answered at once.
bool Asks(const QueryParameters& parameters, const char* operation) {
    for (const auto& [name, value] : parameters) {
        if (strcasecmp(name.c_str(), "REQUEST") == 0) return strcasecmp(value.c_str(), operation) == 0;
    }
    return false;
}

constexpr std::string_view kWmtsRest = "/wmts/1.0.0/";

bool DrawsMap(const HttpRequest& request) {
    const std::string_view path = request.Path();
    if (path == "/wms") return Asks(ParseQueryString(request.Query()), "GetMap");
    if (path == "/wmts") return Asks(ParseQueryString(request.Query()), "GetTile");
    return path.rfind(kWmtsRest, 0) == 0 && path.substr(kWmtsRest.size()) != "WMTSCapabilities.xml";
}

HttpAnswer AnswerOf(WmsAnswer wms) {
    HttpAnswer answer;
    answer.status = wms.status;
    answer.headers.emplace_back("Content-Type", wms.contentType);
    if (wms.zoom > 0) answer.headers.emplace_back("X-Zarvo-Zoom", std::to_string(wms.zoom));
    if (!wms.serverTiming.empty()) answer.headers.emplace_back("Server-Timing", wms.serverTiming);
    answer.body = std::move(wms.body);
    return answer;
}

}  // namespace

HttpHandler ServeRoutes::Handler() const {
    HttpHandler handler;
    handler.heavy = [](const HttpRequest& request) { return DrawsMap(request); };
    handler.answer = [this](const HttpRequest& request) {
        const std::string_view path = request.Path();
        if (path == "/wms") {
            return AnswerOf(service.Answer(ParseQueryString(request.Query()),
                                           ServiceBase(request, fallbackHost) + "/wms?",
                                           request.arrived + kMapDeadline));
        }
        if (path == "/wmts") {
            return AnswerOf(tiles.AnswerQuery(ParseQueryString(request.Query()), ServiceBase(request, fallbackHost),
                                              request.arrived + kMapDeadline));
        }
        if (path.rfind(kWmtsRest, 0) == 0) {
            std::string rest;
            if (!PercentDecode(path.substr(kWmtsRest.size()), false, rest)) rest = std::string(path.substr(kWmtsRest.size()));
            return AnswerOf(tiles.AnswerPath(rest, ServiceBase(request, fallbackHost), request.arrived + kMapDeadline));
        }
        if (path == "/stats") {
            HttpAnswer answer;
            answer.headers.emplace_back("Content-Type", "application/json");
            answer.body = StatsJson(cache, renderer);
            return answer;
        }
        if (webRoot.empty()) return HttpAnswer::Text(404, "The map page was not built with this server (see --web).\n");
        return WebFileAnswer(webRoot, path);
    };
    return handler;
}
