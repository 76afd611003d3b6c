#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The parameters of one WMS request as the client sent them, already
// split and percent-decoded. Names are matched without regard to case.
using QueryParameters = std::vector<std::pair<std::string, std::string>>;

enum class WmsVersion { V111, V130 };
enum class WmsOperation { GetCapabilities, GetMap };
enum class ImageFormat { Png, Jpeg };

// Limits on what one GetMap may ask for; the capabilities advertise them.
constexpr uint32_t kMaxImageWidth = 2048;
constexpr uint32_t kMaxImageHeight = 2048;
constexpr size_t kMaxLayersPerRequest = 16;
// Coordinates past this many degrees (or, in EPSG:3857, this many
// kilometres) are nonsense in either axis; refusing them keeps every span
// and step finite.
constexpr double kMaxCoordinateMagnitude = 1.0e6;

// The grids a GetMap may ask for: longitude/latitude (EPSG:4326, CRS:84)
// or spherical Mercator in metres (EPSG:3857).
enum class MapCrs { LonLat, WebMercator };

// A box in degrees, longitude first whatever the axis order of the request;
// in EPSG:3857 the same four edges in metres (west = min x, north = max y).
struct LonLatBox {
    double west = 0, south = 0, east = 0, north = 0;
};

struct GetMapRequest {
    std::string layer;  // the one drawn: the top of LAYERS, the others are hidden under it
    MapCrs crs = MapCrs::LonLat;
    LonLatBox box;
    uint32_t width = 0, height = 0;
    ImageFormat format = ImageFormat::Png;
    uint32_t background = 0xFFFFFF;  // BGCOLOR: fills what lies outside the tiles
};

struct WmsQuery {
    WmsOperation operation = WmsOperation::GetCapabilities;
    WmsVersion version = WmsVersion::V130;
    GetMapRequest map;  // GetMap only
};

// The exception codes of the service, as the documents spell them.
enum class WmsErrorCode {
    MissingParameterValue,
    InvalidParameterValue,
    OperationNotSupported,
    InvalidFormat,
    InvalidCRS,  // InvalidSRS in 1.1.1
    LayerNotDefined,
    StyleNotDefined,
};

struct WmsError {
    WmsErrorCode code = WmsErrorCode::InvalidParameterValue;
    std::string message;
    WmsVersion version = WmsVersion::V130;  // the dialect the error document is written in
};

// The names of the layers served, in the order the capabilities list them.
const std::vector<std::string>& ServedLayers();

// Reads a request. False, with `error` filled, for anything it cannot serve.
// Pure: no allocation beyond the strings it copies, bounded by the input.
bool ParseWmsQuery(const QueryParameters& parameters, WmsQuery& query, WmsError& error);

// Parameter names and keyword values are matched without regard to case
// (ASCII only). The value of the first parameter of that name, or null.
bool EqualsIgnoringCase(const std::string& a, const char* b);
const std::string* FindParameter(const QueryParameters& parameters, const char* name);

// The parts of `text` between separators; one part for text without any.
std::vector<std::string> SplitAt(const std::string& text, char separator);

// A whole number of at most nine decimal digits and nothing else; false
// when it is not one or lies outside [low, high].
bool ParseWholeNumber(const std::string& text, uint32_t low, uint32_t high, uint32_t& value);

// The code as the exception document names it in the given version.
const char* WmsErrorCodeName(WmsErrorCode code, WmsVersion version);
