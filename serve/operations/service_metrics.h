#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

// What a request asked for, as the metrics count it: a fixed set, so that
// no client can grow the number of series.
enum class Operation { GetMap, GetCapabilities, GetTile, Page, Probe, Other };
constexpr size_t kOperationCount = 6;
const char* OperationName(Operation operation);

// Values the service reads from its parts when the metrics are asked for.
struct MetricsGauges {
    uint64_t inFlight = 0;        // requests being answered
    uint64_t queued = 0;          // requests waiting for a worker
    uint64_t shed = 0;            // requests refused for load (503), ever
    uint64_t cacheHits = 0;
    uint64_t cacheMisses = 0;
    uint64_t cacheBytes = 0;
    uint64_t cacheTiles = 0;
    uint64_t cacheEvictions = 0;
    uint64_t cacheSharedWaits = 0;  // tile addresses that waited for another request's fetch
    uint64_t tileFetches = 0;
    uint64_t tileFetchFailures = 0;
    uint64_t dataRequests = 0;
};

// The counters of /stats: one JSON object of the data requests and the tile
// cache's figures.
std::string CountersJson(const MetricsGauges& gauges);

// Counters of answered requests by operation and status, and a latency
// histogram by operation; lock-free, so that counting costs a request
// nothing it would wait for.
class ServiceMetrics {
public:
    // Upper bounds of the latency buckets, in seconds (+Inf follows).
    static constexpr std::array<double, 12> kBuckets = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                                        0.5,   1,    2.5,   5,    10,  30};

    void Count(Operation operation, int status, double seconds);

    // The metrics in Prometheus' text exposition format 0.0.4.
    std::string Render(const MetricsGauges& gauges) const;

private:
    static constexpr int kLowestStatus = 100;
    static constexpr int kStatuses = 500;  // 100 to 599

    struct PerOperation {
        std::array<std::atomic<uint64_t>, kStatuses> byStatus{};
        std::array<std::atomic<uint64_t>, kBuckets.size() + 1> buckets{};  // not cumulative; the last is +Inf
        std::atomic<uint64_t> microseconds{0};
        std::atomic<uint64_t> count{0};
    };
    std::array<PerOperation, kOperationCount> operations;
};
