#include "serve/front/service_request.h"

#include "drawing/tile_matrix_sets.h"
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

Operation OperationOf(const ParsedXyz& xyz) {
    if (xyz.valid) return xyz.request.resource == XyzResource::Tile ? Operation::GetTile : Operation::GetCapabilities;
    return xyz.error.namedTile ? Operation::GetTile : Operation::Other;
}

Operation OperationOf(const ParsedOgcApi& ogcapi) {
    if (!ogcapi.named) return Operation::Other;
    if (*ogcapi.named == OgcResource::Map) return Operation::GetMap;
    return *ogcapi.named == OgcResource::Tile ? Operation::GetTile : Operation::GetCapabilities;
}

ParsedWmts ReadWmtsQuery(const QueryParameters& parameters, const ServiceOffer& offer) {
    ParsedWmts parsed;
    parsed.valid =
        ParseWmtsQuery(parameters, HighestTileMatrix(offer.maxZoom), parsed.request, parsed.error, offer.layers);
    return parsed;
}

// `rest` is what follows a door's prefix, still percent-encoded; a broken
// escape is read as it came.
std::string DecodedPath(std::string_view rest) {
    std::string decoded;
    if (!PercentDecode(rest, false, decoded)) decoded = std::string(rest);
    return decoded;
}

// `rest` is what follows the RESTful prefix, still percent-encoded.
ParsedWmts ReadWmtsPath(std::string_view rest, const ServiceOffer& offer) {
    ParsedWmts parsed;
    parsed.valid = ParseWmtsPath(std::string(rest), HighestTileMatrix(offer.maxZoom), parsed.request, parsed.error,
                                 offer.layers);
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
    if (door == Door::Xyz) return xyz.valid && xyz.request.resource == XyzResource::Tile ? &xyz.request.map : nullptr;
    if (door == Door::OgcApi) return ogcapi.valid && ogcapi.request.Image() ? &ogcapi.request.map : nullptr;
    return nullptr;
}

bool ServiceRequest::Capabilities() const {
    if (door == Door::Wms) return wms.valid && wms.query.operation == WmsOperation::GetCapabilities;
    if (door == Door::WmtsQuery || door == Door::WmtsPath) {
        return wmts.valid && wmts.request.operation == WmtsOperation::GetCapabilities;
    }
    if (door == Door::Xyz) return xyz.valid && xyz.request.resource == XyzResource::TileJson;
    return door == Door::OgcApi && ogcapi.valid && !ogcapi.request.Image();
}

bool ServiceRequest::VariesByAccept() const {
    if (door == Door::OgcApi) return ogcapi.valid && ogcapi.request.formatFromAccept;
    return door == Door::Xyz && xyz.valid && xyz.request.negotiated;
}

ServiceRequest ReadRequest(const HttpRequest& request, const AddressPolicy& address, const ServiceOffer& offer) {
    ServiceRequest read;
    const std::string_view path = request.Path();
    read.door = DoorOf(path);
    read.preflight = request.method == "OPTIONS";
    switch (read.door) {
        case Door::Health:
        case Door::Readiness:
        case Door::Metrics: read.operation = Operation::Probe; break;
        case Door::Wms:
            read.wms = ParseWms(ParseQueryString(request.Query()), offer.layers);
            read.operation = OperationOf(read.wms);
            break;
        case Door::WmtsQuery:
            read.wmts = ReadWmtsQuery(ParseQueryString(request.Query()), offer);
            read.operation = OperationOf(read.wmts);
            break;
        case Door::WmtsPath:
            read.wmts = ReadWmtsPath(path.substr(PathOf(Door::WmtsPath).size()), offer);
            read.operation = OperationOf(read.wmts);
            break;
        case Door::Xyz: {
            const std::string* accept = request.Header("Accept");
            read.xyz = ParseXyzPath(DecodedPath(path.substr(PathOf(Door::Xyz).size())), accept ? *accept : "",
                                    HighestTileMatrix(offer.maxZoom), offer.layers);
            read.operation = OperationOf(read.xyz);
            break;
        }
        case Door::OgcApi:
            read.ogcapi = ParseOgcApi(DecodedPath(path.substr(PathOf(Door::OgcApi).size())),
                                      ParseQueryString(request.Query()), request.Header("Accept"),
                                      HighestTileMatrix(offer.maxZoom), offer.layers);
            read.operation = OperationOf(read.ogcapi);
            break;
        case Door::Counters: read.operation = Operation::Page; break;
        case Door::Page:
            read.operation = Operation::Page;
            read.path = std::string(path);
            break;
    }
    if (read.Capabilities()) {
        // Without a usable Host, the address the connection reached.
        AddressPolicy reached = address;
        if (!request.local.empty()) reached.fallbackHost = request.local;
        read.publicBase = PublicBase(reached, ForwardingHeadersOf(request));
    }
    return read;
}
