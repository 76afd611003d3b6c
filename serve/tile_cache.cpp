#include "serve/tile_cache.h"

#include <exception>
#include <new>

namespace {

size_t Footprint(const TileResult& outcome) {
    return outcome.tile ? outcome.tile->pixels.size() + sizeof(DecodedTile) : 0;
}

}  // namespace

TileCache::TileCache(size_t capacityBytes, TileBatchFetcher fetcher)
    : capacityBytes(capacityBytes), fetcher(std::move(fetcher)) {}

std::vector<TileResult> TileCache::GetAll(const std::vector<std::string>& urls) {
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
        std::vector<TileResult> outcomes;
        try {
            fetcher(toFetch, outcomes);
            if (outcomes.size() != toFetch.size()) {
                outcomes.assign(toFetch.size(), TileResult{nullptr, "the fetcher lost track of its tiles"});
            }
        } catch (const std::exception& e) {
            outcomes.clear();
            outcomes.resize(toFetch.size());
            for (TileResult& outcome : outcomes) outcome.error = std::string("fetch failed: ") + e.what();
        }
        // Others may be waiting for these: publish before waiting ourselves.
        Publish(toFetch, claimed, outcomes);
    }

    std::unique_lock<std::mutex> lock(mutex);
    published.wait(lock, [&] {
        for (const auto& entry : wanted) {
            if (!entry->ready) return false;
        }
        return true;
    });
    std::vector<TileResult> result(urls.size());
    for (size_t i = 0; i < urls.size(); ++i) result[i] = wanted[i]->outcome;
    return result;
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
        ++counters.evictions;
    }
}

TileCacheStats TileCache::Stats() const {
    std::lock_guard<std::mutex> lock(mutex);
    TileCacheStats stats = counters;
    stats.tiles = ages.size();
    stats.bytes = bytes;
    return stats;
}
