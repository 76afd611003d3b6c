#include "serve/front/entity_tag.h"

#include "serve/operations/http_caching.h"

namespace {

// Which document a valid capabilities request gets: the key-value and the
// RESTful WMTS forms get the same; each OGC API document in each format
// its own.
std::string CapabilitiesDocumentOf(const ServiceRequest& request) {
    if (request.door == Door::OgcApi) return "OGC API " + request.ogcapi.request.DocumentIdentity();
    if (request.door == Door::Xyz) {
        return "TileJSON " + request.xyz.request.layer + " " + request.xyz.request.set->identifier;
    }
    if (request.door != Door::Wms) return "WMTS 1.0.0";
    return request.wms.query.version == WmsVersion::V111 ? "WMS 1.1.1" : "WMS 1.3.0";
}

}  // namespace

std::string EntityTag(const ServiceRequest& request, const ContentStamp& stamp, const TileSetStamp& tiles) {
    const std::string zoom = std::to_string(stamp.maxZoom);
    if (const MapRequest* map = request.Map()) {
        return StrongEtag({"map", MapIdentity(*map), stamp.plugin, tiles.tiles, stamp.placement, zoom, stamp.version});
    }
    if (!request.Capabilities()) return "";
    // Capabilities name the address they were asked at and the operator's
    // texts; maps do neither.
    return StrongEtag({"capabilities", CapabilitiesDocumentOf(request), request.publicBase, stamp.description,
                       stamp.plugin, tiles.tiles, stamp.placement, zoom, stamp.version});
}
