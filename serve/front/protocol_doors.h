#pragma once

#include <chrono>

#include "serve/answers/door_answer.h"
#include "serve/front/service_request.h"
#include "serve/ogcapi/ogcapi_service.h"
#include "serve/wms/wms_service.h"
#include "serve/wmts/wmts_service.h"
#include "serve/xyz/xyz_service.h"

// The protocols behind the front: a read WMS, WMTS, XYZ or OGC API request
// answered by its service, with the addresses its documents advertise made
// from the route table and the request's public base.
struct ProtocolDoors {
    WmsService& wms;
    WmtsService& wmts;
    XyzService& xyz;
    OgcApiService& ogcapi;

    DoorAnswer operator()(const ServiceRequest& request, std::chrono::steady_clock::time_point deadline) const;
};
