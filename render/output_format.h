#pragma once

#include <string>
#include <vector>

#include "render/raster_output.h"

// What the output's format asks of the writing, in one place: the driver a
// path names, whether it writes one file that stands alone, the layout of
// the pixels' file and the options of the conversion.

// The GDAL driver an output path asks for: GTiff for .tif/.tiff, PNG for
// .png, and so on; empty when the extension names none.
std::string DriverForPath(const std::string& path);

// Sets GDAL's configuration (--config), settles the driver (from the
// extension when -of gave none) and checks, before any work, that it writes
// one file that stands alone: a format of several files (ENVI, MRF), of
// none (MEM) or of one that refers to the pixels' temporary file (VRT) is
// refused. A format other than GTiff writes a small trial copy, with the
// creation options, in a folder of its own beside the path, and is refused
// when GDAL cannot write it or it holds more than the file and its
// .aux.xml. False, with one line in `error`, otherwise.
bool CheckOutputSettings(OutputSettings& settings, std::string& error);

// The nodata style of the pixels' file: as asked, but a mask for JPEG,
// which has no alpha (a fourth band would make it CMYK).
NodataStyle WorkingNodata(const OutputSettings& settings);

// The creation options of the conversion into the output's format: -co as
// given; for COG, DEFLATE with a predictor unless -co names a compression.
std::vector<std::string> ConversionOptions(const OutputSettings& settings);

// A folder of its own beside `target` (".NAME.WHATPID"), where a driver
// writes a file named as the target, with its extension, and every side
// file it makes is found.
std::string SideFolder(const std::string& target, const std::string& what);
