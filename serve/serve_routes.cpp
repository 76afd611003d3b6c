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

// One line on standard error: the request and the report's text, which
// names the tile or the reason.
void ReportFailure(const HttpRequest& request, const WmsAnswer& wms) {
    size_t open = wms.body.find("<ServiceException");
    while (open != std::string::npos && wms.body.compare(open, 18, "<ServiceException>") != 0 &&
           wms.body.compare(open, 18, "<ServiceException ") != 0) {
        open = wms.body.find("<ServiceException", open + 1);
    }
    const size_t start = open == std::string::npos ? open : wms.body.find('>', open);
    const size_t end = start == std::string::npos ? start : wms.body.find("</ServiceException>", start);
    const std::string why =
        end == std::string::npos ? std::string("(no report)") : wms.body.substr(start + 1, end - start - 1);
    std::string target = request.target.substr(0, 512);
    for (char& c : target) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    std::fprintf(stderr, "zarvo-serve: %d for %s %s: %s\n", wms.status, request.peer.c_str(), target.c_str(),
                 why.c_str());
}

}  // namespace

ForwardingHeaders ForwardingHeadersOf(const HttpRequest& request) {
    auto value = [&](const char* name) {
        const std::string* header = request.Header(name);
        return header ? *header : std::string();
    };
    return {value("Host"), value("Forwarded"), value("X-Forwarded-Proto"), value("X-Forwarded-Host"),
            value("X-Forwarded-Prefix")};
}

HttpHandler ServeRoutes::Handler() const {
    HttpHandler handler;
    handler.heavy = [](const HttpRequest& request) {
        return request.Path() == "/wms" && DrawsMap(ParseQueryString(request.Query()));
    };
    handler.answer = [this](const HttpRequest& request) {
        const std::string_view path = request.Path();
        if (path == "/wms") {
            const std::string base = PublicBase(address, ForwardingHeadersOf(request));
            WmsAnswer wms = service.Answer(ParseQueryString(request.Query()), base + "wms?",
                                           request.arrived + kMapDeadline);
            HttpAnswer answer;
            answer.status = wms.status;
            answer.headers.emplace_back("Content-Type", wms.contentType);
            if (wms.zoom > 0) {
                answer.headers.emplace_back("X-Zarvo-Zoom", std::to_string(wms.zoom));
                answer.headers.emplace_back("X-Zarvo-Tiles", std::to_string(wms.tiles));
            }
            if (!wms.serverTiming.empty()) answer.headers.emplace_back("Server-Timing", wms.serverTiming);
            // The service's own failures (tiles, memory, the plug-in), for the operator.
            if (wms.status >= 500) ReportFailure(request, wms);
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
