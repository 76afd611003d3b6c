#pragma once

#include <cstdint>
#include <vector>

#include "bench/bench_scene.h"

// The floor raster assembly is measured against: a nearest-neighbour
// gather that writes the same raster from the same tiles, with the same
// bytes per pixel. One projection per column and per row, then per raster
// pixel one 3-byte copy from a tile row.
class FloorGather {
public:
    explicit FloorGather(const BenchScene& scene);

    // Writes the raster into `out`, width * height * 3 bytes.
    void Run(uint8_t* out);

private:
    const BenchScene& scene;
    std::vector<int32_t> tileOf;
    std::vector<int32_t> offsetOf;
    std::vector<const uint8_t*> rowBase;
};
