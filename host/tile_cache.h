#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

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
};

// Fetches and decodes a batch of tile addresses: one outcome per address.
using TileBatchFetcher =
    std::function<void(const std::vector<std::string>& urls, std::vector<TileResult>& outcomes)>;

struct TileCacheStats {
    uint64_t hits = 0;
    uint64_t fetched = 0;       // addresses handed to the fetcher
    uint64_t failed = 0;
    uint64_t sharedWaits = 0;   // addresses another request was already fetching
    size_t tiles = 0;
    size_t bytes = 0;
};

// Decoded tiles in memory, least recently used first out once their bytes
// pass the bound. Requests that need a tile another request is fetching
// wait for that fetch instead of starting their own. Failures are not kept:
// the next request for the address tries again.
class TileCache {
public:
    // `fetcher` may be null when every caller brings its own.
    TileCache(size_t capacityBytes, TileBatchFetcher fetcher = nullptr);
    TileCache(const TileCache&) = delete;
    TileCache& operator=(const TileCache&) = delete;

    // One outcome per address, in order. Blocks until every address is
    // decoded or has failed.
    std::vector<TileResult> GetAll(const std::vector<std::string>& urls);
    // As above, the addresses no other request holds or is fetching fetched
    // by `fetch` on the calling thread (with its own tile source) instead of
    // the cache's fetcher. When `neededLater` is given (one flag per
    // address), the addresses not flagged are the first to go: the caller
    // knows that no later request needs them.
    std::vector<TileResult> GetAll(const std::vector<std::string>& urls, const TileBatchFetcher& fetch,
                                   const std::vector<bool>& neededLater = {});

    TileCacheStats Stats() const;

private:
    struct Entry {
        bool ready = false;
        TileResult outcome;
        std::list<std::string>::iterator age;  // place in `ages`, once ready
    };

    class Claims;
    // Settles the claimed entries with `outcomes`, or as failed when null.
    void Publish(const std::vector<std::string>& urls, const std::vector<bool>& neededLater,
                 std::vector<std::shared_ptr<Entry>>& claimed,
                 std::vector<TileResult>* outcomes);
    void EvictOverCapacity();

    const size_t capacityBytes;
    const TileBatchFetcher fetcher;

    mutable std::mutex mutex;
    std::condition_variable published;
    std::unordered_map<std::string, std::shared_ptr<Entry>> entries;
    std::list<std::string> ages;  // ready entries, most recently used first
    size_t bytes = 0;
    TileCacheStats counters;
};
