#pragma once

#include <string>

#include "serve/http/http_exchange.h"
#include "serve/operations/public_url.h"
#include "serve/wms/wms_query.h"

class MapRenderer;
class TileCache;
class WmsService;
class WmtsService;

// zarvo-serve's routes, free of any transport: the WMS at /wms and the
// WMTS at /wmts (key-value) and /wmts/1.0.0/ (RESTful), maps and tiles on
// a worker, everything else on the event loop; the counters at /stats;
// the map page's files everywhere else.
struct ServeRoutes {
    WmsService& service;
    WmtsService& tiles;
    const TileCache& cache;
    const MapRenderer& renderer;
    std::string webRoot;    // empty: no map page
    AddressPolicy address;  // where the capabilities say the service is

    HttpHandler Handler() const;
};

// The headers of a request that say how it reached the service.
ForwardingHeaders ForwardingHeadersOf(const HttpRequest& request);
