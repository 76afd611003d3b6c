#include <vector>

#include "raster/raster_sampling.h"

void SampleSeparable(const CoordTransform& transform, const TileGrid& grid, const SampleRaster& raster,
                     uint8_t* out) {
    // x depends on the longitude alone and y on the latitude alone, so one
    // projection per column and one per row give every sample's world pixel.
    std::vector<AxisSample> columns(raster.width);
    for (uint32_t j = 0; j < raster.width; ++j) {
        const double lon = raster.west + j * raster.stepX;
        columns[j] = grid.LocateColumn(transform.ToWorldPixel(lon, raster.north, raster.zoom).x);
    }
    for (uint32_t i = 0; i < raster.height; ++i) {
        const double lat = raster.north + i * raster.stepY;
        const AxisSample row = grid.LocateRow(transform.ToWorldPixel(raster.west, lat, raster.zoom).y);
        for (uint32_t j = 0; j < raster.width; ++j) {
            SampleGrid(grid, columns[j], row, out);
            out += 3;
        }
    }
}
