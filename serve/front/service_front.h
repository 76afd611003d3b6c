#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drawing/map_cost.h"
#include "serve/answers/door_answer.h"
#include "serve/front/service_request.h"
#include "serve/http/http_exchange.h"
#include "serve/operations/access_log.h"
#include "serve/operations/content_stamp.h"
#include "serve/operations/http_caching.h"
#include "serve/operations/public_url.h"
#include "serve/operations/readiness.h"
#include "serve/operations/service_metrics.h"

// The front door of zarvo-serve, free of any transport: each request is
// read once into a ServiceRequest, which decides its work (drawing a map
// takes a worker, with its deadline and what it is expected to cost; a
// known entity tag gets 304 at once, without drawing) and its answer: the
// WMS, the WMTS, the XYZ door and the OGC API behind `doors`, probes
// (/healthz, /readyz, /metrics), the counters at /stats, the map page's
// files; validators and caching headers on maps, documents and the page,
// CORS, the access log and the request metrics around them.
struct ServiceFrontSettings {
    AddressPolicy address;
    CachePolicy cache;
    ContentStamp stamp;
    // The tile source's part of the stamp as it is now; null: the stamp's.
    std::function<std::shared_ptr<const TileSetStamp>()> tilesNow;
    // What drawing a map would take; null: its pixels alone tell.
    std::function<MapCost(const MapRequest&)> mapCost;
    // The last look at the tile source, for /readyz; null: always ready.
    // It must not block: the event loop asks.
    std::function<std::shared_ptr<const Readiness>()> readiness;
    std::string webRoot;  // the map page's files; empty: none
    std::vector<std::string> layers = ServedLayers();  // those the tiles hold
};

// Answers a read WMS, WMTS or XYZ request; a map not drawn by `deadline`
// fails.
using ProtocolHandler =
    std::function<DoorAnswer(const ServiceRequest& request, std::chrono::steady_clock::time_point deadline)>;

class ServiceFront {
public:
    // `gauges` is read for /metrics and /stats; `log` may be null (no
    // access log).
    ServiceFront(ServiceFrontSettings settings, ProtocolHandler doors, AccessLog* log,
                 std::function<MetricsGauges()> gauges);

    // The transport's handler: Route on every request.
    HttpHandler Handler();
    // Reads the request and turns it into its work. Called on the event
    // loop, once per request; blocks on nothing.
    HttpWork Route(const HttpRequest& request);

    // An answer the transport gave without the handler: counted and logged
    // like the others; overload also goes to standard error, at most one
    // line a second.
    void Refused(const HttpRequest* request, int status);

private:
    struct Work;
    using Clock = std::chrono::steady_clock;

    HttpAnswer Answer(const Work& work);
    HttpAnswer Dispatch(const Work& work, std::optional<MapStatistics>& drawn);
    HttpAnswer Probe(Door door) const;
    HttpAnswer Page(const Work& work) const;
    WorkCost CostOf(const MapRequest& map) const;
    // When an answer drawn from `tiles` last changed: 0 when unknown.
    std::time_t LastModified(const TileSetStamp& tiles) const;
    void CountRefusal(Operation operation, AccessRecord record, int status);
    void Count(Operation operation, const AccessRecord& record, double seconds);

    const ServiceFrontSettings settings;
    const ProtocolHandler doors;
    AccessLog* const log;
    const std::function<MetricsGauges()> gauges;
    const ServiceOffer offer;
    const std::shared_ptr<const TileSetStamp> startTiles;  // when the tile source is not watched
    ServiceMetrics metrics;
    // Refusals for load not yet reported, and when the last report went out
    // (the transport refuses on its one event-loop thread).
    uint64_t unreportedShed = 0;
    Clock::time_point lastShedReport;
};
