#include "render/pyramid/pyramid_command.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include "drawing/host_adapter.h"
#include "drawing/map_maker.h"
#include "drawing/map_renderer.h"
#include "host/plugin_library.h"
#include "host/program_directory.h"
#include "host/tile_cache.h"
#include "host/tile_intake.h"
#include "host/tile_levels.h"
#include "projection/zoom.h"
#include "render/progress.h"
#include "render/stop_signals.h"
#include "render/pyramid/pyramid_drawing.h"
#include "render/pyramid/pyramid_plan.h"
#include "render/pyramid/source_texts.h"
#include "render/pyramid/tile_walk.h"
#include "tile_packages/tile_package.h"

namespace {

// Both cores busy drawing; the tile cache's own threads fetch and decode.
constexpr unsigned kDrawingThreads = 2;
// Of --max-memory, what the program holds besides its decoded source
// tiles: its libraries, SQLite's page cache, the tiles and images in flight
// on the drawing and fetching threads. Three quarters of the rest is the
// tile cache, the last quarter room for the allocator's slack.
constexpr uint64_t kOwnBytes = uint64_t{128} << 20;
constexpr uint64_t kLeastBudgetMegabytes = 192;

int Fail(const std::string& message) {
    std::fprintf(stderr, "zarvo-render: %s\n", message.c_str());
    return 1;
}

int FailUsage(const std::string& message) { return RefuseArguments("zarvo-render", message); }

// The deepest plug-in zoom drawn, by zarvo-serve's rule: --max-zoom, else
// the deepest level every layer the source holds has; any zoom from a
// source that cannot say.
// 0 when the source does not hold the layer drawn.
int32_t DeepestZoom(const RenderOptions& options) {
    if (options.maxZoom != 0) return options.maxZoom;
    const LayersHeld held = LayersInSource(options.tiles);
    const bool holdsLayer = std::find(held.layers.begin(), held.layers.end(), options.layer) != held.layers.end();
    return holdsLayer ? held.maxZoom : 0;
}

std::string Counts(const PyramidTotals& totals) {
    return std::to_string(totals.drawn) + " tiles drawn, " + std::to_string(totals.present) + " skipped as present, " +
           std::to_string(totals.empty) + " empty";
}

std::string PartText(const RenderOptions& options) {
    if (options.chunkCount == 0) return "";
    return " (part " + std::to_string(options.chunkIndex) + " of " + std::to_string(options.chunkCount) + ")";
}

// What drawing a part came to.
struct DrawnPart {
    bool whole = false;  // every tile of the part is in the package
    std::string error;   // why not, when no signal stopped it
    PyramidTotals totals;
    uint64_t tiles = 0;  // of the part
    TileCacheStats sources;
};

// The signals' hold on the drawing in progress.
class Running {
public:
    void Stop() {
        const std::lock_guard<std::mutex> lock(mutex);
        stopped = true;
        if (drawing != nullptr) drawing->Stop();
    }
    void Set(PyramidDrawing* running) {
        const std::lock_guard<std::mutex> lock(mutex);
        drawing = running;
        if (drawing != nullptr && stopped) drawing->Stop();
    }

private:
    std::mutex mutex;
    PyramidDrawing* drawing = nullptr;
    bool stopped = false;
};

// Draws the part's tiles that the package lacks into it. The cache, the
// renderer and the drawing's threads are gone when this returns, so that
// their memory is free before the package is finished.
DrawnPart DrawPart(const RenderOptions& options, const PyramidPlan& plan, int32_t maxZoom, TileBatchFetcher fetcher,
                   const PluginApi& api, tile_packages::TilePackageWriter& package, Running& running) {
    DrawnPart drawn;
    const uint64_t cacheBytes = (options.memoryBudgetBytes - kOwnBytes) / 4 * 3;
    const size_t cacheTiles = static_cast<size_t>(std::max<uint64_t>(1, cacheBytes / kDecodedTileBytes));
    TileCache cache(static_cast<size_t>(cacheBytes), std::move(fetcher));
    RenderLimits limits;
    limits.maxTilesHeld = std::min<size_t>(limits.maxTilesHeld, std::max<size_t>(64, cacheTiles / 4));
    MapRenderer renderer(api, cache, limits);
    if (!renderer.BindLayers(drawn.error)) return drawn;
    MapMaker maps(renderer, maxZoom, options.pluginGrid);
    TileWalk walk(plan, std::max(1u, options.chunkIndex), std::max(1u, options.chunkCount),
                  StripColumns(plan, cacheTiles));
    drawn.tiles = walk.Count();
    PyramidDrawing drawing(plan, walk, maps, package, ProgressStyleFor(stderr, options.quiet));
    running.Set(&drawing);
    drawn.whole = drawing.Run(kDrawingThreads, drawn.error) && !drawing.Stopped();
    running.Set(nullptr);
    drawn.totals = drawing.Totals();
    drawn.sources = cache.Stats();
    return drawn;
}

}  // namespace

int RunPyramid(const RenderOptions& options) {
    // A stop asks the drawing to end: the tiles committed are kept, and the
    // same command resumes. A second stop ends the program at once.
    Running running;
    const StopsAsked signals([&running](int) { running.Stop(); });
    if (options.memoryBudgetBytes < kLeastBudgetMegabytes << 20) {
        return FailUsage("--max-memory: a pyramid needs " + std::to_string(kLeastBudgetMegabytes) + " MB or more");
    }
    const std::vector<std::string>& layers = ServedLayers();
    if (std::find(layers.begin(), layers.end(), options.layer) == layers.end()) {
        return FailUsage("unknown layer '" + options.layer + "': the plug-in serves map, aerial and hybrid");
    }
    std::string error;
    TileBatchFetcher fetcher = MakeTileFetcher(options.tiles, error);
    if (!fetcher) return FailUsage("--tiles: " + error);
    const int32_t maxZoom = DeepestZoom(options);
    if (maxZoom == 0) return Fail(options.tiles + " holds no level of the " + options.layer + " layer");
    std::optional<tile_packages::GeoArea> area;
    if (options.pyramid.areaGiven) {
        area = tile_packages::GeoArea{options.west, options.south, options.east, options.north};
    }
    PyramidPlan plan;
    if (!PlanPyramid(options.pyramid, options.layer, area, maxZoom, plan, error)) return FailUsage(error);

    tile_packages::OpenOptions open;
    open.overwrite = options.outputRules.overwrite;
    const std::unique_ptr<tile_packages::TilePackageWriter> package = tile_packages::TilePackageWriter::Open(
        options.output.path, DescribePyramid(plan, SourceTexts(options.tiles, options.layer)), open, error);
    if (!package) return Fail(error);
    const std::string pluginPath = options.plugin.empty() ? DefaultPluginPath() : options.plugin;
    const std::unique_ptr<PluginLibrary> library = PluginLibrary::Open(pluginPath, error);
    if (!library) return Fail("cannot load the plug-in " + pluginPath + ": " + error);

    const auto started = std::chrono::steady_clock::now();
    const DrawnPart drawn = DrawPart(options, plan, maxZoom, std::move(fetcher), library->Api(), *package, running);
    const PyramidTotals& totals = drawn.totals;
    const int signal = signals.Received();
    if (signal != 0 || !drawn.whole) {
        std::string flushError;
        const std::string kept = package->Flush(flushError)
                                     ? "; they are kept, and the same command resumes"
                                     : "; the last of them are lost: " + flushError;
        if (signal == 0) return Fail(drawn.error + "; " + Counts(totals) + kept);
        std::fprintf(stderr, "zarvo-render: stopped by %s: %s%s\n", SignalName(signal), Counts(totals).c_str(),
                     kept.c_str());
        return 128 + signal;
    }
    if (!package->Finish(error)) return Fail(error);
    if (!options.quiet) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("%s: %s levels %d-%d%s: %llu tiles, %s, in %.1f s (%.1f tiles/s) -> %s\n", options.layer.c_str(),
                    plan.set->identifier, plan.levels.front().level, plan.levels.back().level,
                    PartText(options).c_str(), static_cast<unsigned long long>(drawn.tiles), Counts(totals).c_str(),
                    seconds, seconds > 0 ? static_cast<double>(totals.drawn) / seconds : 0.0,
                    options.output.path.c_str());
    }
    if (options.verbose && !options.quiet) {
        const TileCacheStats& stats = drawn.sources;
        std::printf("source tiles: %llu fetched and decoded, %llu taken again from the cache, %llu dropped from it\n",
                    static_cast<unsigned long long>(stats.fetched), static_cast<unsigned long long>(stats.hits),
                    static_cast<unsigned long long>(stats.evictions));
    }
    return 0;
}

int RunMerge(const RenderOptions& options) {
    tile_packages::OpenOptions open;
    open.overwrite = options.outputRules.overwrite;
    tile_packages::MergeReport report;
    std::string error;
    if (!tile_packages::MergeParts(options.pyramid.mergeParts, options.output.path, open, report, error)) {
        return Fail(error);
    }
    if (!options.quiet) {
        std::printf("merged %zu parts: %zu tiles (%zu held by more than one part) -> %s\n",
                    options.pyramid.mergeParts.size(), report.tiles, report.duplicates, options.output.path.c_str());
    }
    return 0;
}
