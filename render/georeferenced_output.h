#pragma once

#include <string>

#include "host/rgb_image.h"
#include "host/sampled_box.h"

enum class OutputFormat { GeoTiff, Png };

// The format an output file's extension asks for (.tif, .tiff, .png, in any
// case); false with one line in `error` for any other.
bool OutputFormatFor(const std::string& path, OutputFormat& format, std::string& error);

// The GDAL geotransform of a raster of width x height samples on `box`:
// pixel centres lie on the box's edges, so the outer pixel edges lie half a
// step outside it.
void GeoTransformOf(const SampledBox& box, int width, int height, double transform[6]);

// Writes the raster in EPSG:4326: a GeoTIFF, or a PNG with its world file
// (.pgw) and a .aux.xml holding the reference system.
bool WriteGeoreferenced(const RgbImage& raster, const SampledBox& box, const std::string& path, OutputFormat format,
                        std::string& error);
