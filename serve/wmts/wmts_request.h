#pragma once

#include <cstdint>
#include <string>

#include "serve/wms/wms_query.h"
#include "serve/drawing/tile_matrix_sets.h"

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
    WmtsTile tile;  // GetTile only
};

// An OWS exception: the code, the parameter it is about, and why.
struct WmtsError {
    int status = 400;
    const char* code = "InvalidParameterValue";
    std::string locator;
    std::string message;
};

// The key-value form. `highestLevel` is the deepest tile matrix offered.
bool ParseWmtsQuery(const QueryParameters& parameters, int32_t highestLevel, WmtsRequest& request, WmtsError& error);

// The RESTful form: `path` is what follows "/wmts/1.0.0/", either
// "WMTSCapabilities.xml" or "{layer}/{style}/{TileMatrixSet}/{z}/{y}/{x}.{png|jpeg}".
bool ParseWmtsPath(const std::string& path, int32_t highestLevel, WmtsRequest& request, WmtsError& error);
