#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <zarvo_data_plugin.h>

// An output raster on a regular longitude/latitude grid (EPSG:4326), placed
// on a lattice of its own step: lattice column c spans
// [latticeWest + c*dx, latticeWest + (c+1)*dx], lattice row r spans
// [latticeNorth - (r+1)*dy, latticeNorth - r*dy], and the raster's column j
// is lattice column column0 + j (row i is lattice row row0 + i). Grids of
// one step whose edges lie on whole steps from longitude -180 and latitude
// 90 share one lattice, so renders of adjacent boxes sample every pixel
// alike.
//
// Rows may instead lie at latitudes of their own (an EPSG:3857 image's rows,
// evenly spaced in metres): lattice row r is then centred on
// (*rowLatitudes)[r], and each pair of rows (2k, 2k + 1) is drawn by
// requests of its own, as no regular step in latitude runs through more.
struct PixelGrid {
    double latticeWest = -180, latticeNorth = 90;
    double dx = 0, dy = 0;
    int64_t column0 = 0, row0 = 0;
    uint32_t width = 0, height = 0;
    std::shared_ptr<const std::vector<double>> rowLatitudes;

    double West() const { return latticeWest + static_cast<double>(column0) * dx; }
    double North() const { return latticeNorth - static_cast<double>(row0) * dy; }
    double CentreLon(int64_t latticeColumn) const { return latticeWest + (static_cast<double>(latticeColumn) + 0.5) * dx; }
    double CentreLat(int64_t latticeRow) const {
        return rowLatitudes ? (*rowLatitudes)[static_cast<size_t>(latticeRow)]
                            : latticeNorth - (static_cast<double>(latticeRow) + 0.5) * dy;
    }
    // The GDAL geotransform: outer edges, north up.
    void GeoTransform(double transform[6]) const;
    // Rows [first, first + count) as a grid of their own on the same lattice.
    PixelGrid Rows(uint32_t first, uint32_t count) const;
};

// The grid whose outer edges are the box (gdalwarp's -te), of width x height pixels.
PixelGrid GridFromEdges(double west, double south, double east, double north, uint32_t width, uint32_t height);
// The grid whose edge pixels are centred on the box's edges (--bbox).
PixelGrid GridFromCentres(double west, double south, double east, double north, uint32_t width, uint32_t height);

struct PlacementPolicy {
    int32_t zoom = 1;
    // The plug-in places a tile pixel's value at the pixel's north-west
    // corner. False: hosts ask for positions half a tile pixel west and
    // north, so each value lands at its pixel's centre, as GIS tools place
    // it. True: the plug-in's own positions.
    bool pluginGrid = false;
};

// Bounds on one DataRequest of a plan.
struct SegmentLimits {
    uint32_t maxColumns = 2048;
    uint32_t maxRows = 2048;
    size_t maxTiles = 4096;
    // Past this many segments the grid is not drawn: a server bounds the
    // work one image may ask for.
    size_t maxSegments = SIZE_MAX;
};

// One part of the output: rows [row0, row0 + rows) and columns
// [column0, column0 + columns) of the grid. Unless it is nodata (centres
// beyond the world's edges), it is drawn by `request`, whose pixel (j, i)
// is the grid's pixel (column0 + j, row0 + i); the request may have one
// more column or row than the segment, as the plug-in needs two of each.
struct Segment {
    uint32_t column0 = 0, row0 = 0, columns = 0, rows = 0;
    bool nodata = false;
    DataRequestBlock request{};
};

struct RenderPlan {
    std::vector<Segment> segments;  // in row-major order, covering the grid once
    std::string error;              // when the grid cannot be drawn at this zoom
};

// Splits the grid into segments, each drawn by one request within `limits`.
// Requests never start west of the world (a box across longitude 180 is
// drawn a world further east; the host wraps the tile columns), never draw
// a pixel whose centre lies outside the world, and never let a tile row
// beyond the world's edges weigh in (rows nearer the edge than half a tile
// pixel take the edge row's values). Each request's positions are exact to
// a few ulps at its first and last rows and within 0.04 tile pixel between
// them, and are the same for a pixel whatever part of the
// lattice is drawn and however it is cut.
RenderPlan PlanRender(const PixelGrid& grid, const PlacementPolicy& policy, const SegmentLimits& limits);

// The latitude the plug-in is asked for so that its value lands at `lat`:
// the latitude whose world-pixel y at `zoom` is `shift` pixels north of lat's.
double ShiftedLatitude(double lat, double shift, int32_t zoom);
