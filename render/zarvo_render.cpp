// zarvo-render: loads the plug-in as the map application does, asks it for
// one raster, fetches and decodes the tiles it names, and writes the raster
// it delivers as a PNG.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "host/image_codec.h"
#include "host/plugin_library.h"
#include "render/render_host.h"
#include "render/render_options.h"

namespace {

int Fail(const std::string& message, int code = 1) {
    std::fprintf(stderr, "zarvo-render: %s\n", message.c_str());
    return code;
}

void PrintDescriptor(const PluginDescriptor& d) {
    std::printf("plug-in: %s (%s), %s, %s\n", ToUtf8(d.name).c_str(), ToUtf8(d.type).c_str(),
                ToUtf8(d.description).c_str(), ToUtf8(d.vendor).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    RenderOptions options;
    std::string error;
    if (!ParseRenderOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "%s", kRenderUsage);
        return Fail(error, 2);
    }
    const auto started = std::chrono::steady_clock::now();
    const std::unique_ptr<PluginLibrary> library = PluginLibrary::Open(options.plugin, error);
    if (!library) {
        return Fail("cannot load the plug-in: " + error);
    }
    const PluginApi& api = library->Api();
    if (!options.quiet) {
        PrintDescriptor(*api.pluginInfo());
        std::fflush(stdout);
    }

    RenderHost host(api, MakeTileSource(options.tiles), options.quiet);
    if (!host.Bind(ToUtf16(options.layer), options.layerId)) {
        return Fail("unknown layer '" + options.layer + "': the plug-in serves map, aerial and hybrid");
    }
    DataRequestBlock request{};
    request.zoom = options.zoom;
    request.layerId = options.layerId;
    request.width = options.width;
    request.height = options.height;
    request.west = options.west;
    request.south = options.south;
    request.east = options.east;
    request.north = options.north;
    const RenderOutcome outcome = host.Render(request);
    if (outcome.requestResult != 1) {
        return Fail("request refused (" + std::to_string(outcome.requestResult) +
                    "): " + DescribeRequestResult(outcome.requestResult));
    }
    if (outcome.eventResult != 0) {
        return Fail(DescribeEventResult(outcome.eventResult, outcome.failure));
    }
    std::vector<uint8_t> png;
    if (!EncodePng(outcome.raster, png, error) || !WriteFile(options.out, png)) {
        return Fail("cannot write " + options.out + (error.empty() ? "" : ": " + error));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%s: %zu tiles, %.1f kB of tiles, %u x %u raster in %.2f s -> %s\n", options.layer.c_str(),
                outcome.tiles, outcome.tileBytes / 1024.0, options.width, options.height, seconds,
                options.out.c_str());
    return 0;
}
