#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "serve/operations/access_log.h"
#include "serve/operations/content_stamp.h"
#include "serve/operations/http_caching.h"
#include "serve/http/http_exchange.h"
#include "serve/operations/public_url.h"
#include "serve/operations/service_metrics.h"

// What an operator sees of zarvo-serve around its routes: probes
// (/healthz, /readyz, /metrics), validators and caching headers on maps
// and capabilities of the WMS and the WMTS, WMTS tiles among the maps
// (304 for a known entity tag, without drawing), CORS,
// the access log and the request metrics. Transport-free: it wraps the
// routes' handler in another.
struct ServiceFrontSettings {
    AddressPolicy address;
    CachePolicy cache;
    ContentStamp stamp;
    std::string tiles;    // the tile source, for /readyz
    int32_t maxZoom = 0;  // the deepest zoom drawn: which WMTS tiles exist
    // What the capabilities say besides the tiles' credits: the bytes of
    // --service-metadata's file, "" for the built-in texts.
    std::string description;
    std::string version;  // the server's: its encoders shape the answers too
};

class ServiceFront {
public:
    // `gauges` is read for /metrics; `log` may be null (no access log).
    ServiceFront(ServiceFrontSettings settings, HttpHandler routes, AccessLog* log,
                 std::function<MetricsGauges()> gauges);

    HttpHandler Handler();

    // An answer the transport gave without the handler: counted and logged
    // like the others; overload also goes to standard error, at most one
    // line a second.
    void Refused(const HttpRequest* request, int status);

    // The entity tag of a WMS or WMTS request's answer, or "" for a request
    // that is no valid GetMap, GetTile or GetCapabilities (its answer is an
    // error).
    std::string EntityTag(const HttpRequest& request) const;

private:
    HttpAnswer Answer(const HttpRequest& request);
    HttpAnswer Probe(std::string_view path) const;

    const ServiceFrontSettings settings;
    const HttpHandler routes;
    AccessLog* const log;
    const std::function<MetricsGauges()> gauges;
    ServiceMetrics metrics;
    // Refusals for load not yet reported, and when the last report went out
    // (the transport calls Refused from its one event-loop thread).
    uint64_t unreportedShed = 0;
    std::chrono::steady_clock::time_point lastShedReport;
};
