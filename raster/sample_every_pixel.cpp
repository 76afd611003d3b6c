#include "raster/raster_sampling.h"

void SampleEveryPixel(const CoordTransform& transform, const TileGrid& grid, const SampleRaster& raster,
                      uint8_t* out) {
    for (uint32_t i = 0; i < raster.height; ++i) {
        const double lat = raster.north + i * raster.stepY;
        for (uint32_t j = 0; j < raster.width; ++j) {
            const double lon = raster.west + j * raster.stepX;
            const WorldPoint p = transform.ToWorldPixel(lon, lat, raster.zoom);
            SampleGrid(grid, grid.LocateColumn(p.x), grid.LocateRow(p.y), out);
            out += 3;
        }
    }
}
