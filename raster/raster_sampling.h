#pragma once

#include <cstdint>

#include "projection/coord_transform.h"
#include "raster/tile_grid.h"

// The regular longitude/latitude grid of one output raster: sample (j, i)
// lies at longitude west + j * stepX and latitude north + i * stepY.
struct SampleRaster {
    int32_t zoom;
    uint32_t width;
    uint32_t height;
    double west;
    double north;
    double stepX;
    double stepY;
};

// Projects every sample with its own ToWorldPixel call, row by row. Serves
// any transform.
void SampleEveryPixel(const CoordTransform& transform, const TileGrid& grid, const SampleRaster& raster,
                      uint8_t* out);

// For a separable transform: projects each column's longitude and each
// row's latitude once and reuses them. Writes the same bytes as
// SampleEveryPixel.
void SampleSeparable(const CoordTransform& transform, const TileGrid& grid, const SampleRaster& raster,
                     uint8_t* out);
