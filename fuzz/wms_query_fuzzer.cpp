// libFuzzer target over the map parsers of the WMS and the OGC API and the
// plan of requests they lead to: any bytes, split into NAME=VALUE pairs at
// '&' and '=', must give each door either a map within the advertised
// limits or an error with a message, and the plan must cover the image once
// with requests the plug-in can serve, quickly.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "drawing/map_grid.h"
#include "serve/ogcapi/ogcapi_request.h"
#include "serve/wms/wms_query.h"

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

// Names the check that failed before stopping the fuzzer.
void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "failed: %s\n", what);
    std::abort();
}
#define Require(condition) Check(condition, #condition)

// A map within the limits, and its plan.
void CheckMap(const MapRequest& map) {
    Require(map.width >= 1 && map.width <= kMaxImageWidth && map.height >= 1 && map.height <= kMaxImageHeight);
    Require(map.box.west < map.box.east && map.box.south < map.box.north);
    Require(std::isfinite(map.box.west) && std::isfinite(map.box.east) && std::isfinite(map.box.south) &&
            std::isfinite(map.box.north));
    Require(map.layer == "map" || map.layer == "aerial" || map.layer == "hybrid");

    const PixelGrid grid = MapGrid(map.box, map.crs, map.width, map.height);
    const int32_t zoom = MapZoom(map.box, map.crs, map.width, map.height, 21);
    Require(zoom >= 1 && zoom <= 21);
    SegmentLimits limits;
    limits.maxTiles = 1024;
    limits.maxSegments = 4096;
    const RenderPlan plan = PlanRender(grid, PlacementPolicy{zoom, false}, limits);
    if (!plan.error.empty()) return;
    uint64_t covered = 0;
    for (const Segment& segment : plan.segments) {
        Require(segment.columns >= 1 && segment.column0 + segment.columns <= map.width);
        Require(segment.rows >= 1 && segment.row0 + segment.rows <= map.height);
        covered += uint64_t{segment.columns} * segment.rows;
        if (segment.nodata) continue;
        const DataRequestBlock& request = segment.request;
        Require(request.zoom == zoom && request.width >= 2 && request.height >= 2);
        Require(request.width >= segment.columns && request.height >= segment.rows);
        // Never west of the world, nor east of the one past it (a block of
        // columns starts in the world and spans at most 360 degrees); its
        // first row, always one drawn, on the world, to the grid of 2^-42
        // degrees its positions are rounded to (the top rows of an EPSG:3857
        // map of the whole world round to half a step north of the edge).
        constexpr double kStep = 0x1p-42;
        Require(request.west >= -180 && request.west < 540 && request.west <= request.east);
        Require(request.south <= request.north && request.north <= kCoverageNorth + kStep &&
                request.north >= kCoverageSouth);
    }
    Require(covered == uint64_t{map.width} * map.height);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;  // the server takes no longer query
    const QueryParameters parameters = Split(data, size);
    WmsQuery query;
    WmsError error;
    if (!ParseWmsQuery(parameters, query, error)) {
        Require(!error.message.empty());
        Require(WmsErrorCodeName(error.code, error.version) != nullptr);
    } else if (query.operation == WmsOperation::GetMap) {
        CheckMap(query.map);
    }
    const ParsedOgcApi ogcapi = ParseOgcApi("/collections/map/map", parameters, nullptr, 20);
    if (!ogcapi.valid) {
        Require(!ogcapi.error.message.empty() && ogcapi.error.status >= 400 && ogcapi.error.status < 500);
    } else {
        CheckMap(ogcapi.request.map);
    }
    return 0;
}
