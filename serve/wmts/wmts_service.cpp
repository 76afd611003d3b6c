#include "serve/wmts/wmts_service.h"

#include "serve/wmts/wmts_capabilities.h"
#include "serve/wmts/wmts_request.h"
#include "serve/drawing/tile_matrix_sets.h"

namespace {

WmsAnswer OwsException(int status, const char* code, const std::string& locator, const std::string& message) {
    WmsAnswer answer;
    answer.status = status;
    answer.contentType = "application/xml";
    answer.body = OwsExceptionDocument(code, locator, message);
    return answer;
}

}  // namespace

WmsAnswer WmtsService::AnswerQuery(const QueryParameters& parameters, const std::string& serviceBase,
                                   WmsService::Clock::time_point deadline) {
    WmtsRequest request;
    WmtsError error;
    const bool parsed = ParseWmtsQuery(parameters, HighestTileMatrix(maps.MaxZoom()), request, error);
    return Answer(parsed, request, error, serviceBase, deadline);
}

WmsAnswer WmtsService::AnswerPath(const std::string& path, const std::string& serviceBase,
                                  WmsService::Clock::time_point deadline) {
    WmtsRequest request;
    WmtsError error;
    const bool parsed = ParseWmtsPath(path, HighestTileMatrix(maps.MaxZoom()), request, error);
    return Answer(parsed, request, error, serviceBase, deadline);
}

WmsAnswer WmtsService::Answer(bool parsed, const WmtsRequest& request, const WmtsError& error,
                              const std::string& serviceBase, WmsService::Clock::time_point deadline) {
    if (!parsed) return OwsException(error.status, error.code, error.locator, error.message);
    if (request.operation == WmtsOperation::GetCapabilities) {
        WmsAnswer answer;
        answer.contentType = "application/xml";
        answer.body = WmtsCapabilitiesDocument(description, serviceBase + "/wmts?", serviceBase + "/wmts/1.0.0");
        return answer;
    }
    const WmtsTile& tile = request.tile;
    const TileMatrixSet& set = TileMatrixSetOf(tile.matrixSet);
    GetMapRequest map;
    map.layer = tile.layer;
    map.crs = set.mapCrs;
    map.box = TileBox(set, tile.level, tile.row, tile.column);
    map.width = map.height = kWmtsTileSize;
    map.format = tile.format;
    WmsAnswer image;
    MapFailure failure;
    WmsService::MapTimes times;
    const WmsService::Clock::time_point received = WmsService::Clock::now();
    if (!maps.Draw(map, deadline, image, failure, times)) {
        return OwsException(failure.status, failure.code != nullptr ? failure.code : "NoApplicableCode", "", failure.message);
    }
    image.serverTiming = WmsService::ServerTiming(times, WmsService::Clock::now() - received);
    return image;
}
