#include "render/render_host.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <unordered_map>
#include <utility>

#include "host/tile_intake.h"
#include "host/world_edges.h"
#include "projection/tile_service.h"

TileProvider RenderTileProvider(TileSource& source, const RenderSettings& settings, const DataRequestBlock& request,
                                IntakeReport& report) {
    return [&source, settings, request, &report](const std::vector<std::string>& listed) {
        std::string error;
        std::vector<TileSlot> slots;
        if (!PlanTileSlots(request, listed, slots)) {
            return ProvidedTiles::Failed(RenderFailure::HostFailure, "the plug-in's tile list does not match the request");
        }
        const std::vector<std::string> urls = AddressesToFetch(slots);
        if (!TilesFitBudget(urls.size(), settings.memoryBudgetBytes, error)) {
            return ProvidedTiles::Failed(RenderFailure::TooManyTiles,
                                         error + "; a smaller box or zoom, or --max-memory, helps");
        }
        Progress progress(settings.progress, stderr, "tiles");
        // The tiles no other request holds or is fetching are fetched here,
        // on the provider's thread with its source.
        // The plug-in spreads the tiles over several servers, so one tile may
        // come under more than one address: tiles are shared by where they
        // lie, and fetched by the first address listed.
        std::vector<std::string> keys;
        std::unordered_map<std::string, std::string> addressOf;
        std::vector<TileAddress> addresses(urls.size());
        std::vector<bool> parsed(urls.size());
        keys.reserve(urls.size());
        for (size_t i = 0; i < urls.size(); ++i) {
            parsed[i] = ParseTileAddress(urls[i], addresses[i]);
            keys.push_back(parsed[i] ? RelativeTilePath(addresses[i]) : urls[i]);
            addressOf.emplace(keys.back(), urls[i]);
        }
        // The parts are drawn west to east and north to south: of this part's
        // tiles, only its east column and its south row (rows count from the
        // south) can be needed again, by the parts east of it and below it.
        int64_t east = INT64_MIN, south = INT64_MAX;
        for (size_t i = 0; i < urls.size(); ++i) {
            if (!parsed[i]) continue;
            east = std::max(east, addresses[i].x);
            south = std::min(south, addresses[i].y);
        }
        std::vector<bool> neededLater(urls.size());
        for (size_t i = 0; i < urls.size(); ++i) {
            neededLater[i] = !parsed[i] || addresses[i].x == east || addresses[i].y == south;
        }
        TileProblem problem;
        std::string problemKey;
        std::exception_ptr thrown;
        const TileBatchFetcher fetch = [&](const std::vector<std::string>& claimedKeys, std::vector<TileResult>& outcomes) {
            std::vector<std::string> claimed;
            claimed.reserve(claimedKeys.size());
            for (const std::string& key : claimedKeys) claimed.push_back(addressOf.at(key));
            TileIntake intake;
            try {
                intake = TakeInTiles(source, claimed, settings.intake,
                                     [&](size_t done) { progress.Update(done, claimed.size()); });
            } catch (...) {
                // Ends the job as the host's failure once the cache has let
                // the tiles' waiters go.
                thrown = std::current_exception();
                throw;
            }
            report.tiles = claimed.size();
            report.tileBytes = intake.bodyBytes;
            report.missing = intake.missing;
            report.firstMissing = intake.firstMissing;
            outcomes.assign(claimed.size(), TileResult{});
            for (size_t i = 0; i < claimed.size(); ++i) {
                if (!intake.complete) {
                    outcomes[i].skipped = true;
                } else {
                    const bool blank = intake.images[i].pixels.empty();
                    outcomes[i].tile = blank ? SharedBlankTile() : ToSharedTile(std::move(intake.images[i]));
                }
            }
            if (!intake.complete) {
                problem = intake.problem;
                problemKey = claimedKeys[problem.index];
                outcomes[problem.index].skipped = false;
                outcomes[problem.index].error = problem.reason;
            }
        };
        TileCache unshared(0);
        TileCache& cache = settings.sharedTiles != nullptr ? *settings.sharedTiles : unshared;
        auto shared = std::make_shared<std::vector<TileResult>>(cache.GetAll(keys, fetch, neededLater));
        progress.Finish();
        if (thrown) std::rethrow_exception(thrown);
        // The first tile that failed in address order, before those not tried
        // because of it.
        size_t failed = urls.size();
        for (size_t i = 0; i < urls.size(); ++i) {
            const TileResult& result = (*shared)[i];
            if (!result.tile && (failed == urls.size() || ((*shared)[failed].skipped && !result.skipped))) {
                failed = i;
            }
        }
        if (failed < urls.size()) {
            const TileResult& result = (*shared)[failed];
            const std::string& url = urls[failed];
            // A failure met by another request is reported as a failed fetch.
            const bool ours = keys[failed] == problemKey;
            const std::string reason = result.skipped ? "another tile of its batch failed" : result.error;
            return ours && problem.undecodable
                       ? ProvidedTiles::Failed(RenderFailure::TileUndecodable,
                                               "cannot decode tile " + url + ": " + reason)
                       : ProvidedTiles::Failed(RenderFailure::TileMissing, "cannot fetch tile " + url + ": " + reason);
        }
        ProvidedTiles tiles;
        tiles.tiles.reserve(slots.size());
        size_t fetched = 0;
        for (const TileSlot& slot : slots) {
            const DecodedTile& image = slot.outsideWorld ? *SharedBlankTile() : *(*shared)[fetched++].tile;
            tiles.tiles.push_back(TileView{image.pixels.data(), image.pixels.size(), image.width, image.height, 3});
        }
        tiles.keep = std::move(shared);
        return tiles;
    };
}
