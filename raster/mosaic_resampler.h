#pragma once

#include <cstdint>

#include <zarvo_data_plugin.h>
#include "projection/coord_transform.h"

class ColumnPlans;

// Assembles the raster of a completed job from its tile images: samples the
// request's rectangle on a regular longitude/latitude grid, projects every
// sample and interpolates bilinearly between the four nearest tile pixels.
// Returns 0 and fills `image`, or a negative code and leaves `image`
// untouched. The raster comes from TakeRaster (raster/raster_pool.h): hand
// it back with ReturnRaster(pixels, byteSize), or free it with delete[].
// `plans`, where given, keeps the plans of the raster's columns for the
// rasters after it.
int32_t ResampleMosaic(const CoordTransform& transform, const DownloadJob& job, LayerImage& image,
                       ColumnPlans* plans = nullptr);
