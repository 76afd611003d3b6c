#include "serve/front/service_front.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "serve/operations/readiness.h"
#include "serve/front/serve_routes.h"
#include "serve/page/web_files.h"
#include "serve/wms/wms_query.h"
#include "serve/wmts/wmts_request.h"
#include "serve/drawing/tile_matrix_sets.h"

namespace {

std::string HeaderOr(const HttpRequest& request, std::string_view name) {
    const std::string* value = request.Header(name);
    return value ? *value : std::string();
}

const std::string* AnswerHeader(const HttpAnswer& answer, std::string_view name) {
    for (const auto& [key, value] : answer.headers) {
        if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) return &value;
    }
    return nullptr;
}

void Add(HttpAnswer& answer, const HeaderList& headers) {
    answer.headers.insert(answer.headers.end(), headers.begin(), headers.end());
}

constexpr std::string_view kWmtsRest = "/wmts/1.0.0/";
constexpr std::string_view kWmtsCapabilities = "WMTSCapabilities.xml";

Operation OperationOf(const HttpRequest& request) {
    const std::string_view path = request.Path();
    if (path == "/healthz" || path == "/readyz" || path == "/metrics") return Operation::Probe;
    if (path.rfind(kWmtsRest, 0) == 0) {
        return path.substr(kWmtsRest.size()) == kWmtsCapabilities ? Operation::GetCapabilities : Operation::GetTile;
    }
    if (path != "/wms" && path != "/wmts") return Operation::Page;
    for (const auto& [name, value] : ParseQueryString(request.Query())) {
        if (strcasecmp(name.c_str(), "REQUEST") != 0) continue;
        if (strcasecmp(value.c_str(), "GetMap") == 0) return Operation::GetMap;
        if (strcasecmp(value.c_str(), "GetCapabilities") == 0) return Operation::GetCapabilities;
        if (strcasecmp(value.c_str(), "GetTile") == 0) return Operation::GetTile;
    }
    return Operation::Other;
}

int64_t HeaderNumber(const HttpAnswer& answer, std::string_view name) {
    const std::string* value = AnswerHeader(answer, name);
    return value ? std::strtoll(value->c_str(), nullptr, 10) : 0;
}

}  // namespace

ServiceFront::ServiceFront(ServiceFrontSettings settings, HttpHandler routes, AccessLog* log,
                           std::function<MetricsGauges()> gauges)
    : settings(std::move(settings)), routes(std::move(routes)), log(log), gauges(std::move(gauges)) {}

std::string ServiceFront::EntityTag(const HttpRequest& request) const {
    const std::string_view path = request.Path();
    std::string canonical;
    bool capabilities = false;
    if (path == "/wms") {
        const QueryParameters parameters = ParseQueryString(request.Query());
        WmsQuery query;
        WmsError error;
        if (!ParseWmsQuery(parameters, query, error)) return "";
        capabilities = query.operation == WmsOperation::GetCapabilities;
        canonical = "wms?" + CanonicalQuery(parameters);
    } else if (path == "/wmts" || path.rfind(kWmtsRest, 0) == 0) {
        WmtsRequest wmts;
        WmtsError error;
        const int32_t highest = HighestTileMatrix(settings.maxZoom);
        if (path == "/wmts") {
            const QueryParameters parameters = ParseQueryString(request.Query());
            if (!ParseWmtsQuery(parameters, highest, wmts, error)) return "";
            canonical = "wmts?" + CanonicalQuery(parameters);
        } else {
            std::string rest;
            if (!PercentDecode(path.substr(kWmtsRest.size()), false, rest)) return "";
            if (!ParseWmtsPath(rest, highest, wmts, error)) return "";
            canonical = "wmts/1.0.0/" + rest;
        }
        capabilities = wmts.operation == WmtsOperation::GetCapabilities;
    } else {
        return "";
    }
    // Capabilities name the address they were asked at and the service's
    // texts; maps and tiles do neither.
    const std::string base = capabilities ? PublicBase(settings.address, ForwardingHeadersOf(request)) : "";
    const std::string_view description = capabilities ? std::string_view(settings.description) : std::string_view();
    return StrongEtag({canonical, base, description, settings.stamp.plugin, settings.stamp.tiles,
                       settings.stamp.placement, settings.version});
}

HttpHandler ServiceFront::Handler() {
    HttpHandler handler;
    handler.heavy = [this](const HttpRequest& request) {
        if (request.Path() == "/readyz") return true;  // may wait for the tile server
        const std::string* match = request.Header("If-None-Match");
        if (match != nullptr) {
            const std::string tag = EntityTag(request);
            if (!tag.empty() && IfNoneMatchHits(*match, tag)) return false;  // 304 at once
        }
        return routes.heavy(request);
    };
    handler.answer = [this](const HttpRequest& request) { return Answer(request); };
    return handler;
}

HttpAnswer ServiceFront::Probe(std::string_view path) const {
    HttpAnswer answer;
    if (path == "/healthz") {
        answer = HttpAnswer::Text(200, "alive\n");
    } else if (path == "/readyz") {
        // The plug-in is loaded before the server listens; the tiles may come and go.
        std::string why;
        answer = TileSourceReachable(settings.tiles, why) ? HttpAnswer::Text(200, "ready\n")
                                                          : HttpAnswer::Text(503, "not ready: " + why + "\n");
    } else {
        answer.headers.emplace_back("Content-Type", "text/plain; version=0.0.4; charset=utf-8");
        answer.body = metrics.Render(gauges());
    }
    Add(answer, UncacheableHeaders());
    return answer;
}

void ServiceFront::Refused(const HttpRequest* request, int status) {
    metrics.Count(request != nullptr ? OperationOf(*request) : Operation::Other, status, 0.0);
    if (log != nullptr) {
        AccessRecord record;
        record.time = std::chrono::system_clock::now();
        record.status = status;
        if (request != nullptr) {
            record.client = request->peer;
            record.method = request->method;
            record.target = request->target;
        }
        log->Write(record);
    }
    if (status != 503) return;
    ++unreportedShed;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastShedReport < std::chrono::seconds(1)) return;
    std::fprintf(stderr, "zarvo-serve: overloaded: %llu requests refused with 503 since the last report\n",
                 static_cast<unsigned long long>(unreportedShed));
    unreportedShed = 0;
    lastShedReport = now;
}

HttpAnswer ServiceFront::Answer(const HttpRequest& request) {
    // Counted from the request's arrival: the time it waited for a worker
    // is part of what its client waits.
    const auto now = std::chrono::steady_clock::now();
    const auto started = request.arrived.time_since_epoch().count() != 0 ? std::min(request.arrived, now) : now;
    const auto arrived = std::chrono::system_clock::now() -
                         std::chrono::duration_cast<std::chrono::system_clock::duration>(now - started);
    const std::string_view path = request.Path();
    const Operation operation = OperationOf(request);

    HttpAnswer answer;
    if (request.method == "OPTIONS") {
        answer.status = 204;
        answer.headers.emplace_back("Allow", "GET, HEAD, OPTIONS");
        Add(answer, PreflightHeaders(settings.cache, HeaderOr(request, "Access-Control-Request-Headers")));
    } else if (operation == Operation::Probe) {
        answer = Probe(path);
    } else {
        const std::string tag = EntityTag(request);
        const std::string* match = request.Header("If-None-Match");
        if (!tag.empty() && match != nullptr && IfNoneMatchHits(*match, tag)) {
            answer.status = 304;
        } else {
            answer = routes.answer(request);
        }
        if (!tag.empty() && (answer.status == 200 || answer.status == 304)) {
            Add(answer, CacheableHeaders(settings.cache, tag, settings.stamp.lastModified));
            if (operation == Operation::GetCapabilities && settings.address.publicUrl.empty()) {
                answer.headers.emplace_back("Vary", settings.address.trustProxy
                                                        ? "Host, Forwarded, X-Forwarded-Proto, X-Forwarded-Host, "
                                                          "X-Forwarded-Prefix"
                                                        : "Host");
            }
        } else if (answer.status >= 400) {
            Add(answer, UncacheableHeaders());
        }
        Add(answer, CorsHeaders(settings.cache));
    }

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    metrics.Count(operation, answer.status, seconds);
    if (log != nullptr) {
        AccessRecord record;
        record.time = arrived;
        record.client = request.peer;
        record.method = request.method;
        record.target = request.target;
        record.status = answer.status;
        std::error_code error;
        record.bytes = answer.file.empty() ? answer.body.size() : std::filesystem::file_size(answer.file, error);
        if (error) record.bytes = 0;
        record.milliseconds = seconds * 1000.0;
        record.zoom = static_cast<int32_t>(HeaderNumber(answer, "X-Zarvo-Zoom"));
        record.tiles = static_cast<size_t>(HeaderNumber(answer, "X-Zarvo-Tiles"));
        log->Write(record);
    }
    return answer;
}
