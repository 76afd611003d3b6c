// Raster assembly of one cell of the matrix at a time, for profiling:
// BM_FastPath/SIZE/SCALE/DEPTH with SCALE 0 to 3 for upsampling 2x, 1:1,
// downsampling 2x and 4x. zarvo_bench_matrix times them all side by side.

#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_scene.h"
#include "bench/floor_gather.h"
#include "raster/mosaic_resampler.h"
#include "raster/raster_pool.h"

namespace {

constexpr double kScales[] = {0.5, 1, 2, 4};

DataRequestBlock CellRequest(const benchmark::State& state) {
    return ScaledRequest(static_cast<uint32_t>(state.range(0)), kScales[state.range(1)]);
}

void Resample(benchmark::State& state, const CoordTransform& transform) {
    const BenchScene scene(CellRequest(state), static_cast<int32_t>(state.range(2)));
    for (auto _ : state) {
        LayerImage image{};
        if (ResampleMosaic(transform, scene.Job(), image) != 0) state.SkipWithError("no raster");
        benchmark::DoNotOptimize(image.pixels);
        ReturnRaster(image.pixels, static_cast<size_t>(image.byteSize));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(0));
}

void BM_FastPath(benchmark::State& state) {
    const ZarvoCoordTransform map(LayerKind::Map, u"map");
    Resample(state, map);
}

void BM_PerPixelPath(benchmark::State& state) {
    const PerPixelTransform generic;
    Resample(state, generic);
}

void BM_FloorGather(benchmark::State& state) {
    const BenchScene scene(CellRequest(state), static_cast<int32_t>(state.range(2)));
    FloorGather floor(scene);
    std::vector<uint8_t> raster(static_cast<size_t>(state.range(0) * state.range(0) * 3));
    for (auto _ : state) {
        floor.Run(raster.data());
        benchmark::DoNotOptimize(raster.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(0));
}

void Cells(benchmark::internal::Benchmark* b) {
    b->ArgNames({"size", "scale", "depth"});
    for (int64_t size : {64, 256, 1024, 2048, 4096}) {
        for (int64_t scale = 0; scale < 4; ++scale) {
            for (int64_t depth : {3, 4}) b->Args({size, scale, depth});
        }
    }
}

}  // namespace

BENCHMARK(BM_FastPath)->Apply(Cells)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PerPixelPath)->Apply(Cells)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorGather)->Apply(Cells)->Unit(benchmark::kMillisecond);
