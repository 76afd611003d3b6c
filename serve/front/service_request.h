#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drawing/map_request.h"
#include "serve/front/routes.h"
#include "serve/http/http_exchange.h"
#include "serve/ogcapi/ogcapi_request.h"
#include "serve/operations/public_url.h"
#include "serve/operations/service_metrics.h"
#include "serve/wms/wms_query.h"
#include "serve/wmts/wmts_request.h"
#include "serve/xyz/xyz_request.h"

// One request as the service reads it, once, on the event loop: where it
// goes, what it asks for and what answering it takes. Admission, the entity
// tag, the metrics, the access log and the answer all take this value;
// none of them reads the query again.
struct ServiceRequest {
    Door door = Door::Page;
    Operation operation = Operation::Other;  // as the metrics count it
    bool preflight = false;                  // OPTIONS: answered with what CORS allows
    ParsedWms wms;                           // Door::Wms
    ParsedWmts wmts;                         // Door::WmtsQuery and Door::WmtsPath
    ParsedXyz xyz;                           // Door::Xyz
    ParsedOgcApi ogcapi;                     // Door::OgcApi
    // For valid capabilities, TileJSON and the OGC API's documents, the
    // address the client reached the service at, ending in '/'; the
    // addresses they advertise hang off it.
    std::string publicBase;
    std::string path;  // Door::Page: the file's, still percent-encoded

    // The map to draw, or null: a valid GetMap or tile.
    const MapRequest* Map() const;
    // Whether it asks for a document that advertises addresses
    // (capabilities, TileJSON, the OGC API's documents), and validly.
    bool Capabilities() const;
    // Whether its answer's format was chosen by its Accept header.
    bool VariesByAccept() const;
};

// What the service offers: the layers its tiles hold, and the deepest zoom
// drawn, which says which WMTS tiles exist.
struct ServiceOffer {
    std::vector<std::string> layers = ServedLayers();
    int32_t maxZoom = 21;
};

// Reads `request`. `address` says where the service is.
ServiceRequest ReadRequest(const HttpRequest& request, const AddressPolicy& address, const ServiceOffer& offer);
