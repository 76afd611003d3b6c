#include "bench/bench_scene.h"

#include <cmath>
#include <mutex>

#include "projection/mercator.h"

namespace {

constexpr size_t kTileBytes3 = 256 * 256 * 3;
constexpr size_t kTileBytes4 = 256 * 256 * 4;

// The shared tile pictures of one pixel depth, made on first use.
const std::vector<uint8_t>& Pictures(int32_t bytesPerPixel) {
    static std::once_flag once[2];
    static std::vector<uint8_t> pictures[2];
    const int slot = bytesPerPixel == 4 ? 1 : 0;
    std::call_once(once[slot], [&] {
        const size_t tileBytes = slot == 1 ? kTileBytes4 : kTileBytes3;
        std::vector<uint8_t>& all = pictures[slot];
        all.resize(tileBytes * BenchScene::kDistinctTiles);
        for (size_t k = 0; k < BenchScene::kDistinctTiles; ++k) {
            for (size_t i = 0; i < tileBytes; ++i) {
                all[k * tileBytes + i] = static_cast<uint8_t>(i * 7 + k * 13 + (i >> 9) * 3);
            }
        }
    });
    return pictures[slot];
}

}  // namespace

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

DataRequestBlock ScaledRequest(uint32_t size, double scale, int32_t layerId) {
    // A box 11.25 degrees wide is 2^(zoom + 2) world pixels wide.
    const double sourcePixels = size * scale;
    DataRequestBlock r{};
    r.zoom = static_cast<int32_t>(std::lround(std::log2(sourcePixels))) - 2;
    r.layerId = layerId;
    r.width = size;
    r.height = size;
    // Raster edges are samples, so the box spans size - 1 raster pixels.
    const double span = 11.25 * (size - 1) / size;
    r.west = 5.3;
    r.east = r.west + span;
    r.north = 50.2;
    // As tall as it is wide in world pixels.
    const double side = MercatorX(r.east, 1) - MercatorX(r.west, 1);
    r.south = LatitudeOfMercatorY(MercatorY(r.north, 1) + side, 1);
    return r;
}

BenchScene::BenchScene(const DataRequestBlock& request, int32_t bytesPerPixel) : bytesPerPixel(bytesPerPixel) {
    range = RequestTileRange(request);
    const std::vector<uint8_t>& pictures = Pictures(bytesPerPixel);
    const size_t bytes = bytesPerPixel == 4 ? kTileBytes4 : kTileBytes3;
    for (size_t k = 0; k < range.Count(); ++k) {
        // const_cast: the plug-in never writes to a tile.
        auto* pixels = const_cast<uint8_t*>(pictures.data() + (k % kDistinctTiles) * bytes);
        images.push_back(TileImage{pixels, static_cast<int32_t>(bytes), 256, 256, bytesPerPixel, 0});
    }
    job.request = request;
    job.items = images.data();
    job.itemCount = static_cast<int32_t>(images.size());
}

TileProvider SceneProvider(const BenchScene& scene) {
    return [&scene](const std::vector<std::string>&) {
        ProvidedTiles tiles;
        tiles.tiles.reserve(scene.Range().Count());
        for (size_t k = 0; k < scene.Range().Count(); ++k) {
            const TileImage& image = scene.Images()[k];
            tiles.tiles.push_back(TileView{image.pixels, static_cast<size_t>(image.byteSize), image.width,
                                           image.height, image.bytesPerPixel});
        }
        return tiles;
    };
}
