#include "drawing/host_adapter.h"

#include "host/image_decoding.h"
#include "host/tile_intake.h"
#include "host/tile_source.h"

TileBatchFetcher MakeTileFetcher(const std::string& source, std::string& error) {
    if (!MakeTileSource(source, error)) {
        return nullptr;
    }
    return [source](const std::vector<std::string>& urls, std::vector<TileResult>& outcomes) {
        outcomes.assign(urls.size(), TileResult{});
        std::string error;
        // A source serves one list at a time; batches of concurrent requests
        // each get their own.
        const std::unique_ptr<TileSource> tiles = MakeTileSource(source, error);
        if (!tiles) {
            for (TileResult& outcome : outcomes) outcome.error = error;
            return;
        }
        std::vector<bool> delivered(urls.size(), false);
        FetchLimits limits;
        limits.deadline = kServeFetchDeadline;
        const auto due = std::chrono::steady_clock::now() + limits.deadline;
        // Every tile of the batch is fetched, whatever happens to the others:
        // each is cached or fails on its own.
        tiles->Fetch(urls, limits, [&](size_t i, TileFetch&& fetch) {
            delivered[i] = true;
            TileResult& outcome = outcomes[i];
            if (fetch.outcome == TileOutcome::Missing) {
                outcome.tile = SharedBlankTile();
            } else if (fetch.outcome != TileOutcome::Body) {
                outcome.error = fetch.reason;
                outcome.late = std::chrono::steady_clock::now() >= due;
            } else {
                RgbImage image;
                std::string decodeError;
                if (DecodeTile(fetch.body, image, decodeError)) {
                    outcome.tile = ToSharedTile(std::move(image));
                } else {
                    outcome.error = "cannot decode: " + decodeError;
                }
            }
            if (!outcome.tile) outcome.address = std::move(fetch.address);
            return true;
        });
        for (size_t i = 0; i < urls.size(); ++i) {
            if (!delivered[i]) {
                outcomes[i].error = "not fetched before the fetch deadline";
                outcomes[i].late = true;
            }
        }
    };
}
