#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <zarvo_data_plugin.h>
#include "projection/tile_range.h"

// Where a sample falls along one axis of the tile grid: the tile index along
// that axis and the pixel within it, for the sample's own pixel and for the
// next one east (or south), and the sample's distance past its pixel.
struct AxisSample {
    bool inside;     // the pixel and its successor both lie in the grid
    int32_t tile;    // grid column (or row) of the sample's pixel
    int32_t pixel;   // pixel within that tile
    int32_t nextTile;
    int32_t nextPixel;
    double frac;     // coordinate minus its truncated pixel, in [0, 1)
};

// The downloaded tiles of one job, laid out as their range lists them:
// image k is the picture of tile k. Images must have been checked with
// IsUsableTileImage first.
class TileGrid {
public:
    TileGrid(const TileRange& range, const TileImage* images);

    AxisSample LocateColumn(double x) const { return Locate(x, x0, tileWidth, columns); }
    AxisSample LocateRow(double y) const { return Locate(y, y0, tileHeight, rows); }

    const TileImage& Image(int32_t tileRow, int32_t tileColumn) const {
        return images[static_cast<size_t>(tileRow) * static_cast<size_t>(columns) + static_cast<size_t>(tileColumn)];
    }

    // First byte of pixel (dx, dy) of the tile at (tileRow, tileColumn).
    const uint8_t* Pixel(int32_t tileRow, int32_t tileColumn, int32_t dx, int32_t dy) const {
        const TileImage& image = Image(tileRow, tileColumn);
        return image.pixels + (static_cast<size_t>(dy) * static_cast<size_t>(tileWidth) + static_cast<size_t>(dx)) *
                                  static_cast<size_t>(image.bytesPerPixel);
    }

    int32_t Columns() const { return columns; }
    int64_t West() const { return x0; }  // world x of the grid's first column
    int32_t TileWidth() const { return tileWidth; }
    int32_t TileHeight() const { return tileHeight; }

private:
    // Inline: a raster locates every one of its columns and rows.
    static AxisSample Locate(double v, int64_t origin, int32_t tileSize, int32_t tileCount);

    const TileImage* images;
    int32_t tileWidth;
    int32_t tileHeight;
    int64_t x0;
    int64_t y0;
    int32_t columns;
    int32_t rows;
};

inline AxisSample TileGrid::Locate(double v, int64_t origin, int32_t tileSize, int32_t tileCount) {
    AxisSample s{};
    // The sample's pixel and the next one must both lie in the grid. The
    // test is made on the double, so NaN and values beyond the 32-bit range
    // fail it before any conversion.
    int64_t lastStart = origin + int64_t{tileCount} * tileSize - 1;
    if (lastStart > INT32_MAX) {
        lastStart = INT32_MAX;
    }
    if (!(v >= static_cast<double>(origin) && v < static_cast<double>(lastStart))) {
        return s;
    }
    const int32_t p = static_cast<int32_t>(v);
    const int32_t rel = static_cast<int32_t>(p - origin);
    s.inside = true;
    s.tile = rel / tileSize;
    s.pixel = rel % tileSize;
    if (s.pixel + 1 < tileSize) {
        s.nextTile = s.tile;
        s.nextPixel = s.pixel + 1;
    } else {
        s.nextTile = s.tile + 1;
        s.nextPixel = 0;
    }
    s.frac = v - p;
    return s;
}

// A tile image the resampler can read without leaving its buffer: one tile
// wide, 3 or 4 bytes per pixel, and at least one tile's worth of bytes.
bool IsUsableTileImage(const TileImage& image, int32_t tileWidth, int32_t tileHeight);

// The bilinear blend of the four source pixels of one sample, channel by
// channel, truncated toward zero to a byte. The order of operations is
// fixed: rasters must come out the same to the bit on every build.
inline void BlendPixel(const uint8_t* p00, const uint8_t* p10, const uint8_t* p01, const uint8_t* p11, double fx,
                       double fy, uint8_t* out) {
    const double wx0 = 1 - fx;
    const double wy0 = 1 - fy;
    for (int ch = 0; ch < 3; ++ch) {
        const double v = (p00[ch] * wx0 + p10[ch] * fx) * wy0 + (p01[ch] * wx0 + p11[ch] * fx) * fy;
        out[ch] = static_cast<uint8_t>(static_cast<int32_t>(v));
    }
}

// Samples the grid at world pixel (x, y) into out[0..2]; black where the
// sample or its east and south neighbours fall outside the grid.
inline void SampleGrid(const TileGrid& grid, const AxisSample& col, const AxisSample& row, uint8_t* out) {
    if (!col.inside || !row.inside) {
        out[0] = out[1] = out[2] = 0;
        return;
    }
    BlendPixel(grid.Pixel(row.tile, col.tile, col.pixel, row.pixel),
               grid.Pixel(row.tile, col.nextTile, col.nextPixel, row.pixel),
               grid.Pixel(row.nextTile, col.tile, col.pixel, row.nextPixel),
               grid.Pixel(row.nextTile, col.nextTile, col.nextPixel, row.nextPixel), col.frac, row.frac, out);
}
