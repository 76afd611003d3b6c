#include "bench/floor_gather.h"

#include "projection/mercator.h"

FloorGather::FloorGather(const BenchScene& scene)
    : scene(scene),
      tileOf(scene.Job().request.width),
      offsetOf(scene.Job().request.width),
      rowBase(static_cast<size_t>(scene.Range().columns)) {}

void FloorGather::Run(uint8_t* out) {
    const DataRequestBlock& request = scene.Job().request;
    const TileRange& range = scene.Range();
    const int32_t depth = scene.BytesPerPixel();
    const uint32_t width = request.width;
    const uint32_t height = request.height;
    const double stepX = width > 1 ? (request.east - request.west) / (width - 1) : 0;
    const double stepY = height > 1 ? (request.south - request.north) / (height - 1) : 0;
    for (uint32_t j = 0; j < width; ++j) {
        const double x = MercatorWorldPixel(request.west + j * stepX, request.north, request.zoom).x;
        const int32_t px = static_cast<int32_t>(x) - range.x0;
        tileOf[j] = px / 256;
        offsetOf[j] = (px % 256) * depth;
    }
    for (uint32_t i = 0; i < height; ++i) {
        const double y = MercatorWorldPixel(request.west, request.north + i * stepY, request.zoom).y;
        const int32_t py = static_cast<int32_t>(y) - range.y0;
        for (int32_t c = 0; c < range.columns; ++c) {
            rowBase[static_cast<size_t>(c)] =
                scene.Images()[(py / 256) * range.columns + c].pixels + (py % 256) * 256 * depth;
        }
        for (uint32_t j = 0; j < width; ++j) {
            const uint8_t* p = rowBase[static_cast<size_t>(tileOf[j])] + offsetOf[j];
            out[0] = p[0];
            out[1] = p[1];
            out[2] = p[2];
            out += 3;
        }
    }
}
