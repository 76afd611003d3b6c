// zarvo-render: loads the plug-in as the map application does, asks it for
// one raster, fetches and decodes the tiles it names, and writes the raster
// it delivers, georeferenced; or draws a pyramid of tiles into a tile
// package (render/pyramid/).

#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "host/plugin_host.h"
#include "host/plugin_library.h"
#include "host/tile_cache.h"
#include "host/tile_levels.h"
#include "host/program_directory.h"
#include "host/utf16.h"
#include "host/zoom_choice.h"
#include "projection/zoom.h"
#include "projection/tile_service.h"
#include "render/chunked_render.h"
#include "render/memory_budget.h"
#include "render/output_claim.h"
#include "render/output_format.h"
#include "render/progress.h"
#include "render/pyramid/pyramid_command.h"
#include "render/raster_output.h"
#include "render/stop_signals.h"
#include "render/render_host.h"
#include "render/render_options.h"

namespace {

// Both cores busy: one request resamples while the other takes in its tiles.
constexpr unsigned kRequestsInFlight = 2;

int Fail(const std::string& message) {
    std::fprintf(stderr, "zarvo-render: %s\n", message.c_str());
    return 1;
}

// A mistake in the arguments: one line, with where to look.
int FailUsage(const std::string& message) {
    return RefuseArguments("zarvo-render", message);
}

// "1 tile", "2 tiles".
std::string Count(size_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

void PrintDescriptor(const PluginDescriptor& d) {
    std::printf("plug-in: %s (%s), %s, %s\n", ToUtf8(d.name).c_str(), ToUtf8(d.type).c_str(),
                ToUtf8(d.description).c_str(), ToUtf8(d.vendor).c_str());
}

// The zoom zarvo-serve would draw this grid at, no deeper than the source
// holds (or --max-zoom); 0, with one line in `error`, when the source holds
// no level of the layer.
int32_t AutoZoom(const RenderOptions& options, std::string& error) {
    int32_t deepest = options.maxZoom;
    if (deepest == 0) {
        deepest = DeepestZoomHeld(options.tiles, options.layer);
        if (deepest == kLevelsUnknown) deepest = kMaxZoom;
        if (deepest == 0) error = "--tiles " + options.tiles + " holds no level of the " + options.layer + " layer";
    }
    const PixelGrid grid = options.Grid();
    return deepest == 0 ? 0 : ChooseImageZoom(grid.dx, grid.dy, grid.North() - grid.height * grid.dy, grid.North(),
                                              deepest);
}

int Run(const RenderOptions& options) {
    std::string error;
    std::unique_ptr<TileSource> source = MakeTileSource(options.tiles, error);
    if (!source) {
        return FailUsage("--tiles: " + error);
    }
    // Claimed before any work, for the whole run.
    bool failedToClaim = false;
    const std::unique_ptr<OutputClaim> claim =
        OutputClaim::Take(options.output.path, options.outputRules, error, failedToClaim);
    if (!claim) {
        return failedToClaim ? Fail(error) : FailUsage(error);
    }
    OutputSettings output = options.output;
    output.path = claim->Target();
    if (!CheckOutputSettings(output, error)) {
        return FailUsage(error);
    }
    PixelGrid grid = options.Grid();
    if (options.chunkCount > 0) {
        const uint64_t first = uint64_t{grid.height} * (options.chunkIndex - 1) / options.chunkCount;
        const uint64_t end = uint64_t{grid.height} * options.chunkIndex / options.chunkCount;
        grid = grid.Rows(static_cast<uint32_t>(first), static_cast<uint32_t>(end - first));
    }
    PlacementPolicy policy;
    policy.zoom = options.zoom > 0 ? options.zoom : AutoZoom(options, error);
    if (policy.zoom == 0) {
        return Fail(error);
    }
    policy.pluginGrid = options.pluginGrid;
    const MemoryShares memory = ShareMemoryBudget(options.memoryBudgetBytes, kRequestsInFlight);
    const RenderPlan plan = PlanRender(grid, policy, memory.segments);
    if (!plan.error.empty()) {
        return FailUsage(plan.error + "; a lower --zoom (or --zoom auto) draws it");
    }

    const auto started = std::chrono::steady_clock::now();
    const std::string pluginPath = options.plugin.empty() ? DefaultPluginPath() : options.plugin;
    const std::unique_ptr<PluginLibrary> library = PluginLibrary::Open(pluginPath, error);
    if (!library) {
        return Fail("cannot load the plug-in " + pluginPath + ": " + error);
    }
    const PluginApi& api = library->Api();
    if (options.verbose && !options.quiet) {
        PrintDescriptor(*api.pluginInfo());
        std::fflush(stdout);
    }

    // As the map application does: the tiles are fetched and decoded on a
    // worker thread, which completes the job; two requests are in flight.
    PluginHost host(api, CompleteOn::WorkerThread);
    if (!host.Bind(options.layer, options.layerId)) {
        return FailUsage("unknown layer '" + options.layer + "': the plug-in serves " + kServiceLayers[0] + ", " +
                         kServiceLayers[1] + " and " + kServiceLayers[2]);
    }
    DrawSettings draw;
    draw.threads = kRequestsInFlight;
    draw.layerId = options.layerId;
    Progress progress(ProgressStyleFor(stderr, options.quiet), stderr, "pixels");
    draw.progress = &progress;
    draw.render.intake.missing = options.missing;
    draw.render.intake.limits = options.limits;
    draw.render.memoryBudgetBytes = memory.requestTileBytes;
    TileCache sharedTiles(static_cast<size_t>(memory.sharedTileBytes));
    draw.render.sharedTiles = &sharedTiles;
    output.cacheBytes = memory.gdalCacheBytes;
    const std::unique_ptr<RasterOutput> out = RasterOutput::Create(grid, output, error);
    if (!out) {
        return Fail(error);
    }
    RenderTotals totals;
    const TileSourceFactory sources = [&options](std::string& problem) { return MakeTileSource(options.tiles, problem); };
    if (!DrawPlan(host, plan, sources, draw, *out, totals, error)) {
        progress.Finish(false);
        return Fail(error);
    }
    if (totals.tiles > 0 && totals.missing == totals.tiles) {
        progress.Finish(false);
        return Fail("every tile is missing (" + std::to_string(totals.tiles) + "; the first: " + totals.firstMissing +
                    "); is the source's layout right ({y} counts rows from the north, {-y} from the south) and does "
                    "it hold zoom " + std::to_string(policy.zoom - 1) + " (--zoom " + std::to_string(policy.zoom) +
                    ")?");
    }
    if (!out->Commit(error)) {
        progress.Finish(false);
        return Fail(error);
    }
    progress.Finish(true);
    // Told even when quiet, as a warning is.
    if (totals.missing > 0) {
        std::fprintf(stderr, "zarvo-render: %zu of %s missing, drawn blank; the first: %s\n", totals.missing,
                     Count(totals.tiles, "tile").c_str(), totals.firstMissing.c_str());
    }
    if (options.quiet) {
        return 0;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%s: zoom %d, %s, %s (%zu missing), %.1f kB of tiles, %u x %u raster in %.2f s -> %s\n",
                options.layer.c_str(), policy.zoom, Count(totals.requests, "request").c_str(),
                Count(totals.tiles, "tile").c_str(), totals.missing, static_cast<double>(totals.tileBytes) / 1024.0,
                grid.width, grid.height, seconds, output.path.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Tiles and rasters (a tile is 192 kB) are mapped each of their own and
    // given back when freed: glibc's heaps would keep what they freed, the
    // heap of every thread apart, and the memory budget would not hold.
    mallopt(M_MMAP_THRESHOLD, 128 << 10);
    mallopt(M_ARENA_MAX, 2);
    // Before any thread starts.
    const StopSignals stops("zarvo-render");
    RenderOptions options;
    const CommandLineOutcome parsed =
        ParseRenderOptions(std::vector<std::string>(argv + 1, argv + argc), ZARVO_VERSION, options);
    if (parsed.next != CommandLineOutcome::Next::Run) {
        return parsed.Stop("zarvo-render");
    }
    // A file-size limit makes a write fail (and the output be removed)
    // instead of killing the program with its temporary file left behind.
    signal(SIGXFSZ, SIG_IGN);
    // Nothing thrown gets past here as an abort: one line and a failure.
    try {
        switch (options.mode) {
            case RenderMode::Raster: return Run(options);
            case RenderMode::Pyramid: return RunPyramid(options);
            case RenderMode::Merge: return RunMerge(options);
        }
        return Run(options);
    } catch (const std::exception& e) {
        return Fail(std::string("failed: ") + e.what());
    } catch (...) {
        return Fail("failed");
    }
}
