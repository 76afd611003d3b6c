// zarvo-render: loads the plug-in as the map application does, asks it for
// one raster, fetches and decodes the tiles it names, and writes the raster
// it delivers, georeferenced.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "host/plugin_host.h"
#include "host/plugin_library.h"
#include "host/program_directory.h"
#include "projection/tile_service.h"
#include "host/utf16.h"
#include "render/georeferenced_output.h"
#include "render/render_host.h"
#include "render/render_options.h"

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "zarvo-render: %s\n", message.c_str());
    return 1;
}

// A mistake in the arguments: one line, with where to look.
int FailUsage(const std::string& message) {
    std::fprintf(stderr, "zarvo-render: %s (zarvo-render --help tells more)\n", message.c_str());
    return 2;
}

void PrintDescriptor(const PluginDescriptor& d) {
    std::printf("plug-in: %s (%s), %s, %s\n", ToUtf8(d.name).c_str(), ToUtf8(d.type).c_str(),
                ToUtf8(d.description).c_str(), ToUtf8(d.vendor).c_str());
}

int Run(const RenderOptions& options) {
    std::string error;
    OutputFormat format;
    if (!OutputFormatFor(options.out, format, error)) {
        return FailUsage(error);
    }
    std::unique_ptr<TileSource> source = MakeTileSource(options.tiles, error);
    if (!source) {
        return FailUsage("--tiles: " + error);
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

    RenderSettings settings;
    settings.intake.missing = options.missing;
    settings.intake.limits = options.limits;
    settings.memoryBudgetBytes = options.memoryBudgetBytes;
    settings.progress = ProgressStyleFor(stderr, options.quiet);
    // As the map application does: the tiles are fetched and decoded on a
    // worker thread, which completes the job.
    PluginHost host(api, CompleteOn::WorkerThread);
    if (!host.Bind(options.layer, options.layerId)) {
        return Fail("unknown layer '" + options.layer + "': the plug-in serves " + kServiceLayers[0] + ", " +
                    kServiceLayers[1] + " and " + kServiceLayers[2]);
    }
    const SampledBox box{options.west, options.south, options.east, options.north};
    IntakeReport report;
    const RenderOutcome outcome = host.Render(options.layerId, options.zoom, box, options.width, options.height,
                                              RenderTileProvider(*source, settings, report));
    if (!outcome.Ok()) {
        return Fail(outcome.message);
    }
    if (!WriteGeoreferenced(outcome.raster, box, options.out, format, error)) {
        return Fail(error);
    }
    if (options.quiet) {
        return 0;
    }
    if (report.missing > 0) {
        std::fprintf(stderr, "zarvo-render: %zu of %zu tiles missing, drawn blank (the first: %s)\n", report.missing,
                     report.tiles, report.firstMissing.c_str());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%s: %zu tiles (%zu missing), %.1f kB of tiles, %u x %u raster in %.2f s -> %s\n",
                options.layer.c_str(), report.tiles, report.missing, static_cast<double>(report.tileBytes) / 1024.0,
                options.width, options.height, seconds, options.out.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    RenderOptions options;
    std::string error;
    if (!ParseRenderOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        return FailUsage(error);
    }
    if (options.action == RenderOptions::Action::Help) {
        std::fputs(kRenderUsage, stdout);
        return 0;
    }
    if (options.action == RenderOptions::Action::Version) {
        std::printf("zarvo-render %s\n", ZARVO_VERSION);
        return 0;
    }
    // Nothing thrown gets past here as an abort: one line and a failure.
    try {
        return Run(options);
    } catch (const std::exception& e) {
        return Fail(std::string("failed: ") + e.what());
    } catch (...) {
        return Fail("failed");
    }
}
