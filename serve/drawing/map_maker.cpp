#include "serve/drawing/map_maker.h"

#include <algorithm>
#include <vector>

#include "host/jpeg_encoder.h"
#include "host/png_encoder.h"
#include "serve/drawing/map_drawing.h"
#include "serve/drawing/map_grid.h"

namespace {

constexpr int kJpegQuality = 90;

// One alpha byte for each pixel of `grid`: opaque where its centre lies on
// the world, transparent beyond its north and south edges, where the
// drawing put the background. None when every pixel is opaque.
std::vector<uint8_t> WorldAlpha(const PixelGrid& grid) {
    std::vector<uint8_t> alpha;
    for (uint32_t row = 0; row < grid.height; ++row) {
        if (CentreInWorld(grid.CentreLat(grid.row0 + row))) continue;
        alpha.resize(size_t{grid.width} * grid.height, 255);
        std::fill_n(alpha.begin() + static_cast<std::ptrdiff_t>(size_t{row} * grid.width), grid.width, 0);
    }
    return alpha;
}

EncodedMap Failed(RenderFailure kind, std::string message) {
    EncodedMap map;
    map.failure = MapFailure{kind, std::move(message)};
    return map;
}

}  // namespace

EncodedMap MapMaker::Make(const MapRequest& map, Clock::time_point deadline) {
    const Clock::time_point started = Clock::now();
    if (started >= deadline) {
        return Failed(RenderFailure::TileLate, "the request waited past its deadline for a worker");
    }
    const PixelGrid grid = MapGrid(map.box, map.crs, map.width, map.height);
    MapDrawing drawing;
    drawing.zoom = MapZoom(map.box, map.crs, map.width, map.height, maxZoom);
    drawing.background = map.background;
    drawing.pluginGrid = pluginGrid;
    const Allowance::Share held(imageBytes, size_t{map.width} * map.height * 3 * 3);
    const Clock::time_point asked = Clock::now();
    RenderResult rendered = DrawMap(renderer, map.layer, grid, drawing, deadline);
    EncodedMap made;
    made.statistics.tileTime = rendered.tileTime;
    made.statistics.rasterTime = std::max(Clock::duration{}, Clock::now() - asked - rendered.tileTime);
    if (!rendered.Ok()) {
        if (rendered.failure == RenderFailure::TooManyTiles) {
            rendered.message += ": ask for a smaller image or a smaller box";
        }
        return Failed(rendered.failure, std::move(rendered.message));
    }
    std::vector<uint8_t> encoded;
    std::string error;
    RgbImage image;
    image.width = static_cast<int32_t>(map.width);
    image.height = static_cast<int32_t>(map.height);
    image.pixels = std::move(rendered.pixels);
    const Clock::time_point encoding = Clock::now();
    bool encodedWell = false;
    if (map.format == ImageFormat::Jpeg) {
        encodedWell = EncodeJpeg(image, kJpegQuality, encoded, error);
    } else if (const std::vector<uint8_t> alpha = map.transparent ? WorldAlpha(grid) : std::vector<uint8_t>();
               !alpha.empty()) {
        encodedWell = EncodePngWithAlpha(image, alpha, PngCompression::Fast, encoded, error);
    } else {
        encodedWell = EncodePng(image, PngCompression::Fast, encoded, error);
    }
    made.statistics.encodeTime = Clock::now() - encoding;
    if (!encodedWell) return Failed(RenderFailure::HostFailure, "cannot encode the image: " + error);
    made.contentType = map.format == ImageFormat::Png ? "image/png" : "image/jpeg";
    made.bytes.assign(encoded.begin(), encoded.end());
    // An image wholly off the tiles was drawn at no zoom.
    made.statistics.zoom = rendered.tiles == 0 ? 0 : drawing.zoom;
    made.statistics.tiles = rendered.tiles;
    made.statistics.wholeTime = Clock::now() - started;
    return made;
}

MapCost MapMaker::Cost(const MapRequest& map) const {
    MapCost cost;
    cost.pixels = uint64_t{map.width} * map.height;
    const TileSpan span = MapTileSpan(map, MapZoom(map.box, map.crs, map.width, map.height, maxZoom));
    const size_t allowed = renderer.TileBudget(map.width, map.height);
    cost.tiles = std::min(span.Columns() * span.Rows(), allowed + 1);
    cost.tilesToFetch = renderer.TilesToFetch(map.layer, span, allowed + 1);
    return cost;
}

DoorAnswer MapAnswer(EncodedMap map, const FailureReportWriter& report) {
    if (map.failure) {
        DoorAnswer answer = report(ReportOf(map.failure->kind), map.failure->message);
        answer.failure = std::move(map.failure);
        return answer;
    }
    DoorAnswer answer;
    answer.contentType = std::move(map.contentType);
    answer.body = std::move(map.bytes);
    answer.drawn = map.statistics;
    return answer;
}
