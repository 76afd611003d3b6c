#pragma once

#include <cstdint>

#include "projection/coord_transform.h"
#include "raster/separable_kernels.h"
#include "raster/tile_grid.h"

class ColumnPlans;

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
// SampleEveryPixel. Interpolates each source row once along the raster's
// columns, then blends pairs of those rows, with the kernels the processor
// runs fastest.
// Takes the plan of its columns from `plans` where one is given, which
// keeps it for the rasters after it.
void SampleSeparable(const CoordTransform& transform, const TileGrid& grid, const SampleRaster& raster,
                     uint8_t* out, ColumnPlans* plans = nullptr);

// The same with the given kernels.
void SampleSeparableWith(const CoordTransform& transform, const TileGrid& grid, const SampleRaster& raster,
                         const SeparableKernels& kernels, uint8_t* out, ColumnPlans* plans = nullptr);
