#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/placement.h"

// How pixels without data (missing tiles are not among them: those are
// drawn) are told apart: an alpha band, or a per-dataset mask.
enum class NodataStyle { Alpha, Mask };

struct OutputSettings {
    std::string path;
    std::string driver;                         // a GDAL raster driver; empty: from the file's extension
    std::vector<std::string> creationOptions;   // -co NAME=VALUE, passed through
    NodataStyle nodata = NodataStyle::Alpha;
    bool overwrite = false;
    uint64_t cacheBytes = uint64_t{64} << 20;   // GDAL's block cache while writing
};

// The GDAL driver an output path asks for: GTiff for .tif/.tiff, PNG for
// .png, and so on; empty when the extension names none.
std::string DriverForPath(const std::string& path);

// Settles the driver (from the extension when -of gave none) and checks
// that GDAL can write it and that no file would be replaced unasked. False,
// with one line in `error`, otherwise.
bool CheckOutputSettings(OutputSettings& settings, std::string& error);

// A georeferenced raster in EPSG:4326, written piece by piece and put in
// place only when complete. The pixels go into a tiled GeoTIFF beside the
// target (BigTIFF when large); GeoTIFF output is that file, any other format
// is converted from it at the end. Nothing is left behind on any failure:
// the target appears, complete, by a rename, or not at all.
class RasterOutput {
public:
    // Null, with one line in `error`, when the output cannot be made.
    static std::unique_ptr<RasterOutput> Create(const PixelGrid& grid, const OutputSettings& settings,
                                                std::string& error);
    ~RasterOutput();
    RasterOutput(const RasterOutput&) = delete;
    RasterOutput& operator=(const RasterOutput&) = delete;

    // Pixels with data: `rows` rows of `columns` RGB pixels, `stride` bytes apart.
    bool Write(uint32_t column0, uint32_t row0, uint32_t columns, uint32_t rows, const uint8_t* rgb,
               size_t stride, std::string& error);
    // Pixels without data.
    bool WriteNodata(uint32_t column0, uint32_t row0, uint32_t columns, uint32_t rows, std::string& error);
    // Finishes the file and puts it (and its side files) in place.
    bool Commit(std::string& error);

private:
    struct State;
    explicit RasterOutput(std::unique_ptr<State> state);
    std::unique_ptr<State> state;
};
