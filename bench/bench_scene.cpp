#include "bench/bench_scene.h"


DataRequestBlock SceneRequest(uint32_t size, int32_t layerId) {
    DataRequestBlock r{};
    r.zoom = 8;
    r.layerId = layerId;
    r.width = size;
    r.height = size;
    r.west = 0;
    r.east = 20;
    r.south = 40;
    r.north = 55;
    return r;
}

BenchScene::BenchScene(const DataRequestBlock& request, int32_t bytesPerPixel) {
    const ZarvoCoordTransform map(LayerKind::Map, u"map");
    range = RequestTileRange(map, request);
    const size_t bytes = 256 * 256 * static_cast<size_t>(bytesPerPixel);
    for (size_t k = 0; k < range.Count(); ++k) {
        buffers.emplace_back(new uint8_t[bytes]);
        for (size_t i = 0; i < bytes; ++i) {
            buffers.back()[i] = static_cast<uint8_t>(i * 7 + k * 13 + (i >> 9) * 3);
        }
        images.push_back(TileImage{buffers.back().get(), static_cast<int32_t>(bytes), 256, 256, bytesPerPixel, 0});
    }
    job.request = request;
    job.items = images.data();
    job.itemCount = static_cast<int32_t>(images.size());
}
