#include "serve/tile_cache.h"

#include <exception>
#include <new>

namespace {

size_t Footprint(const TileResult& outcome) {
    return outcome.tile ? outcome.tile->pixels.size() + sizeof(DecodedTile) : 0;
}

}  // namespace

TileCache::TileCache(size_t capacityBytes, TileBatchFetcher fetcher, FetchPoolLimits pool)
    : capacityBytes(capacityBytes), fetcher(std::move(fetcher)), fetchers(pool.threads, pool.queued) {}

TileCache::~TileCache() = default;

std::vector<TileResult> TileCache::GetAll(const std::vector<std::string>& urls, Clock::time_point deadline) {
    std::vector<std::shared_ptr<Entry>> wanted(urls.size());
    std::vector<std::string> toFetch;
    std::vector<std::shared_ptr<Entry>> claimed;
    toFetch.reserve(urls.size());
    claimed.reserve(urls.size());
    try {
        std::lock_guard<std::mutex> lock(mutex);
        for (size_t i = 0; i < urls.size(); ++i) {
            auto found = entries.find(urls[i]);
            if (found == entries.end()) {
                auto entry = std::make_shared<Entry>();
                toFetch.push_back(urls[i]);
                claimed.push_back(entry);
                entries.emplace(urls[i], entry);
                wanted[i] = entry;
                continue;
            }
            wanted[i] = found->second;
            if (found->second->ready) {
                ++counters.hits;
                ages.splice(ages.begin(), ages, found->second->age);
            } else {
                ++counters.sharedWaits;
            }
        }
        counters.fetched += toFetch.size();
    } catch (...) {
        // Out of memory half way: release what was claimed, or its waiters
        // would wait for ever.
        std::vector<TileResult> failures(claimed.size());
        Publish(toFetch, claimed, failures);
        throw;
    }

    if (!toFetch.empty()) {
        // The fetch runs on the fetch pool and publishes when it ends,
        // whoever is still waiting for it.
        bool submitted = false;
        try {
            auto batch = std::make_shared<std::pair<std::vector<std::string>, std::vector<std::shared_ptr<Entry>>>>(
                toFetch, claimed);
            submitted = fetchers.TrySubmit([this, batch] { Fetch(batch->first, batch->second); });
        } catch (const std::bad_alloc&) {
        }
        if (!submitted) {
            std::vector<TileResult> busy(toFetch.size());
            for (TileResult& outcome : busy) {
                outcome.error = "every tile fetcher is busy";
                outcome.late = true;
            }
            Publish(toFetch, claimed, busy);
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
    std::vector<TileResult> result(urls.size());
    for (size_t i = 0; i < urls.size(); ++i) {
        if (wanted[i]->ready) {
            result[i] = wanted[i]->outcome;
        } else {
            result[i].error = "not there by the request's deadline";
            result[i].late = true;
        }
    }
    return result;
}

// On a fetch thread: never throws, always publishes.
void TileCache::Fetch(const std::vector<std::string>& urls, std::vector<std::shared_ptr<Entry>>& claimed) {
    std::vector<TileResult> outcomes;
    try {
        fetcher(urls, outcomes);
        if (outcomes.size() != urls.size()) {
            outcomes.assign(urls.size(), TileResult{nullptr, "the fetcher lost track of its tiles"});
        }
    } catch (const std::exception& e) {
        outcomes.clear();
        outcomes.resize(urls.size());
        for (TileResult& outcome : outcomes) outcome.error = std::string("fetch failed: ") + e.what();
    }
    Publish(urls, claimed, outcomes);
}

void TileCache::Publish(const std::vector<std::string>& urls, std::vector<std::shared_ptr<Entry>>& claimed,
                        std::vector<TileResult>& outcomes) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        // First settle every claimed entry, which cannot fail, so that no
        // waiter is left behind whatever happens after.
        for (size_t i = 0; i < claimed.size(); ++i) {
            claimed[i]->outcome = std::move(outcomes[i]);
            claimed[i]->ready = true;
        }
        for (size_t i = 0; i < claimed.size(); ++i) {
            Entry& entry = *claimed[i];
            bool kept = false;
            if (entry.outcome.tile) {
                try {
                    ages.push_front(urls[i]);
                    entry.age = ages.begin();
                    bytes += Footprint(entry.outcome);
                    kept = true;
                } catch (const std::bad_alloc&) {
                    // Served to its waiters, just not kept.
                }
            } else {
                ++counters.failed;
            }
            if (!kept) {
                auto found = entries.find(urls[i]);
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
    }
}

TileCacheStats TileCache::Stats() const {
    std::lock_guard<std::mutex> lock(mutex);
    TileCacheStats stats = counters;
    stats.tiles = ages.size();
    stats.bytes = bytes;
    return stats;
}
