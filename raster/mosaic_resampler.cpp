#include "raster/mosaic_resampler.h"

#include <memory>
#include <vector>

#include "projection/tile_range.h"
#include "raster/raster_pool.h"
#include "raster/raster_sampling.h"
#include "raster/tile_grid.h"

namespace {

// Distance between neighbouring samples: the first and last sample of an
// axis fall exactly on its two edges. A single sample sits on the first edge.
double SampleStep(double first, double last, uint32_t count) {
    if (count == 1) {
        return 0.0;
    }
    return (last - first) / static_cast<double>(count - 1);
}

int32_t CheckImages(const DownloadJob& job, size_t tileCount, int32_t tileWidth, int32_t tileHeight) {
    const int64_t n = static_cast<int64_t>(tileCount);
    if (job.itemCount != n && job.itemCount != 2 * n) {
        return ZARVO_EVENT_TILES_MISMATCH;
    }
    const auto* images = static_cast<const TileImage*>(job.items);
    if (images == nullptr) {
        return ZARVO_EVENT_BAD_TILE_IMAGE;
    }
    // Only the first n images belong to the tiles; a host may send twice as
    // many, and the rest is never looked at.
    for (size_t k = 0; k < tileCount; ++k) {
        if (!IsUsableTileImage(images[k], tileWidth, tileHeight)) {
            return ZARVO_EVENT_BAD_TILE_IMAGE;
        }
    }
    return ZARVO_EVENT_RASTER_READY;
}

}  // namespace

int32_t ResampleMosaic(const CoordTransform& transform, const DownloadJob& job, LayerImage& image,
                       ColumnPlans* plans) {
    const DataRequestBlock& request = job.request;
    const TileRange range = RequestTileRange(transform, request);
    if (range.Empty()) {
        return ZARVO_EVENT_TILES_MISMATCH;  // no job of ours has no tiles
    }
    const int32_t checked = CheckImages(job, range.Count(), range.tileWidth, range.tileHeight);
    if (checked != ZARVO_EVENT_RASTER_READY) {
        return checked;
    }
    const TileGrid grid(range, static_cast<const TileImage*>(job.items));

    // The range refuses rasters over 2^31 - 1 bytes, so this fits.
    const uint32_t byteSize = request.width * request.height * 3;
    // From the pool, so that a raster of a size seen before has its pages
    // already; it crosses to the host and comes back to the pool.
    PooledRaster raster(TakeRaster(byteSize), RasterReturn{byteSize});

    SampleRaster sampling{};
    sampling.zoom = request.zoom;
    sampling.width = request.width;
    sampling.height = request.height;
    sampling.west = request.west;
    sampling.north = request.north;
    sampling.stepX = SampleStep(request.west, request.east, request.width);
    sampling.stepY = SampleStep(request.north, request.south, request.height);
    if (transform.IsSeparable()) {
        SampleSeparable(transform, grid, sampling, raster.get(), plans);
    } else {
        SampleEveryPixel(transform, grid, sampling, raster.get());
    }

    image.pixels = raster.release();
    image.byteSize = static_cast<int32_t>(byteSize);
    image.width = static_cast<int32_t>(request.width);
    image.height = static_cast<int32_t>(request.height);
    image.bytesPerPixel = 3;
    return ZARVO_EVENT_RASTER_READY;
}
