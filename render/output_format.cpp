#include "render/output_format.h"

#include <cpl_conv.h>
#include <cpl_string.h>
#include <gdal.h>
#include <ogr_srs_api.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <system_error>

#include "render/gdal_messages.h"
#include "render/stop_signals.h"

namespace {

namespace fs = std::filesystem;

// The trial copy's side, the size of a tile.
constexpr int kTrialSide = 256;

struct OptionListDeleter {
    void operator()(char** list) const { CSLDestroy(list); }
};
using OptionList = std::unique_ptr<char*, OptionListDeleter>;

struct DatasetCloser {
    void operator()(void* dataset) const { GDALClose(dataset); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

std::string Lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Named(const std::vector<std::string>& options, const std::string& name) {
    return std::any_of(options.begin(), options.end(), [&name](const std::string& option) {
        return Lowercase(option.substr(0, option.find('='))) == Lowercase(name);
    });
}

// A raster laid out as the pixels' file is, to convert on trial.
Dataset TrialSource(const OutputSettings& settings) {
    const bool alpha = WorkingNodata(settings) == NodataStyle::Alpha;
    Dataset source(GDALCreate(GDALGetDriverByName("MEM"), "", kTrialSide, kTrialSide, alpha ? 4 : 3, GDT_Byte,
                              nullptr));
    if (!source) return source;
    double transform[6] = {0, 0.001, 0, 0, 0, -0.001};
    GDALSetGeoTransform(source.get(), transform);
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, 4326);
    OSRSetAxisMappingStrategy(srs, OAMS_TRADITIONAL_GIS_ORDER);
    GDALSetSpatialRef(source.get(), srs);
    OSRDestroySpatialReference(srs);
    if (alpha) {
        GDALSetRasterColorInterpretation(GDALGetRasterBand(source.get(), 4), GCI_AlphaBand);
    } else {
        GDALCreateDatasetMaskBand(source.get(), GMF_PER_DATASET);
    }
    return source;
}

// Converts a small raster into the format in a folder of its own and looks
// at what was written.
bool WritesOneFile(const OutputSettings& settings, std::string& error) {
    const std::string folder = SideFolder(settings.path, "trial");
    const std::string name = NameOf(settings.path);
    const std::string culprit = "-of " + settings.driver;
    RemovedOnStop removal;
    removal.Add(folder);
    std::error_code problem;
    fs::remove_all(folder, problem);
    if (!fs::create_directory(folder, problem)) {
        error = "cannot write " + settings.path + ": cannot create " + folder + ": " + problem.message();
        return false;
    }
    const GdalMessages messages;
    const Dataset source = TrialSource(settings);
    OptionList options(nullptr);
    for (const std::string& option : ConversionOptions(settings)) {
        options.reset(CSLAddString(options.release(), option.c_str()));
    }
    Dataset copy(source ? GDALCreateCopy(GDALGetDriverByName(settings.driver.c_str()), (folder + "/" + name).c_str(),
                                         source.get(), FALSE, options.get(), nullptr, nullptr)
                        : nullptr);
    const bool converted = copy != nullptr;
    copy.reset();
    const std::string reason = GdalMessages::Last("GDAL cannot write it");
    std::vector<std::string> written;
    for (fs::directory_iterator it(folder, problem), end; !problem && it != end; it.increment(problem)) {
        written.push_back(it->path().filename().string());
    }
    std::sort(written.begin(), written.end());
    fs::remove_all(folder, problem);
    if (!converted || GdalMessages::Failed()) {
        error = culprit + " cannot write this raster: " + reason;
    } else if (written.empty()) {
        error = culprit + " writes no file";
    } else if (written != std::vector<std::string>{name} &&
               written != std::vector<std::string>{name, name + ".aux.xml"}) {
        std::string files;
        for (const std::string& file : written) files += (files.empty() ? "" : ", ") + file;
        error = culprit + " writes several files (" + files + "); zarvo-render writes formats of one file";
    } else {
        return true;
    }
    return false;
}

}  // namespace

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
    for (const auto& [key, value] : settings.config) CPLSetConfigOption(key.c_str(), value.c_str());
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
    // The name as GDAL spells it: -of gtiff is GTiff.
    settings.driver = GDALGetDriverShortName(driver);
    if (settings.driver == "VRT") {
        error = "-of VRT writes a file that refers to the pixels of another, which is temporary; gdalbuildvrt makes "
                "one over the output";
        return false;
    }
    return settings.driver == "GTiff" || WritesOneFile(settings, error);
}

NodataStyle WorkingNodata(const OutputSettings& settings) {
    return settings.driver == "JPEG" ? NodataStyle::Mask : settings.nodata;
}

std::vector<std::string> ConversionOptions(const OutputSettings& settings) {
    std::vector<std::string> options = settings.creationOptions;
    if (settings.driver == "COG" && !Named(options, "COMPRESS")) {
        options.push_back("COMPRESS=DEFLATE");
        if (!Named(options, "PREDICTOR")) options.push_back("PREDICTOR=YES");
    }
    return options;
}

std::string SideFolder(const std::string& target, const std::string& what) {
    const size_t slash = target.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : target.substr(0, slash);
    return directory + "/." + NameOf(target) + "." + what + std::to_string(getpid());
}
