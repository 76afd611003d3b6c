// Raster assembly on one scene at three sizes: the fast path of a separable
// transform, the per-pixel path of a generic one, and a nearest-neighbour
// gather that writes the same raster from the same tiles (the floor).

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "bench/bench_scene.h"
#include "raster/mosaic_resampler.h"

namespace {

void Resample(benchmark::State& state, const CoordTransform& transform, int32_t bytesPerPixel) {
    const BenchScene scene(SceneRequest(static_cast<uint32_t>(state.range(0))), bytesPerPixel);
    for (auto _ : state) {
        LayerImage image{};
        if (ResampleMosaic(transform, scene.Job(), image) != 0) state.SkipWithError("no raster");
        benchmark::DoNotOptimize(image.pixels);
        delete[] image.pixels;
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(0));
}

void BM_FastPath(benchmark::State& state) {
    const ZarvoCoordTransform map(LayerKind::Map, u"map");
    Resample(state, map, 3);
}

void BM_FastPath4Byte(benchmark::State& state) {
    const ZarvoCoordTransform map(LayerKind::Map, u"map");
    Resample(state, map, 4);
}

void BM_PerPixelPath(benchmark::State& state) {
    const PerPixelTransform generic;
    Resample(state, generic, 3);
}

// Nearest-neighbour gather: per-column tile and byte offset, per-row tile
// row pointers, one 3-byte copy per output pixel.
void BM_FloorGather(benchmark::State& state) {
    const uint32_t size = static_cast<uint32_t>(state.range(0));
    const DataRequestBlock request = SceneRequest(size);
    const BenchScene scene(request, 3);
    const ZarvoCoordTransform map(LayerKind::Map, u"map");
    const int32_t x0 = scene.Range().x0;
    const int32_t y0 = scene.Range().y0;
    const int32_t columns = scene.Range().columns;
    std::vector<int32_t> tileOf(size), offsetOf(size);
    std::vector<const uint8_t*> rowBase(static_cast<size_t>(columns));
    for (auto _ : state) {
        std::unique_ptr<uint8_t[]> raster(new uint8_t[size_t{size} * size * 3]);
        const double stepX = (request.east - request.west) / (size - 1);
        const double stepY = (request.south - request.north) / (size - 1);
        for (uint32_t j = 0; j < size; ++j) {
            const int32_t px = static_cast<int32_t>(map.ToWorldPixel(request.west + j * stepX, request.north, 8).x) - x0;
            tileOf[j] = px / 256;
            offsetOf[j] = (px % 256) * 3;
        }
        uint8_t* out = raster.get();
        for (uint32_t i = 0; i < size; ++i) {
            const int32_t py = static_cast<int32_t>(map.ToWorldPixel(request.west, request.north + i * stepY, 8).y) - y0;
            for (int32_t c = 0; c < columns; ++c) {
                rowBase[static_cast<size_t>(c)] = scene.Images()[(py / 256) * columns + c].pixels + (py % 256) * 256 * 3;
            }
            for (uint32_t j = 0; j < size; ++j) {
                const uint8_t* p = rowBase[static_cast<size_t>(tileOf[j])] + offsetOf[j];
                out[0] = p[0];
                out[1] = p[1];
                out[2] = p[2];
                out += 3;
            }
        }
        benchmark::DoNotOptimize(raster.get());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(0));
}

}  // namespace

BENCHMARK(BM_FastPath)->Arg(256)->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FastPath4Byte)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PerPixelPath)->Arg(256)->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorGather)->Arg(256)->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond);
