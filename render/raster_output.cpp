#include "render/raster_output.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>
#include <ogr_srs_api.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sys/stat.h>

namespace {

struct OptionListDeleter {
    void operator()(char** list) const { CSLDestroy(list); }
};
using OptionList = std::unique_ptr<char*, OptionListDeleter>;

struct SpatialReferenceDeleter {
    void operator()(void* srs) const { OSRDestroySpatialReference(srs); }
};

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
    static bool Failed() { return CPLGetLastErrorType() >= CE_Failure; }
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
    std::string driver;
    std::string working;      // the tiled GeoTIFF the pixels go into
    std::string finished;     // the complete output, before the rename
    GDALDatasetH dataset = nullptr;
    std::vector<std::string> leftovers;  // removed unless committed
    bool committed = false;

    ~State() {
        if (dataset != nullptr) {
            const QuietGdalErrors quiet;
            GDALClose(dataset);
        }
        if (!committed) {
            for (const std::string& file : leftovers) unlink(file.c_str());
        }
    }

    bool Fail(std::string& error, const std::string& what) const {
        error = "cannot write " + settings.path + ": " + what;
        return false;
    }

    bool WriteBands(uint32_t x, uint32_t y, uint32_t w, uint32_t h, const uint8_t* rgb, size_t stride,
                    uint8_t coverage, std::string& error) {
        const QuietGdalErrors quiet;
        int bands[3] = {1, 2, 3};
        if (GDALDatasetRasterIO(dataset, GF_Write, static_cast<int>(x), static_cast<int>(y), static_cast<int>(w),
                                static_cast<int>(h), const_cast<uint8_t*>(rgb), static_cast<int>(w),
                                static_cast<int>(h), GDT_Byte, 3, bands, 3, static_cast<GSpacing>(stride),
                                1) != CE_None) {
            return Fail(error, QuietGdalErrors::Last("GDAL failed"));
        }
        std::vector<uint8_t> alpha(size_t{w} * h, coverage);
        GDALRasterBandH band = settings.nodata == NodataStyle::Alpha ? GDALGetRasterBand(dataset, 4)
                                                                     : GDALGetMaskBand(GDALGetRasterBand(dataset, 1));
        if (GDALRasterIO(band, GF_Write, static_cast<int>(x), static_cast<int>(y), static_cast<int>(w),
                         static_cast<int>(h), alpha.data(), static_cast<int>(w), static_cast<int>(h), GDT_Byte, 0,
                         0) != CE_None) {
            return Fail(error, QuietGdalErrors::Last("GDAL failed"));
        }
        return true;
    }
};

std::string DriverForPath(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    const std::string extension = Lowercase(path.substr(dot + 1));
    if (extension == "tif" || extension == "tiff") return "GTiff";
    if (extension == "png") return "PNG";
    if (extension == "jpg" || extension == "jpeg") return "JPEG";
    if (extension == "webp") return "WEBP";
    return "";
}

bool CheckOutputSettings(OutputSettings& settings, std::string& error) {
    GDALAllRegister();
    if (settings.driver.empty()) settings.driver = DriverForPath(settings.path);
    if (settings.driver.empty()) {
        error = "--out " + settings.path + ": the extension names no format; -of names one (GTiff, PNG, COG, ...)";
        return false;
    }
    GDALDriverH driver = GDALGetDriverByName(settings.driver.c_str());
    if (driver == nullptr || GDALGetMetadataItem(driver, GDAL_DCAP_RASTER, nullptr) == nullptr ||
        (GDALGetMetadataItem(driver, GDAL_DCAP_CREATE, nullptr) == nullptr &&
         GDALGetMetadataItem(driver, GDAL_DCAP_CREATECOPY, nullptr) == nullptr)) {
        error = "-of " + settings.driver + ": GDAL has no raster driver of that name that writes files";
        return false;
    }
    if (Exists(settings.path) && !settings.overwrite) {
        error = settings.path + " exists; --overwrite replaces it";
        return false;
    }
    return true;
}

RasterOutput::RasterOutput(std::unique_ptr<State> state) : state(std::move(state)) {}
RasterOutput::~RasterOutput() = default;

std::unique_ptr<RasterOutput> RasterOutput::Create(const PixelGrid& grid, const OutputSettings& settings,
                                                   std::string& error) {
    GDALAllRegister();
    const QuietGdalErrors quiet;
    auto state = std::make_unique<State>();
    state->grid = grid;
    state->settings = settings;
    std::string problem;
    state->driver = settings.driver;
    if (!CheckOutputSettings(state->settings, problem)) {
        error = problem;
        return nullptr;
    }
    state->driver = state->settings.driver;
    const bool direct = state->driver == "GTiff";
    const size_t slash = settings.path.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : settings.path.substr(0, slash);
    const std::string name = slash == std::string::npos ? settings.path : settings.path.substr(slash + 1);
    const std::string part = directory + "/." + name + ".part" + std::to_string(getpid());
    state->finished = part;
    state->working = direct ? part : part + ".tif";
    state->leftovers = {state->working, state->finished, state->finished + ".aux.xml", state->working + ".msk"};

    // The pixels' file: tiled, so that a piece written touches only its own
    // blocks, and BigTIFF when the raster could pass 4 GB.
    OptionList options(nullptr);
    const auto set = [&](const char* key, const char* value) {
        options.reset(CSLSetNameValue(options.release(), key, value));
    };
    set("TILED", "YES");
    set("BIGTIFF", "IF_SAFER");
    set("PHOTOMETRIC", "RGB");
    if (settings.nodata == NodataStyle::Alpha) set("ALPHA", "YES");
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
    const int bandCount = settings.nodata == NodataStyle::Alpha ? 4 : 3;
    state->dataset = GDALCreate(GDALGetDriverByName("GTiff"), state->working.c_str(), static_cast<int>(grid.width),
                                static_cast<int>(grid.height), bandCount, GDT_Byte, options.get());
    if (state->dataset == nullptr) {
        state->Fail(error, QuietGdalErrors::Last("GDAL cannot create it"));
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
    if (settings.nodata == NodataStyle::Mask &&
        GDALCreateDatasetMaskBand(state->dataset, GMF_PER_DATASET) != CE_None) {
        state->Fail(error, QuietGdalErrors::Last("GDAL cannot add a mask"));
        return nullptr;
    }
    if (QuietGdalErrors::Failed()) {
        state->Fail(error, QuietGdalErrors::Last("GDAL failed"));
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
    const QuietGdalErrors quiet;
    std::vector<std::pair<std::string, std::string>> renames;
    if (s.driver != "GTiff") {
        OptionList options(nullptr);
        for (const std::string& option : s.settings.creationOptions) {
            options.reset(CSLAddString(options.release(), option.c_str()));
        }
        GDALDatasetH copy = GDALCreateCopy(GDALGetDriverByName(s.driver.c_str()), s.finished.c_str(), s.dataset,
                                           FALSE, options.get(), nullptr, nullptr);
        if (copy == nullptr) return s.Fail(error, QuietGdalErrors::Last("GDAL cannot convert it"));
        GDALClose(copy);
    }
    GDALClose(s.dataset);
    s.dataset = nullptr;
    if (QuietGdalErrors::Failed()) return s.Fail(error, QuietGdalErrors::Last("GDAL failed"));
    renames.emplace_back(s.finished, s.settings.path);
    if (Exists(s.finished + ".aux.xml")) renames.emplace_back(s.finished + ".aux.xml", s.settings.path + ".aux.xml");
    const std::string worldExtension = WorldFileExtension(s.driver);
    if (!worldExtension.empty()) {
        const std::string stem = s.settings.path.substr(0, s.settings.path.find_last_of('.'));
        const std::string world = s.finished + worldExtension;
        s.leftovers.push_back(world);
        double transform[6];
        s.grid.GeoTransform(transform);
        if (!WriteWorldFile(world, transform)) return s.Fail(error, "cannot write its world file " + world);
        renames.emplace_back(world, stem + worldExtension);
    }
    // The side files first: the image appears last, when all is in place.
    for (size_t i = renames.size(); i-- > 0;) {
        if (std::rename(renames[i].first.c_str(), renames[i].second.c_str()) != 0) {
            return s.Fail(error, "cannot rename " + renames[i].first + " into place");
        }
    }
    if (s.working != s.finished) unlink(s.working.c_str());
    s.committed = true;
    return true;
}
