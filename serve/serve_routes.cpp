#include "serve/serve_routes.h"

#include <strings.h>

#include <cstdio>

#include "serve/map_renderer.h"
#include "serve/tile_cache.h"
#include "serve/web_files.h"
#include "serve/wms_service.h"

namespace {

// A GetMap is answered within this of its arrival, 504 when its tiles are
// not there by then; longer than a batch of tile fetches may take.
constexpr std::chrono::seconds kMapDeadline(15);

// The Host header names the address the client used; it goes into the
// capabilities only when it looks like one.
std::string ServiceUrl(const HttpRequest& request, const std::string& fallback) {
    const std::string* header = request.Header("Host");
    const std::string host = header ? *header : std::string();
    bool plausible = !host.empty() && host.size() <= 255;
    for (char c : host) {
        plausible = plausible && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                  c == '.' || c == '-' || c == ':' || c == '[' || c == ']');
    }
    return "http://" + (plausible ? host : fallback) + "/wms?";
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
bool DrawsMap(const QueryParameters& parameters) {
    for (const auto& [name, value] : parameters) {
        if (strcasecmp(name.c_str(), "REQUEST") == 0) return strcasecmp(value.c_str(), "GetMap") == 0;
    }
    return false;
}

}  // namespace

HttpHandler ServeRoutes::Handler() const {
    HttpHandler handler;
    handler.heavy = [](const HttpRequest& request) {
        return request.Path() == "/wms" && DrawsMap(ParseQueryString(request.Query()));
    };
    handler.answer = [this](const HttpRequest& request) {
        const std::string_view path = request.Path();
        if (path == "/wms") {
            WmsAnswer wms = service.Answer(ParseQueryString(request.Query()), ServiceUrl(request, fallbackHost),
                                           request.arrived + kMapDeadline);
            HttpAnswer answer;
            answer.status = wms.status;
            answer.headers.emplace_back("Content-Type", wms.contentType);
            if (wms.zoom > 0) answer.headers.emplace_back("X-Zarvo-Zoom", std::to_string(wms.zoom));
            if (!wms.serverTiming.empty()) answer.headers.emplace_back("Server-Timing", wms.serverTiming);
            answer.body = std::move(wms.body);
            return answer;
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
