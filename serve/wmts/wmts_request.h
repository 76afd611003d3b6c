#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drawing/map_request.h"
#include "drawing/tile_matrix_sets.h"
#include "serve/http/query_string.h"

// One WMTS 1.0.0 request, read from key-value pairs (/wmts?REQUEST=...) or
// from a RESTful path (/wmts/1.0.0/...).
enum class WmtsOperation { GetCapabilities, GetTile };

struct WmtsTile {
    std::string layer;
    TileMatrixSetId matrixSet = TileMatrixSetId::WebMercatorQuad;
    int32_t level = 0;
    uint32_t row = 0, column = 0;
    ImageFormat format = ImageFormat::Png;
};

struct WmtsRequest {
    WmtsOperation operation = WmtsOperation::GetCapabilities;
    WmtsTile tile;   // GetTile only
    MapRequest map;  // GetTile only: the tile as a map in its set's grid
};

// An OWS exception: the code, the parameter it is about, and why.
struct WmtsError {
    int status = 400;
    const char* code = "InvalidParameterValue";
    std::string locator;
    std::string message;
    // The operation the request named, when the service has it: a refused
    // GetTile still counts as a GetTile.
    std::optional<WmtsOperation> operation;
};

// The key-value form. `highestLevel` is the deepest tile matrix offered,
// `layers` the layers offered.
bool ParseWmtsQuery(const QueryParameters& parameters, int32_t highestLevel, WmtsRequest& request, WmtsError& error,
                    const std::vector<std::string>& layers = ServedLayers());

// The RESTful form: `path` is what follows "/wmts/1.0.0/", still
// percent-encoded, either "WMTSCapabilities.xml" or
// "{layer}/{style}/{TileMatrixSet}/{z}/{y}/{x}.{png|jpeg|webp}".
bool ParseWmtsPath(const std::string& path, int32_t highestLevel, WmtsRequest& request, WmtsError& error,
                   const std::vector<std::string>& layers = ServedLayers());

// A request as read, in either form: when `valid` the request, else why it
// cannot be served.
struct ParsedWmts {
    bool valid = false;
    WmtsRequest request;
    WmtsError error;
};
