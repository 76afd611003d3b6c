#include "host/tile_cache.h"

#include <exception>
#include <iterator>
#include <new>

namespace {

// Short enough to be held in the string itself, without an allocation.
constexpr char kFetchFailed[] = "fetch failed";

// A tile shared by many addresses (the blank one) is held once, whatever
// the cache keeps: each address costs only its record.
size_t Footprint(const TileResult& outcome) {
    if (!outcome.tile) return 0;
    return outcome.tile->shared ? sizeof(DecodedTile) : outcome.tile->pixels.size() + sizeof(DecodedTile);
}

}  // namespace

TileCache::TileCache(size_t capacityBytes, TileBatchFetcher fetcher, FetchPoolLimits pool)
    : capacityBytes(capacityBytes),
      fetcher(std::move(fetcher)),
      fetchers(this->fetcher ? std::make_unique<WorkPool>(pool.threads, pool.queued) : nullptr) {}

TileCache::~TileCache() = default;

// The tiles a request claimed to fetch. Whatever way the request leaves,
// they are settled (as failed, if not published): others may be waiting for
// them and would otherwise wait for ever.
class TileCache::Claims {
public:
    explicit Claims(TileCache& cache) : cache(cache) {}
    ~Claims() {
        if (!settled) cache.Publish(keys, neededLater, entries, nullptr);
    }
    Claims(const Claims&) = delete;
    Claims& operator=(const Claims&) = delete;

    void Publish(std::vector<TileResult>& outcomes) {
        settled = true;
        cache.Publish(keys, neededLater, entries, &outcomes);
    }
    void Fail() {
        settled = true;
        cache.Publish(keys, neededLater, entries, nullptr);
    }

    std::vector<std::string> keys;
    std::vector<std::string> urls;  // where each is fetched from
    std::vector<bool> neededLater;
    std::vector<std::shared_ptr<Entry>> entries;

private:
    TileCache& cache;
    bool settled = false;
};

void TileCache::Claim(const std::vector<WantedTile>& tiles, const std::vector<bool>& neededLater, Claims& claims,
                      std::vector<std::shared_ptr<Entry>>& wanted) {
    const auto later = [&](size_t i) { return neededLater.empty() || neededLater[i]; };
    wanted.resize(tiles.size());
    claims.keys.reserve(tiles.size());
    claims.urls.reserve(tiles.size());
    claims.neededLater.reserve(tiles.size());
    claims.entries.reserve(tiles.size());
    std::lock_guard<std::mutex> lock(mutex);
    for (size_t i = 0; i < tiles.size(); ++i) {
        auto found = entries.find(tiles[i].key);
        if (found == entries.end()) {
            auto entry = std::make_shared<Entry>();
            claims.keys.push_back(tiles[i].key);
            claims.urls.push_back(tiles[i].url);
            claims.neededLater.push_back(later(i));
            claims.entries.push_back(entry);
            entries.emplace(tiles[i].key, entry);
            wanted[i] = entry;
            continue;
        }
        wanted[i] = found->second;
        if (found->second->ready) {
            ++counters.hits;
            ages.splice(later(i) ? ages.begin() : ages.end(), ages, found->second->age);
        } else {
            ++counters.sharedWaits;
        }
    }
    counters.fetched += claims.urls.size();
}

std::vector<TileResult> TileCache::GetAll(const std::vector<WantedTile>& tiles, Clock::time_point deadline) {
    std::vector<std::shared_ptr<Entry>> wanted;
    // Shared with the fetch, which may outlast this call.
    const auto shared = std::make_shared<Claims>(*this);
    Claims& claims = *shared;
    Claim(tiles, {}, claims, wanted);

    if (!claims.urls.empty()) {
        bool submitted = false;
        try {
            submitted = fetchers && fetchers->TrySubmit([this, shared] { Fetch(fetcher, *shared); });
        } catch (const std::bad_alloc&) {
        }
        if (!submitted) {
            std::vector<TileResult> busy(claims.urls.size());
            for (TileResult& outcome : busy) {
                outcome.error = fetchers ? "every tile fetcher is busy" : "the cache has no fetcher";
                outcome.late = fetchers != nullptr;
            }
            claims.Publish(busy);
        }
    }

    std::unique_lock<std::mutex> lock(mutex);
    const auto allReady = [&] {
        for (const auto& entry : wanted) {
            if (!entry->ready) return false;
        }
        return true;
    };
    if (deadline == Clock::time_point::max()) {
        published.wait(lock, allReady);
    } else {
        published.wait_until(lock, deadline, allReady);
    }
    std::vector<TileResult> result(tiles.size());
    for (size_t i = 0; i < tiles.size(); ++i) {
        if (wanted[i]->ready) {
            result[i] = wanted[i]->outcome;
        } else {
            result[i].error = "not there by the request's deadline";
            result[i].late = true;
        }
    }
    return result;
}

std::vector<TileResult> TileCache::GetAll(const std::vector<WantedTile>& tiles, const TileBatchFetcher& fetch,
                                          const std::vector<bool>& neededLater) {
    std::vector<std::shared_ptr<Entry>> wanted;
    Claims claims(*this);
    Claim(tiles, neededLater, claims, wanted);
    // Others may be waiting for these: settle them before waiting ourselves.
    if (!claims.urls.empty()) Fetch(fetch, claims);

    std::unique_lock<std::mutex> lock(mutex);
    published.wait(lock, [&] {
        for (const auto& entry : wanted) {
            if (!entry->ready) return false;
        }
        return true;
    });
    std::vector<TileResult> result(tiles.size());
    for (size_t i = 0; i < tiles.size(); ++i) result[i] = wanted[i]->outcome;
    return result;
}

void TileCache::Fetch(const TileBatchFetcher& fetch, Claims& claims) {
    try {
        std::vector<TileResult> outcomes;
        try {
            fetch(claims.urls, outcomes);
            if (outcomes.size() != claims.urls.size()) {
                outcomes.assign(claims.urls.size(), TileResult{nullptr, "the fetcher lost track of its tiles"});
            }
        } catch (const std::exception& e) {
            outcomes.clear();
            outcomes.resize(claims.urls.size());
            for (TileResult& outcome : outcomes) outcome.error = std::string("fetch failed: ") + e.what();
        }
        claims.Publish(outcomes);
    } catch (...) {
        // Out of memory while reporting, or a fetcher that threw what is
        // no exception: every claim fails, with nothing to allocate.
        claims.Fail();
    }
}

void TileCache::Publish(const std::vector<std::string>& keys, const std::vector<bool>& neededLater,
                        std::vector<std::shared_ptr<Entry>>& claimed, std::vector<TileResult>* outcomes) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        // First settle every claimed entry, which cannot fail, so that no
        // waiter is left behind whatever happens after. Without outcomes
        // the fetch ended by an exception: each entry fails with a short
        // reason that needs no memory of its own.
        for (size_t i = 0; i < claimed.size(); ++i) {
            if (outcomes != nullptr) {
                claimed[i]->outcome = std::move((*outcomes)[i]);
            } else {
                claimed[i]->outcome.tile = nullptr;
                claimed[i]->outcome.error = kFetchFailed;
            }
            claimed[i]->ready = true;
        }
        for (size_t i = 0; i < claimed.size(); ++i) {
            Entry& entry = *claimed[i];
            bool kept = false;
            if (entry.outcome.tile) {
                try {
                    // What no later request needs goes first.
                    if (neededLater[i]) {
                        ages.push_front(keys[i]);
                        entry.age = ages.begin();
                    } else {
                        ages.push_back(keys[i]);
                        entry.age = std::prev(ages.end());
                    }
                    bytes += Footprint(entry.outcome);
                    kept = true;
                } catch (const std::bad_alloc&) {
                    // Served to its waiters, just not kept.
                }
            } else {
                ++counters.failed;
            }
            if (!kept) {
                auto found = entries.find(keys[i]);
                if (found != entries.end() && found->second == claimed[i]) entries.erase(found);
            }
        }
        EvictOverCapacity();
    }
    published.notify_all();
}

void TileCache::EvictOverCapacity() {
    while (bytes > capacityBytes && !ages.empty()) {
        auto found = entries.find(ages.back());
        bytes -= Footprint(found->second->outcome);
        entries.erase(found);  // renders holding the tile keep it until they finish
        ages.pop_back();
        ++counters.evictions;
    }
}

size_t TileCache::Holding(const std::vector<std::string>& urls) const {
    std::lock_guard<std::mutex> lock(mutex);
    size_t held = 0;
    for (const std::string& url : urls) {
        const auto found = entries.find(url);
        if (found != entries.end() && found->second->ready) ++held;
    }
    return held;
}

void TileCache::Forget() {
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::string& url : ages) entries.erase(url);  // renders holding a tile keep it until they finish
    ages.clear();
    bytes = 0;
}

TileCacheStats TileCache::Stats() const {
    std::lock_guard<std::mutex> lock(mutex);
    TileCacheStats stats = counters;
    stats.tiles = ages.size();
    stats.bytes = bytes;
    return stats;
}
