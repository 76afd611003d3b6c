#include "serve/front/service_request.h"

#include "serve/drawing/tile_matrix_sets.h"
#include "serve/http/query_string.h"

namespace {

// The headers of a request that say how it reached the service.
ForwardingHeaders ForwardingHeadersOf(const HttpRequest& request) {
    auto value = [&](const char* name) {
        const std::string* header = request.Header(name);
        return header ? *header : std::string();
    };
    return {value("Host"), value("Forwarded"), value("X-Forwarded-Proto"), value("X-Forwarded-Host"),
            value("X-Forwarded-Prefix")};
}

Operation OperationOf(const ParsedWms& wms) {
    const std::optional<WmsOperation> named = wms.valid ? wms.query.operation : wms.error.operation;
    if (!named) return Operation::Other;
    return *named == WmsOperation::GetMap ? Operation::GetMap : Operation::GetCapabilities;
}

Operation OperationOf(const ParsedWmts& wmts) {
    const std::optional<WmtsOperation> named = wmts.valid ? wmts.request.operation : wmts.error.operation;
    if (!named) return Operation::Other;
    return *named == WmtsOperation::GetTile ? Operation::GetTile : Operation::GetCapabilities;
}

Operation OperationOf(const ParsedOgcApi& ogcapi) {
    if (!ogcapi.named) return Operation::Other;
    if (*ogcapi.named == OgcResource::Map) return Operation::GetMap;
    return *ogcapi.named == OgcResource::Tile ? Operation::GetTile : Operation::GetCapabilities;
}

// `rest` is what follows /ogcapi, still percent-encoded; a broken escape
// is read as it came.
ParsedOgcApi ReadOgcApi(std::string_view rest, const HttpRequest& request, int32_t highestLevel) {
    std::string decoded;
    if (!PercentDecode(rest, false, decoded)) decoded = std::string(rest);
    return ParseOgcApi(decoded, ParseQueryString(request.Query()), request.Header("Accept"), highestLevel);
}

ParsedWmts ReadWmtsQuery(const QueryParameters& parameters, int32_t highestLevel) {
    ParsedWmts parsed;
    parsed.valid = ParseWmtsQuery(parameters, highestLevel, parsed.request, parsed.error);
    return parsed;
}

// `rest` is what follows the RESTful prefix, still percent-encoded; a
// broken escape is read as it came.
ParsedWmts ReadWmtsPath(std::string_view rest, int32_t highestLevel) {
    std::string decoded;
    if (!PercentDecode(rest, false, decoded)) decoded = std::string(rest);
    ParsedWmts parsed;
    parsed.valid = ParseWmtsPath(decoded, highestLevel, parsed.request, parsed.error);
    return parsed;
}

}  // namespace

const MapRequest* ServiceRequest::Map() const {
    if (door == Door::Wms) {
        return wms.valid && wms.query.operation == WmsOperation::GetMap ? &wms.query.map : nullptr;
    }
    if (door == Door::WmtsQuery || door == Door::WmtsPath) {
        return wmts.valid && wmts.request.operation == WmtsOperation::GetTile ? &wmts.request.map : nullptr;
    }
    if (door == Door::OgcApi) return ogcapi.valid && ogcapi.request.Image() ? &ogcapi.request.map : nullptr;
    return nullptr;
}

bool ServiceRequest::Capabilities() const {
    if (door == Door::Wms) return wms.valid && wms.query.operation == WmsOperation::GetCapabilities;
    if (door == Door::WmtsQuery || door == Door::WmtsPath) {
        return wmts.valid && wmts.request.operation == WmtsOperation::GetCapabilities;
    }
    return door == Door::OgcApi && ogcapi.valid && !ogcapi.request.Image();
}

bool ServiceRequest::FormatFromAccept() const {
    return door == Door::OgcApi && ogcapi.valid && ogcapi.request.formatFromAccept;
}

ServiceRequest ReadRequest(const HttpRequest& request, const AddressPolicy& address, int32_t maxZoom) {
    ServiceRequest read;
    const std::string_view path = request.Path();
    read.door = DoorOf(path);
    read.preflight = request.method == "OPTIONS";
    switch (read.door) {
        case Door::Health:
        case Door::Readiness:
        case Door::Metrics: read.operation = Operation::Probe; break;
        case Door::Wms:
            read.wms = ParseWms(ParseQueryString(request.Query()));
            read.operation = OperationOf(read.wms);
            break;
        case Door::WmtsQuery:
            read.wmts = ReadWmtsQuery(ParseQueryString(request.Query()), HighestTileMatrix(maxZoom));
            read.operation = OperationOf(read.wmts);
            break;
        case Door::WmtsPath:
            read.wmts = ReadWmtsPath(path.substr(PathOf(Door::WmtsPath).size()), HighestTileMatrix(maxZoom));
            read.operation = OperationOf(read.wmts);
            break;
        case Door::OgcApi:
            read.ogcapi = ReadOgcApi(path.substr(PathOf(Door::OgcApi).size()), request, HighestTileMatrix(maxZoom));
            read.operation = OperationOf(read.ogcapi);
            break;
        case Door::Counters: read.operation = Operation::Page; break;
        case Door::Page:
            read.operation = Operation::Page;
            read.path = std::string(path);
            break;
    }
    if (read.Capabilities()) read.publicBase = PublicBase(address, ForwardingHeadersOf(request));
    return read;
}
