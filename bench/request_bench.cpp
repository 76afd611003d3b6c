// Building a request's addresses, and one request from DataRequest to the
// event through the loaded library's C interface.

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "bench/bench_scene.h"
#include "host/plugin_host.h"
#include "host/plugin_library.h"
#include "layers/zarvo_src_layer.h"
#include "projection/mercator.h"

namespace {

// Times the listing of `request`'s tile addresses; the tiles it lists.
size_t TimeBuildRequest(benchmark::State& state, const DataRequestBlock& request) {
    ZarvoSrcLayer layer;
    layer.Init(u"map");
    size_t tiles = 0;
    for (auto _ : state) {
        AddressList urls;
        layer.BuildRequest(request, urls);
        tiles = urls.Size();
        benchmark::DoNotOptimize(urls.Text(0));
    }
    return tiles;
}

// A screen of 1920 x 1080 at zoom 12 near latitude 50: about one tile pixel
// per screen pixel.
void BM_BuildRequest(benchmark::State& state) {
    DataRequestBlock request{};
    request.zoom = 12;
    request.width = 1920;
    request.height = 1080;
    request.west = 10;
    request.east = 11.318;
    request.south = 50;
    request.north = 50.477;
    const size_t tiles = TimeBuildRequest(state, request);
    state.counters["tiles"] = static_cast<double>(tiles);
}

// The most tiles one request may have: 256 x 256 at zoom 12.
DataRequestBlock LargestRequest() {
    const int32_t zoom = 12;
    const double offset = std::ldexp(1.0, zoom + 9);
    const auto longitude = [&](double x) { return LongitudeOfWorldX(x, zoom); };
    const auto latitude = [&](double y) { return LatitudeOfWorldY(y, zoom); };
    // Tile-aligned corners, moved inward past the two-pixel margin.
    const double x0 = 64 * 1024 + 2.5;
    const double y0 = offset + 160 * 1024 + 2.5;
    const double side = 256 * 256 - 5.0;
    DataRequestBlock request{};
    request.zoom = zoom;
    request.width = 1024;
    request.height = 1024;
    request.west = longitude(x0);
    request.east = longitude(x0 + side);
    request.north = latitude(y0);
    request.south = latitude(y0 + side);
    return request;
}

void BM_BuildLargestRequest(benchmark::State& state) {
    const DataRequestBlock request = LargestRequest();
    const size_t tiles = TimeBuildRequest(state, request);
    if (tiles != static_cast<size_t>(kMaxTilesPerRequest)) state.SkipWithError("not the largest request");
    state.counters["tiles"] = static_cast<double>(tiles);
}

void BM_DataRequestToEvent(benchmark::State& state) {
    std::string error;
    const auto library = PluginLibrary::Open(ZARVO_PLUGIN_PATH, error);
    if (!library) {
        state.SkipWithError(error.c_str());
        return;
    }
    const DataRequestBlock request = SceneRequest(static_cast<uint32_t>(state.range(0)));
    const BenchScene scene(request, 3);
    const TileProvider provider = SceneProvider(scene);
    PluginHost host(library->Api(), CompleteOn::RenderingThread);
    host.Bind("map", 1);
    for (auto _ : state) {
        if (!host.Render(request, provider).Ok()) state.SkipWithError("request failed");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(0));
}

}  // namespace

BENCHMARK(BM_BuildRequest)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildLargestRequest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DataRequestToEvent)->Arg(1024)->Unit(benchmark::kMillisecond);
