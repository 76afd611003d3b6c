#include "render/render_host.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "host/world_edges.h"

TileProvider RenderTileProvider(TileSource& source, const RenderSettings& settings, const DataRequestBlock& request,
                                IntakeReport& report) {
    return [&source, settings, request, &report](const std::vector<std::string>& listed) {
        std::string error;
        std::vector<TileSlot> slots;
        if (!PlanTileSlots(request, listed, slots)) {
            return ProvidedTiles::Failed(RenderFailure::HostFailure, "the plug-in's tile list does not match the request");
        }
        std::vector<std::string> urls;
        for (const TileSlot& slot : slots) {
            if (!slot.outsideWorld) urls.push_back(slot.url);
        }
        if (!TilesFitBudget(urls.size(), settings.memoryBudgetBytes, error)) {
            return ProvidedTiles::Failed(RenderFailure::TooManyTiles,
                                         error + "; a smaller box or zoom, or --max-memory, helps");
        }
        Progress progress(settings.progress, stderr, "tiles");
        const size_t total = urls.size();
        auto intake = std::make_shared<TileIntake>(
            TakeInTiles(source, urls, settings.intake, [&](size_t done) { progress.Update(done, total); }));
        progress.Finish();
        report.tiles = total;
        report.tileBytes = intake->bodyBytes;
        report.missing = intake->missing;
        report.firstMissing = intake->firstMissing;
        if (!intake->complete) {
            const TileProblem& problem = intake->problem;
            return problem.undecodable
                       ? ProvidedTiles::Failed(RenderFailure::TileUndecodable,
                                               "cannot decode tile " + problem.url + ": " + problem.reason)
                       : ProvidedTiles::Failed(RenderFailure::TileMissing,
                                               "cannot fetch tile " + problem.url + ": " + problem.reason);
        }
        ProvidedTiles tiles;
        tiles.tiles.reserve(slots.size());
        size_t fetched = 0;
        for (const TileSlot& slot : slots) {
            const RgbImage& decoded = slot.outsideWorld ? BlankTile() : intake->images[fetched++];
            // Every blank tile shows the one shared background.
            const RgbImage& image = decoded.pixels.empty() ? BlankTile() : decoded;
            tiles.tiles.push_back(TileView{image.pixels.data(), image.pixels.size(), image.width, image.height, 3});
        }
        tiles.keep = std::move(intake);
        return tiles;
    };
}
