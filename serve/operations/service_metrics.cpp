#include "serve/operations/service_metrics.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

void Append(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string& text, const char* format, ...) {
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    const int n = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (n > 0) text.append(line, static_cast<size_t>(std::min<int>(n, sizeof line - 1)));
}

void Family(std::string& text, const char* name, const char* type, const char* help) {
    Append(text, "# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
}

void Single(std::string& text, const char* name, const char* type, const char* help, uint64_t value) {
    Family(text, name, type, help);
    Append(text, "%s %llu\n", name, static_cast<unsigned long long>(value));
}

}  // namespace

const char* OperationName(Operation operation) {
    switch (operation) {
        case Operation::GetMap: return "GetMap";
        case Operation::GetCapabilities: return "GetCapabilities";
        case Operation::GetTile: return "GetTile";
        case Operation::Page: return "page";
        case Operation::Probe: return "probe";
        case Operation::Other: break;
    }
    return "other";
}

std::string CountersJson(const MetricsGauges& g) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "{\"dataRequests\":%llu,\"tileHits\":%llu,\"tilesFetched\":%llu,\"tilesFailed\":%llu,"
                  "\"sharedWaits\":%llu,\"cachedTiles\":%llu,\"cachedBytes\":%llu}\n",
                  static_cast<unsigned long long>(g.dataRequests), static_cast<unsigned long long>(g.cacheHits),
                  static_cast<unsigned long long>(g.tileFetches), static_cast<unsigned long long>(g.tileFetchFailures),
                  static_cast<unsigned long long>(g.cacheSharedWaits), static_cast<unsigned long long>(g.cacheTiles),
                  static_cast<unsigned long long>(g.cacheBytes));
    return text;
}

void ServiceMetrics::Count(Operation operation, int status, double seconds) {
    PerOperation& o = operations[static_cast<size_t>(operation)];
    if (status >= kLowestStatus && status < kLowestStatus + kStatuses) {
        o.byStatus[static_cast<size_t>(status - kLowestStatus)].fetch_add(1, std::memory_order_relaxed);
    }
    size_t bucket = 0;
    while (bucket < kBuckets.size() && seconds > kBuckets[bucket]) ++bucket;
    o.buckets[bucket].fetch_add(1, std::memory_order_relaxed);
    o.microseconds.fetch_add(static_cast<uint64_t>(seconds * 1e6), std::memory_order_relaxed);
    o.count.fetch_add(1, std::memory_order_relaxed);
}

std::string ServiceMetrics::Render(const MetricsGauges& g) const {
    std::string text;
    Family(text, "zarvo_requests_total", "counter", "Requests answered, by operation and HTTP status.");
    for (size_t op = 0; op < kOperationCount; ++op) {
        const char* name = OperationName(static_cast<Operation>(op));
        for (int s = 0; s < kStatuses; ++s) {
            const uint64_t n = operations[op].byStatus[static_cast<size_t>(s)].load(std::memory_order_relaxed);
            if (n == 0) continue;
            Append(text, "zarvo_requests_total{operation=\"%s\",status=\"%d\"} %llu\n", name, s + kLowestStatus,
                   static_cast<unsigned long long>(n));
        }
    }
    Family(text, "zarvo_request_duration_seconds", "histogram",
           "Time from a request's arrival to its answer being ready, by operation.");
    for (size_t op = 0; op < kOperationCount; ++op) {
        const PerOperation& o = operations[op];
        const uint64_t count = o.count.load(std::memory_order_relaxed);
        if (count == 0) continue;
        const char* name = OperationName(static_cast<Operation>(op));
        uint64_t cumulative = 0;
        for (size_t b = 0; b <= kBuckets.size(); ++b) {
            cumulative += o.buckets[b].load(std::memory_order_relaxed);
            if (b < kBuckets.size()) {
                Append(text, "zarvo_request_duration_seconds_bucket{operation=\"%s\",le=\"%g\"} %llu\n", name,
                       kBuckets[b], static_cast<unsigned long long>(cumulative));
            } else {
                Append(text, "zarvo_request_duration_seconds_bucket{operation=\"%s\",le=\"+Inf\"} %llu\n", name,
                       static_cast<unsigned long long>(cumulative));
            }
        }
        Append(text, "zarvo_request_duration_seconds_sum{operation=\"%s\"} %.6f\n", name,
               static_cast<double>(o.microseconds.load(std::memory_order_relaxed)) / 1e6);
        Append(text, "zarvo_request_duration_seconds_count{operation=\"%s\"} %llu\n", name,
               static_cast<unsigned long long>(cumulative));
    }
    Single(text, "zarvo_requests_in_flight", "gauge", "Requests being answered.", g.inFlight);
    Single(text, "zarvo_requests_queued", "gauge", "Requests waiting for a worker.", g.queued);
    Single(text, "zarvo_requests_shed_total", "counter", "Requests refused with 503 because the service was full.",
           g.shed);
    Single(text, "zarvo_tile_cache_hits_total", "counter", "Tile addresses found decoded in the cache.", g.cacheHits);
    Single(text, "zarvo_tile_cache_misses_total", "counter", "Tile addresses not in the cache.", g.cacheMisses);
    Single(text, "zarvo_tile_cache_bytes", "gauge", "Bytes of decoded tiles in the cache.", g.cacheBytes);
    Single(text, "zarvo_tile_cache_tiles", "gauge", "Decoded tiles in the cache.", g.cacheTiles);
    Single(text, "zarvo_tile_cache_evictions_total", "counter", "Tiles dropped from the cache to make room.",
           g.cacheEvictions);
    Single(text, "zarvo_tile_fetches_total", "counter", "Tile addresses fetched from the tile source.",
           g.tileFetches);
    Single(text, "zarvo_tile_fetch_failures_total", "counter", "Tile fetches that failed.", g.tileFetchFailures);
    Single(text, "zarvo_data_requests_total", "counter", "Rasters asked of the plug-in.", g.dataRequests);
    return text;
}
