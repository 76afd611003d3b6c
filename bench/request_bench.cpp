// Building a request's addresses, and one request from DataRequest to the
// event through the loaded library's C interface.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/bench_scene.h"
#include "host/plugin_library.h"
#include "layers/zarvo_src_layer.h"

namespace {

// A screen of 1920 x 1080 at zoom 12 near latitude 50: about one tile pixel
// per screen pixel.
void BM_BuildRequest(benchmark::State& state) {
    ZarvoSrcLayer layer;
    layer.Init(u"map");
    DataRequestBlock request{};
    request.zoom = 12;
    request.width = 1920;
    request.height = 1080;
    request.west = 10;
    request.east = 11.318;
    request.south = 50;
    request.north = 50.477;
    size_t tiles = 0;
    for (auto _ : state) {
        std::vector<std::u16string> urls;
        layer.BuildRequest(request, urls);
        tiles = urls.size();
        benchmark::DoNotOptimize(urls.data());
    }
    state.counters["tiles"] = static_cast<double>(tiles);
}

struct EndToEnd {
    const BenchScene* scene;
    int32_t result;
};

int32_t KVL_CALL CompleteAtOnce(DownloadJob* job, DownloadDoneFn done, void* context) {
    auto* run = static_cast<EndToEnd*>(context);
    DownloadJob completed = run->scene->Job();
    completed.request = job->request;
    done(0, &completed);
    return 1;
}

void KVL_CALL RecordEvent(int32_t result, DownloadJob*, LayerImage*, void* context) {
    static_cast<EndToEnd*>(context)->result = result;
}

void BM_DataRequestToEvent(benchmark::State& state) {
    std::string error;
    const auto library = PluginLibrary::Open(ZARVO_PLUGIN_PATH, error);
    if (!library) {
        state.SkipWithError(error.c_str());
        return;
    }
    const PluginApi& api = library->Api();
    const DataRequestBlock request = SceneRequest(static_cast<uint32_t>(state.range(0)));
    const BenchScene scene(request, 3);
    EndToEnd run{&scene, 1};
    api.setDownloadCallback(CompleteAtOnce, &run);
    api.setEventCallback(RecordEvent, &run);
    api.initLayer(u"map", 1);
    for (auto _ : state) {
        if (api.request(&request) != 1 || run.result != 0) state.SkipWithError("request failed");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(0));
}

}  // namespace

BENCHMARK(BM_BuildRequest)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DataRequestToEvent)->Arg(1024)->Unit(benchmark::kMillisecond);
