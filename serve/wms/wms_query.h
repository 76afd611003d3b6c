#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drawing/map_request.h"
#include "serve/http/query_string.h"

// A WMS request read from its query parameters: GetCapabilities or GetMap,
// in 1.3.0 or 1.1.1.
enum class WmsVersion { V111, V130 };
enum class WmsOperation { GetCapabilities, GetMap };

// Layers one GetMap may name; the capabilities advertise it beside the
// image limits of map_request.h.
constexpr size_t kMaxLayersPerRequest = 16;

struct WmsQuery {
    WmsOperation operation = WmsOperation::GetCapabilities;
    WmsVersion version = WmsVersion::V130;
    // GetMap only. Its layer is the top of LAYERS: every layer covers its
    // box opaquely, so the others are hidden under it.
    MapRequest map;
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
    // The operation the request named, when the service has it: a refused
    // GetMap still counts as a GetMap.
    std::optional<WmsOperation> operation;
};

// Reads a request for one of `layers`. False, with `error` filled, for
// anything it cannot serve. Pure: no allocation beyond the strings it
// copies, bounded by the input.
bool ParseWmsQuery(const QueryParameters& parameters, WmsQuery& query, WmsError& error,
                   const std::vector<std::string>& layers = ServedLayers());

// A request as read: its query when `valid`, else why it cannot be served.
struct ParsedWms {
    bool valid = false;
    WmsQuery query;
    WmsError error;
};
ParsedWms ParseWms(const QueryParameters& parameters, const std::vector<std::string>& layers = ServedLayers());

// The code as the exception document names it in the given version.
const char* WmsErrorCodeName(WmsErrorCode code, WmsVersion version);
