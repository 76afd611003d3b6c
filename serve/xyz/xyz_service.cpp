#include "serve/xyz/xyz_service.h"

#include "serve/drawing/tile_matrix_sets.h"
#include "serve/xyz/tilejson.h"

namespace {

DoorAnswer TextAnswer(int status, const std::string& message) {
    DoorAnswer answer;
    answer.status = status;
    answer.contentType = "text/plain; charset=utf-8";
    answer.body = message + "\n";
    return answer;
}

}  // namespace

DoorAnswer XyzService::Answer(const ParsedXyz& request, const std::string& tilesBase, Clock::time_point deadline) {
    if (!request.valid) return TextAnswer(request.error.status, request.error.message);
    const XyzRequest& xyz = request.request;
    if (xyz.resource == XyzResource::Tile) {
        return MapAnswer(maps.Make(xyz.map, deadline), [](const FailureReport& report, const std::string& message) {
            return TextAnswer(report.status, message);
        });
    }
    const LayerDescription* layer = FindLayerDescription(description, xyz.layer);
    if (layer == nullptr) return TextAnswer(404, "no layer '" + xyz.layer + "'");
    DoorAnswer answer;
    answer.contentType = "application/json";
    answer.body = TileJsonDocument(*layer, HighestTileMatrix(description.maxZoom),
                                   tilesBase + xyz.layer + "/" + xyz.set->identifier + "/{z}/{x}/{y}");
    return answer;
}
