#include "render/georeferenced_output.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

namespace {

struct DatasetCloser {
    void operator()(void* dataset) const { GDALClose(dataset); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

struct SpatialReferenceDeleter {
    void operator()(void* srs) const { OSRDestroySpatialReference(srs); }
};

struct OptionListDeleter {
    void operator()(char** list) const { CSLDestroy(list); }
};
using OptionList = std::unique_ptr<char*, OptionListDeleter>;

// GDAL reports through a global handler; keep its messages to ourselves
// and hand the last one back as the reason.
class QuietGdalErrors {
public:
    QuietGdalErrors() {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~QuietGdalErrors() { CPLPopErrorHandler(); }
    QuietGdalErrors(const QuietGdalErrors&) = delete;
    QuietGdalErrors& operator=(const QuietGdalErrors&) = delete;
    static std::string Last(const char* fallback) {
        const char* message = CPLGetLastErrorMsg();
        return message != nullptr && *message != '\0' ? message : fallback;
    }
};

std::string Lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A dataset in memory over the raster's own pixels, without a copy.
Dataset WrapRaster(const RgbImage& raster) {
    Dataset dataset(GDALCreate(GDALGetDriverByName("MEM"), "", raster.width, raster.height, 0, GDT_Byte, nullptr));
    if (!dataset) return nullptr;
    for (int band = 0; band < 3; ++band) {
        char pointer[64], lineOffset[64];
        std::snprintf(pointer, sizeof pointer, "DATAPOINTER=%p",
                      static_cast<const void*>(raster.pixels.data() + band));
        std::snprintf(lineOffset, sizeof lineOffset, "LINEOFFSET=%lld", static_cast<long long>(raster.width) * 3);
        const char* options[] = {pointer, "PIXELOFFSET=3", lineOffset, nullptr};
        if (GDALAddBand(dataset.get(), GDT_Byte, const_cast<char**>(options)) != CE_None) return nullptr;
    }
    return dataset;
}

// The world file beside a PNG: six numbers, the last two the centre of the
// upper-left pixel. GDAL's own writer keeps ten decimals, which misplaces the
// far corner of a large raster by more than a nanodegree; all 17 digits are
// written here.
bool WriteWorldFile(const std::string& imagePath, const double transform[6], std::string& error) {
    const std::string path = imagePath.substr(0, imagePath.find_last_of('.')) + ".pgw";
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        error = "cannot write " + path;
        return false;
    }
    const double values[6] = {transform[1], transform[4], transform[2], transform[5],
                              transform[0] + transform[1] / 2, transform[3] + transform[5] / 2};
    bool ok = true;
    for (double value : values) ok = std::fprintf(file, "%.17g\n", value) > 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) error = "cannot write " + path;
    return ok;
}

}  // namespace

bool OutputFormatFor(const std::string& path, OutputFormat& format, std::string& error) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    const std::string extension =
        dot == std::string::npos || (slash != std::string::npos && dot < slash) ? "" : Lowercase(path.substr(dot));
    if (extension == ".tif" || extension == ".tiff") {
        format = OutputFormat::GeoTiff;
        return true;
    }
    if (extension == ".png") {
        format = OutputFormat::Png;
        return true;
    }
    error = "--out " + path + ": the file name must end in .tif, .tiff (GeoTIFF) or .png (PNG with world file)";
    return false;
}

void GeoTransformOf(const SampledBox& box, int width, int height, double transform[6]) {
    const double stepX = (box.east - box.west) / (width - 1);
    const double stepY = (box.north - box.south) / (height - 1);
    transform[0] = box.west - stepX / 2;
    transform[1] = stepX;
    transform[2] = 0;
    transform[3] = box.north + stepY / 2;
    transform[4] = 0;
    transform[5] = -stepY;
}

bool WriteGeoreferenced(const RgbImage& raster, const SampledBox& box, const std::string& path, OutputFormat format,
                        std::string& error) {
    GDALAllRegister();
    const QuietGdalErrors quiet;
    const Dataset source = WrapRaster(raster);
    if (!source) {
        error = "cannot hold the raster for writing: " + QuietGdalErrors::Last("GDAL's memory driver failed");
        return false;
    }
    double transform[6];
    GeoTransformOf(box, raster.width, raster.height, transform);
    const std::unique_ptr<void, SpatialReferenceDeleter> srs(OSRNewSpatialReference(nullptr));
    OSRImportFromEPSG(srs.get(), 4326);
    // Longitude first, as the geotransform has it.
    OSRSetAxisMappingStrategy(srs.get(), OAMS_TRADITIONAL_GIS_ORDER);
    GDALSetGeoTransform(source.get(), transform);
    GDALSetSpatialRef(source.get(), srs.get());

    OptionList options(nullptr);
    const char* driverName = "GTiff";
    if (format == OutputFormat::GeoTiff) {
        options.reset(CSLSetNameValue(options.release(), "COMPRESS", "DEFLATE"));
        options.reset(CSLSetNameValue(options.release(), "PREDICTOR", "2"));
        options.reset(CSLSetNameValue(options.release(), "TILED", "YES"));
    } else {
        driverName = "PNG";
    }
    GDALDriverH driver = GDALGetDriverByName(driverName);
    if (driver == nullptr) {
        error = std::string("GDAL has no ") + driverName + " driver";
        return false;
    }
    Dataset written(GDALCreateCopy(driver, path.c_str(), source.get(), FALSE, options.get(), nullptr, nullptr));
    if (!written) {
        error = "cannot write " + path + ": " + QuietGdalErrors::Last("GDAL failed");
        return false;
    }
    if (format == OutputFormat::Png) {
        // A PNG holds neither: GDAL keeps both in the .aux.xml, written on closing.
        GDALSetGeoTransform(written.get(), transform);
        GDALSetSpatialRef(written.get(), srs.get());
        if (!WriteWorldFile(path, transform, error)) return false;
    }
    GDALClose(written.release());
    if (CPLGetLastErrorType() >= CE_Failure) {
        error = "cannot write " + path + ": " + QuietGdalErrors::Last("GDAL failed");
        return false;
    }
    return true;
}
