#include "drawing/map_maker.h"

#include <algorithm>
#include <vector>

#include "drawing/image_formats.h"
#include "drawing/map_drawing.h"
#include "drawing/map_grid.h"
#include "host/jpeg_encoder.h"
#include "host/png_encoder.h"
#include "host/webp_encoder.h"
#include "drawing/map_background.h"

namespace {

bool Encode(const RgbImage& image, const ImageEncoding& encoding, std::vector<uint8_t>& encoded, std::string& error) {
    switch (encoding.codec) {
        case ImageCodec::Png: return EncodePng(image, PngCompression::Fast, encoded, error);
        case ImageCodec::Jpeg: return EncodeJpeg(image, encoding.quality, encoded, error);
        case ImageCodec::WebpLossy:
        case ImageCodec::WebpLossless:
            return EncodeWebp(image, WebpSettings{encoding.codec == ImageCodec::WebpLossless, encoding.quality,
                                                  encoding.method},
                              encoded, error);
    }
    error = "no such codec";
    return false;
}

EncodedMap Failed(RenderFailure kind, std::string message) {
    EncodedMap map;
    map.failure = MapFailure{kind, std::move(message)};
    return map;
}

// The image with each row's opacity as every pixel's fourth byte.
RgbaImage WithOpacity(const RgbImage& image, const std::vector<uint8_t>& opacity) {
    RgbaImage clear;
    clear.width = image.width;
    clear.height = image.height;
    clear.pixels.resize(image.pixels.size() / 3 * 4);
    const size_t columns = static_cast<size_t>(image.width);
    for (size_t row = 0; row < opacity.size(); ++row) {
        const uint8_t* from = &image.pixels[row * columns * 3];
        uint8_t* to = &clear.pixels[row * columns * 4];
        for (size_t column = 0; column < columns; ++column, from += 3, to += 4) {
            to[0] = from[0];
            to[1] = from[1];
            to[2] = from[2];
            to[3] = opacity[row];
        }
    }
    return clear;
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
    // A map that may have clear parts holds a fourth byte a pixel.
    const bool mayClear = map.format == ImageFormat::Png && (map.transparent || map.voidTransparent.value_or(false));
    const Allowance::Share held(imageBytes, size_t{map.width} * map.height * (mayClear ? 4 : 3) * 3);
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
    const std::vector<uint8_t> opacity = PaintBackground(map, grid, rendered.pixels);
    image.pixels = std::move(rendered.pixels);
    const Clock::time_point encoding = Clock::now();
    // A map clear in parts is a PNG with a fourth byte a pixel.
    const bool encodedWell = opacity.empty()
                                 ? Encode(image, EncodingOf(map.format, map.layer), encoded, error)
                                 : EncodePng(WithOpacity(image, opacity), PngCompression::Fast, encoded, error);
    made.statistics.encodeTime = Clock::now() - encoding;
    if (!encodedWell) return Failed(RenderFailure::HostFailure, "cannot encode the image: " + error);
    made.contentType = ImageFormatOf(map.format).mediaType;
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
