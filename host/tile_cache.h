#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/work_pool.h"

// A decoded tile, shared between the cache and every render that uses it.
struct DecodedTile {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;  // rows of 3-byte pixels
    bool shared = false;          // one picture for many addresses, held once (the blank tile)
};

// What became of one tile address.
struct TileResult {
    std::shared_ptr<const DecodedTile> tile;  // null on failure
    std::string error;                        // why, on failure
    bool skipped = false;                     // not tried: another tile of its batch failed first
    bool late = false;                        // not there by the deadline (the fetch's or the caller's)
    bool undecodable = false;                 // fetched, but no tile
    std::string address{};                    // on failure: the file path or URL tried, when one was
};

// One tile a caller wants: held under `key`, where the tile lies, and
// fetched from `url`. One tile may be listed under several addresses (the
// plug-in spreads tiles over several servers); it is fetched once, by the
// address of whoever asks first.
struct WantedTile {
    std::string key;
    std::string url;
};

// Fetches and decodes a batch of tile addresses: one outcome per address.
using TileBatchFetcher =
    std::function<void(const std::vector<std::string>& urls, std::vector<TileResult>& outcomes)>;

struct TileCacheStats {
    uint64_t hits = 0;
    uint64_t fetched = 0;       // addresses handed to the fetcher
    uint64_t failed = 0;
    uint64_t sharedWaits = 0;   // addresses another request was already fetching
    uint64_t evictions = 0;     // tiles dropped to make room
    size_t tiles = 0;
    size_t bytes = 0;
};

// Threads that fetch tiles, apart from the threads that draw: a stalling
// source holds these, and a caller waits for them only until its deadline.
struct FetchPoolLimits {
    size_t threads = 8;
    size_t queued = 64;  // batches waiting for a thread; more fail at once, as late
};

// Decoded tiles in memory by their keys, least recently used first out once
// their bytes pass the bound. Requests that need a tile another request is
// fetching wait for that fetch instead of starting their own. Failures are
// not kept: the next request for the tile tries again.
class TileCache {
public:
    using Clock = std::chrono::steady_clock;

    // Without a `fetcher` there are no fetch threads, and every caller
    // brings its own fetcher.
    TileCache(size_t capacityBytes, TileBatchFetcher fetcher = nullptr, FetchPoolLimits pool = {});
    ~TileCache();  // waits for the fetches in progress
    TileCache(const TileCache&) = delete;
    TileCache& operator=(const TileCache&) = delete;

    // One outcome per tile, in order. Blocks until every tile is decoded or
    // has failed, or until `deadline`: what is not there by then is a late
    // failure, and its fetch goes on to fill the cache.
    std::vector<TileResult> GetAll(const std::vector<WantedTile>& tiles,
                                   Clock::time_point deadline = Clock::time_point::max());
    // As above, without a deadline: the tiles no other request holds or is
    // fetching are fetched by `fetch` on the calling thread (with its own
    // tile source) instead of the fetch threads. When `neededLater` is given
    // (one flag per tile), the tiles not flagged are the first to go: the
    // caller knows that no later request needs them.
    std::vector<TileResult> GetAll(const std::vector<WantedTile>& tiles, const TileBatchFetcher& fetch,
                                   const std::vector<bool>& neededLater = {});

    TileCacheStats Stats() const;

    // How many of `urls` are decoded in the cache now, for estimates of the
    // work a request will take: nothing is fetched, counted or aged.
    size_t Holding(const std::vector<std::string>& urls) const;
    // Drops every decoded tile, as the source's files have changed; fetches
    // in progress go on and are kept.
    void Forget();

private:
    struct Entry {
        bool ready = false;
        TileResult outcome;
        std::list<std::string>::iterator age;  // place in `ages`, once ready
    };

    class Claims;
    // Claims the tiles nobody holds or fetches; `wanted` gets the entry of
    // every tile.
    void Claim(const std::vector<WantedTile>& tiles, const std::vector<bool>& neededLater, Claims& claims,
               std::vector<std::shared_ptr<Entry>>& wanted);
    // Settles the claimed entries with `outcomes`, or as failed when null.
    void Publish(const std::vector<std::string>& keys, const std::vector<bool>& neededLater,
                 std::vector<std::shared_ptr<Entry>>& claimed, std::vector<TileResult>* outcomes);
    // Never throws; the claims are settled however it ends.
    static void Fetch(const TileBatchFetcher& fetch, Claims& claims);
    void EvictOverCapacity();

    const size_t capacityBytes;
    const TileBatchFetcher fetcher;

    mutable std::mutex mutex;
    std::condition_variable published;
    std::unordered_map<std::string, std::shared_ptr<Entry>> entries;
    std::list<std::string> ages;  // ready entries, most recently used first
    size_t bytes = 0;
    TileCacheStats counters;
    std::unique_ptr<WorkPool> fetchers;  // with a fetcher only; last: ends first, while the rest is still there
};
