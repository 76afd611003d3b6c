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

ParsedWmts ReadWmtsQuery(const QueryParameters& parameters, const ServiceOffer& offer) {
    ParsedWmts parsed;
    parsed.valid =
        ParseWmtsQuery(parameters, HighestTileMatrix(offer.maxZoom), parsed.request, parsed.error, offer.layers);
    return parsed;
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
    return nullptr;
}

bool ServiceRequest::Capabilities() const {
    if (door == Door::Wms) return wms.valid && wms.query.operation == WmsOperation::GetCapabilities;
    if (door == Door::WmtsQuery || door == Door::WmtsPath) {
        return wmts.valid && wmts.request.operation == WmtsOperation::GetCapabilities;
    }
    return false;
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
