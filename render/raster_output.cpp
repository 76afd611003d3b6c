#include "render/raster_output.h"

#include <cpl_conv.h>
#include <cpl_string.h>
#include <gdal.h>
#include <ogr_srs_api.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

#include "render/gdal_messages.h"
#include "render/output_claim.h"
#include "render/output_format.h"
#include "render/stop_signals.h"

namespace {

struct OptionListDeleter {
    void operator()(char** list) const { CSLDestroy(list); }
};
using OptionList = std::unique_ptr<char*, OptionListDeleter>;

struct SpatialReferenceDeleter {
    void operator()(void* srs) const { OSRDestroySpatialReference(srs); }
};

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// The world file beside a PNG or JPEG: six numbers, the last two the centre
// of the upper-left pixel, all 17 digits (GDAL's own writer keeps ten, which
// misplaces the far corner of a large raster).
bool WriteWorldFile(const std::string& path, const double transform[6]) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    const double values[6] = {transform[1], transform[4], transform[2], transform[5],
                              transform[0] + transform[1] / 2, transform[3] + transform[5] / 2};
    bool ok = true;
    for (double value : values) ok = std::fprintf(file, "%.17g\n", value) > 0 && ok;
    ok = std::fflush(file) == 0 && ok;
    ok = fsync(fileno(file)) == 0 && ok;
    return std::fclose(file) == 0 && ok;
}

std::string WorldFileExtension(const std::string& driver) {
    if (driver == "PNG") return ".pgw";
    if (driver == "JPEG") return ".jgw";
    return "";
}

}  // namespace

struct RasterOutput::State {
    PixelGrid grid;
    OutputSettings settings;
    NodataStyle nodata = NodataStyle::Alpha;  // of the pixels' file
    std::string working;      // the tiled GeoTIFF the pixels go into
    std::string folder;       // where another format is converted to; empty for GTiff
    GDALDatasetH dataset = nullptr;
    std::vector<std::string> leftovers;  // removed unless committed
    RemovedOnStop removal;               // the same, should the program be stopped
    bool committed = false;

    ~State() {
        if (dataset != nullptr) {
            const GdalMessages messages;
            GDALClose(dataset);
        }
        if (!committed) {
            for (const std::string& file : leftovers) {
                std::error_code ignored;
                std::filesystem::remove_all(file, ignored);
            }
        }
    }

    void LeaveNothingOf(const std::string& path) {
        leftovers.push_back(path);
        removal.Add(path);
    }

    bool Fail(std::string& error, const std::string& what) const {
        error = "cannot write " + settings.path + ": " + what;
        return false;
    }

    bool WriteBands(uint32_t x, uint32_t y, uint32_t w, uint32_t h, const uint8_t* rgb, size_t stride,
                    uint8_t coverage, std::string& error) {
        const GdalMessages messages;
        int bands[3] = {1, 2, 3};
        if (GDALDatasetRasterIO(dataset, GF_Write, static_cast<int>(x), static_cast<int>(y), static_cast<int>(w),
                                static_cast<int>(h), const_cast<uint8_t*>(rgb), static_cast<int>(w),
                                static_cast<int>(h), GDT_Byte, 3, bands, 3, static_cast<GSpacing>(stride),
                                1) != CE_None) {
            return Fail(error, GdalMessages::Last("GDAL failed"));
        }
        std::vector<uint8_t> alpha(size_t{w} * h, coverage);
        GDALRasterBandH band = nodata == NodataStyle::Alpha ? GDALGetRasterBand(dataset, 4)
                                                            : GDALGetMaskBand(GDALGetRasterBand(dataset, 1));
        if (GDALRasterIO(band, GF_Write, static_cast<int>(x), static_cast<int>(y), static_cast<int>(w),
                         static_cast<int>(h), alpha.data(), static_cast<int>(w), static_cast<int>(h), GDT_Byte, 0,
                         0) != CE_None) {
            return Fail(error, GdalMessages::Last("GDAL failed"));
        }
        return true;
    }

    // Converts the pixels' file into the output's format, in its folder;
    // the converted file's path in `converted`.
    bool Convert(std::string& converted, std::string& error) {
        std::error_code problem;
        if (!std::filesystem::create_directory(folder, problem)) {
            return Fail(error, "cannot create " + folder + ": " + problem.message());
        }
        OptionList options(nullptr);
        for (const std::string& option : ConversionOptions(settings)) {
            options.reset(CSLAddString(options.release(), option.c_str()));
        }
        converted = folder + "/" + std::filesystem::path(settings.path).filename().string();
        GDALDatasetH copy = GDALCreateCopy(GDALGetDriverByName(settings.driver.c_str()), converted.c_str(), dataset,
                                           FALSE, options.get(), nullptr, nullptr);
        if (copy == nullptr) return Fail(error, GdalMessages::Last("GDAL cannot convert it"));
        GDALClose(copy);
        return true;
    }
};

RasterOutput::RasterOutput(std::unique_ptr<State> state) : state(std::move(state)) {}
RasterOutput::~RasterOutput() = default;

std::unique_ptr<RasterOutput> RasterOutput::Create(const PixelGrid& grid, const OutputSettings& settings,
                                                   std::string& error) {
    GDALAllRegister();
    const GdalMessages messages;
    auto state = std::make_unique<State>();
    state->grid = grid;
    state->settings = settings;
    state->nodata = WorkingNodata(settings);
    const bool direct = settings.driver == "GTiff";
    state->working = SideFolder(settings.path, "part");
    state->LeaveNothingOf(state->working);
    state->LeaveNothingOf(state->working + ".aux.xml");
    state->LeaveNothingOf(state->working + ".msk");
    if (!direct) {
        state->folder = state->working + ".d";
        state->LeaveNothingOf(state->folder);
    }

    // The pixels' file: tiled, so that a piece written touches only its own
    // blocks, and BigTIFF when the raster could pass 4 GB.
    OptionList options(nullptr);
    const auto set = [&](const char* key, const char* value) {
        options.reset(CSLSetNameValue(options.release(), key, value));
    };
    set("TILED", "YES");
    set("BIGTIFF", "IF_SAFER");
    set("PHOTOMETRIC", "RGB");
    const bool alpha = state->nodata == NodataStyle::Alpha;
    if (alpha) set("ALPHA", "YES");
    if (direct) {
        set("COMPRESS", "DEFLATE");
        set("PREDICTOR", "2");
        for (const std::string& option : settings.creationOptions) {
            const size_t equals = option.find('=');
            set(option.substr(0, equals).c_str(), option.substr(equals + 1).c_str());
        }
    } else {
        set("COMPRESS", "DEFLATE");
        set("ZLEVEL", "1");
    }
    GDALSetCacheMax64(static_cast<GIntBig>(settings.cacheBytes));
    // A mask inside the file, not a side file under the temporary name.
    CPLSetConfigOption("GDAL_TIFF_INTERNAL_MASK", "YES");
    const int bandCount = alpha ? 4 : 3;
    state->dataset = GDALCreate(GDALGetDriverByName("GTiff"), state->working.c_str(), static_cast<int>(grid.width),
                                static_cast<int>(grid.height), bandCount, GDT_Byte, options.get());
    if (state->dataset == nullptr) {
        state->Fail(error, GdalMessages::Last("GDAL cannot create it"));
        return nullptr;
    }
    double transform[6];
    grid.GeoTransform(transform);
    GDALSetGeoTransform(state->dataset, transform);
    const std::unique_ptr<void, SpatialReferenceDeleter> srs(OSRNewSpatialReference(nullptr));
    OSRImportFromEPSG(srs.get(), 4326);
    // Longitude first, as the geotransform has it.
    OSRSetAxisMappingStrategy(srs.get(), OAMS_TRADITIONAL_GIS_ORDER);
    GDALSetSpatialRef(state->dataset, srs.get());
    const GDALColorInterp interpretation[4] = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand, GCI_AlphaBand};
    for (int band = 0; band < bandCount; ++band) {
        GDALSetRasterColorInterpretation(GDALGetRasterBand(state->dataset, band + 1), interpretation[band]);
    }
    if (!alpha && GDALCreateDatasetMaskBand(state->dataset, GMF_PER_DATASET) != CE_None) {
        state->Fail(error, GdalMessages::Last("GDAL cannot add a mask"));
        return nullptr;
    }
    if (GdalMessages::Failed()) {
        state->Fail(error, GdalMessages::Last("GDAL failed"));
        return nullptr;
    }
    return std::unique_ptr<RasterOutput>(new RasterOutput(std::move(state)));
}

bool RasterOutput::Write(uint32_t column0, uint32_t row0, uint32_t columns, uint32_t rows, const uint8_t* rgb,
                         size_t stride, std::string& error) {
    return state->WriteBands(column0, row0, columns, rows, rgb, stride, 255, error);
}

bool RasterOutput::WriteNodata(uint32_t column0, uint32_t row0, uint32_t columns, uint32_t rows,
                               std::string& error) {
    const std::vector<uint8_t> zeros(size_t{columns} * 3 * rows, 0);
    return state->WriteBands(column0, row0, columns, rows, zeros.data(), size_t{columns} * 3, 0, error);
}

bool RasterOutput::Commit(std::string& error) {
    State& s = *state;
    const GdalMessages messages;
    std::string finished = s.working;
    if (!s.folder.empty() && !s.Convert(finished, error)) return false;
    GDALClose(s.dataset);
    s.dataset = nullptr;
    if (GdalMessages::Failed()) return s.Fail(error, GdalMessages::Last("GDAL failed"));
    std::vector<std::pair<std::string, std::string>> renames;
    renames.emplace_back(finished, s.settings.path);
    if (Exists(finished + ".aux.xml")) renames.emplace_back(finished + ".aux.xml", s.settings.path + ".aux.xml");
    const std::string worldExtension = WorldFileExtension(s.settings.driver);
    if (!worldExtension.empty()) {
        const std::string stem = s.settings.path.substr(0, s.settings.path.find_last_of('.'));
        const std::string world = s.working + worldExtension;
        s.LeaveNothingOf(world);
        double transform[6];
        s.grid.GeoTransform(transform);
        if (!WriteWorldFile(world, transform)) return s.Fail(error, "cannot write its world file " + world);
        renames.emplace_back(world, stem + worldExtension);
    }
    // A rename replaces whatever has the name: only files are replaced.
    for (const auto& rename : renames) {
        const std::string kind = NotAFile(rename.second);
        if (!kind.empty()) return s.Fail(error, rename.second + " is " + kind + ", not a file: it is not replaced");
    }
    // The side files first: the image appears last, when all is in place.
    const StopsDeferred deferred;
    for (size_t i = renames.size(); i-- > 0;) {
        if (std::rename(renames[i].first.c_str(), renames[i].second.c_str()) != 0) {
            return s.Fail(error, "cannot rename " + renames[i].first + " into place");
        }
    }
    s.committed = true;
    s.removal.Clear();
    std::error_code ignored;
    if (!s.folder.empty()) {
        std::filesystem::remove_all(s.folder, ignored);
        unlink(s.working.c_str());
    }
    return true;
}
