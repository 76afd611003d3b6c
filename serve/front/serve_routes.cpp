#include "serve/front/serve_routes.h"

#include <strings.h>

#include <cstdio>
#include <string_view>

#include "host/tile_cache.h"
#include "serve/drawing/map_renderer.h"
#include "serve/page/web_files.h"
#include "serve/wms/wms_service.h"
#include "serve/wmts/wmts_service.h"

namespace {

// A GetMap or a WMTS tile is answered within this of its arrival, 504
// when its tiles are not there by then; longer than a batch of tile
// fetches may take.
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

// The text between `open`'s end and `close` in a report, or "".
std::string Between(const std::string& body, std::string_view open, std::string_view close) {
    size_t at = body.find(open);
    // "<ServiceException" also starts "<ServiceExceptionReport".
    while (at != std::string::npos && at + open.size() < body.size() && body[at + open.size()] != '>' &&
           body[at + open.size()] != ' ') {
        at = body.find(open, at + 1);
    }
    const size_t start = at == std::string::npos ? at : body.find('>', at);
    const size_t end = start == std::string::npos ? start : body.find(close, start);
    return end == std::string::npos ? std::string() : body.substr(start + 1, end - start - 1);
}

// One line on standard error: the request and the report's text (a WMS
// service exception or a WMTS exception), which names the tile or the
// reason.
void ReportFailure(const HttpRequest& request, const WmsAnswer& wms) {
    std::string why = Between(wms.body, "<ServiceException", "</ServiceException>");
    if (why.empty()) why = Between(wms.body, "<ows:ExceptionText", "</ows:ExceptionText>");
    if (why.empty()) why = "(no report)";
    std::string target = request.target.substr(0, 512);
    for (char& c : target) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    std::fprintf(stderr, "zarvo-serve: %d for %s %s: %s\n", wms.status, request.peer.c_str(), target.c_str(),
                 why.c_str());
}

HttpAnswer AnswerOf(const HttpRequest& request, WmsAnswer wms) {
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
    handler.heavy = [](const HttpRequest& request) { return DrawsMap(request); };
    handler.answer = [this](const HttpRequest& request) {
        const std::string_view path = request.Path();
        if (path == "/wms") {
            const std::string base = PublicBase(address, ForwardingHeadersOf(request));
            return AnswerOf(request, service.Answer(ParseQueryString(request.Query()), base + "wms?",
                                                    request.arrived + kMapDeadline));
        }
        // The WMTS's addresses hang off the same base, without its '/'.
        if (path == "/wmts") {
            const std::string base = PublicBase(address, ForwardingHeadersOf(request));
            return AnswerOf(request, tiles.AnswerQuery(ParseQueryString(request.Query()),
                                                       base.substr(0, base.size() - 1),
                                                       request.arrived + kMapDeadline));
        }
        if (path.rfind(kWmtsRest, 0) == 0) {
            const std::string base = PublicBase(address, ForwardingHeadersOf(request));
            std::string rest;
            if (!PercentDecode(path.substr(kWmtsRest.size()), false, rest)) rest = path.substr(kWmtsRest.size());
            return AnswerOf(request, tiles.AnswerPath(rest, base.substr(0, base.size() - 1),
                                                      request.arrived + kMapDeadline));
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
