#pragma once

#include <string>

#include "serve/description/service_description.h"
#include "serve/wms/wms_service.h"
#include "serve/wmts/wmts_request.h"

// Answers WMTS 1.0.0 requests: the capabilities, and tiles drawn one
// GetMap each, through the same path as the WMS's maps.
class WmtsService {
public:
    WmtsService(WmsService& maps, const ServiceDescription& description) : maps(maps), description(description) {}

    // `serviceBase` is the address clients reach the service at, without a
    // trailing slash (e.g. http://HOST:PORT or https://HOST/prefix).
    // A tile whose map tiles are not there by `deadline` gets 504.
    // Key-value requests, at /wmts.
    WmsAnswer AnswerQuery(const QueryParameters& parameters, const std::string& serviceBase,
                          WmsService::Clock::time_point deadline = WmsService::Clock::time_point::max());
    // RESTful requests: `path` is what follows /wmts/1.0.0/.
    WmsAnswer AnswerPath(const std::string& path, const std::string& serviceBase,
                         WmsService::Clock::time_point deadline = WmsService::Clock::time_point::max());

private:
    WmsAnswer Answer(bool parsed, const WmtsRequest& request, const WmtsError& error, const std::string& serviceBase,
                     WmsService::Clock::time_point deadline);

    WmsService& maps;
    const ServiceDescription& description;
};
