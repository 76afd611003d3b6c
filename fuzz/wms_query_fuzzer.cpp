// libFuzzer target over the WMS query parser and the image window it
// leads to: any bytes, split into NAME=VALUE pairs at '&' and '=', must
// give either a request within the advertised limits or an error with a
// message, and the window must lie inside the image, quickly.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "serve/map_window.h"
#include "serve/wms_query.h"

namespace {

QueryParameters Split(const uint8_t* data, size_t size) {
    QueryParameters parameters;
    std::string pair;
    auto flush = [&] {
        const size_t equals = pair.find('=');
        parameters.emplace_back(pair.substr(0, equals), equals == std::string::npos ? "" : pair.substr(equals + 1));
        pair.clear();
    };
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '&') {
            flush();
        } else {
            pair += static_cast<char>(data[i]);
        }
    }
    flush();
    return parameters;
}

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;  // the server takes no longer query
    WmsQuery query;
    WmsError error;
    if (!ParseWmsQuery(Split(data, size), query, error)) {
        Require(!error.message.empty());
        Require(WmsErrorCodeName(error.code, error.version) != nullptr);
        return 0;
    }
    if (query.operation != WmsOperation::GetMap) return 0;
    const GetMapRequest& map = query.map;
    Require(map.width >= 1 && map.width <= kMaxImageWidth && map.height >= 1 && map.height <= kMaxImageHeight);
    Require(map.box.west < map.box.east && map.box.south < map.box.north);
    Require(std::isfinite(map.box.west) && std::isfinite(map.box.east) && std::isfinite(map.box.south) &&
            std::isfinite(map.box.north));
    Require(map.layer == "map" || map.layer == "aerial" || map.layer == "hybrid");

    MercatorWindow mercator;
    if (map.crs == MapCrs::WebMercator) {
        mercator = PlanMercatorWindow(map.box, map.width, map.height, 21);
        Require(mercator.rowLatitudes.size() == mercator.window.rows);
        for (size_t row = 1; row < mercator.rowLatitudes.size(); ++row) {
            Require(mercator.rowLatitudes[row] <= mercator.rowLatitudes[row - 1]);
        }
    }
    const MapWindow window =
        map.crs == MapCrs::WebMercator ? mercator.window : PlanMapWindow(map.box, map.width, map.height, 21);
    if (window.empty) return 0;
    Require(window.columns >= 1 && window.column0 + window.columns <= map.width);
    Require(window.rows >= 1 && window.row0 + window.rows <= map.height);
    Require(window.west <= window.east && window.south <= window.north);
    Require(window.west >= kCoverageWest && window.east <= kCoverageEast);
    // The Mercator world's edge, give or take the rounding of its inverse.
    Require(window.south >= kCoverageSouth - 1e-9 && window.north <= kCoverageNorth + 1e-9);
    Require(window.zoom >= 1 && window.zoom <= 21);
    return 0;
}
