#include "serve/front/protocol_doors.h"

#include <string>

namespace {

// A door's address: the public base (ending in '/') and the door's path.
std::string AddressOf(const std::string& base, Door door) {
    return base + std::string(PathOf(door).substr(1));
}

}  // namespace

DoorAnswer ProtocolDoors::operator()(const ServiceRequest& request,
                                     std::chrono::steady_clock::time_point deadline) const {
    if (request.door == Door::Wms) {
        return wms.Answer(request.wms, AddressOf(request.publicBase, Door::Wms) + "?", deadline);
    }
    if (request.door == Door::Xyz) return xyz.Answer(request.xyz, AddressOf(request.publicBase, Door::Xyz), deadline);
    if (request.door == Door::OgcApi) {
        return ogcapi.Answer(request.ogcapi, AddressOf(request.publicBase, Door::OgcApi), deadline);
    }
    // The RESTful addresses are the prefix's children: its base has no '/'.
    std::string restful = AddressOf(request.publicBase, Door::WmtsPath);
    restful.pop_back();
    return wmts.Answer(request.wmts, WmtsAddresses{AddressOf(request.publicBase, Door::WmtsQuery) + "?", restful},
                       deadline);
}
