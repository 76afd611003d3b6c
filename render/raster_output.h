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
    std::vector<std::pair<std::string, std::string>> config;  // --config KEY VALUE, GDAL's configuration
    NodataStyle nodata = NodataStyle::Alpha;
    uint64_t cacheBytes = uint64_t{64} << 20;   // GDAL's block cache while writing
};

// A georeferenced raster in EPSG:4326, written piece by piece and put in
// place only when complete. The pixels go into a tiled GeoTIFF beside the
// target (BigTIFF when large); GeoTIFF output is that file, any other format
// is converted from it at the end, in a folder of its own beside the target.
// Nothing is left behind on any failure, nor when the program is stopped
// (render/stop_signals): the target appears, complete, by a rename, or not
// at all.
class RasterOutput {
public:
    // `settings` checked by CheckOutputSettings (render/output_format.h),
    // its path claimed (render/output_claim.h). Null, with one line in
    // `error`, when the output cannot be made.
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
