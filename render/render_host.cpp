#include "render/render_host.h"

#include <exception>
#include <utility>

#include "host/tile_intake.h"
#include "host/tile_provision.h"

TileProvider RenderTileProvider(TileSource& source, const RenderSettings& settings, const DataRequestBlock& request,
                                IntakeReport& report) {
    return [&source, settings, request, &report](const std::vector<std::string>& listed) {
        std::exception_ptr thrown;
        // The tiles no other request holds or is fetching, fetched here, on
        // the provider's thread with its source; the first failure stops
        // the rest of the batch.
        const TileBatchFetcher fetch = [&](const std::vector<std::string>& urls, std::vector<TileResult>& outcomes) {
            TileIntake intake;
            try {
                intake = TakeInTiles(source, urls, settings.intake, [](size_t) {});
            } catch (...) {
                // Ends the job as the host's failure once the cache has let
                // the tiles' waiters go.
                thrown = std::current_exception();
                throw;
            }
            report.tiles = urls.size();
            report.tileBytes = intake.bodyBytes;
            report.missing = intake.missing;
            report.firstMissing = intake.firstMissing;
            outcomes.assign(urls.size(), TileResult{});
            for (size_t i = 0; i < urls.size(); ++i) {
                if (!intake.complete) {
                    outcomes[i].skipped = true;
                } else {
                    const bool blank = intake.images[i].pixels.empty();
                    outcomes[i].tile = blank ? SharedBlankTile() : ToSharedTile(std::move(intake.images[i]));
                }
            }
            if (!intake.complete) {
                TileResult& failed = outcomes[intake.problem.index];
                failed.skipped = false;
                failed.error = intake.problem.reason;
                failed.undecodable = intake.problem.undecodable;
                failed.address = intake.problem.address;
            }
        };
        TileCache unshared(0);
        TileProvision provision(settings.sharedTiles != nullptr ? *settings.sharedTiles : unshared);
        provision.fetch = fetch;
        provision.partsInRowOrder = true;
        provision.fitsBudget = [&settings](size_t tiles, std::string& error) {
            if (TilesFitBudget(tiles, settings.memoryBudgetBytes, error)) return true;
            error += "; a smaller box or zoom, or --max-memory, helps";
            return false;
        };
        ProvidedTiles provided = ProvideJobTiles(request, listed, provision);
        if (thrown) std::rethrow_exception(thrown);
        return provided;
    };
}
