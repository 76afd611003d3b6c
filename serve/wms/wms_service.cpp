#include "serve/wms/wms_service.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "host/jpeg_encoder.h"
#include "host/png_encoder.h"
#include "serve/drawing/map_drawing.h"
#include "serve/drawing/map_grid.h"
#include "serve/wms/wms_documents.h"
#include "serve/description/xml_text.h"

namespace {

// An error message is one line of text; whatever it quotes stops here.
constexpr size_t kMaxMessageBytes = 1024;
constexpr int kJpegQuality = 90;

double Milliseconds(std::chrono::steady_clock::duration time) {
    return std::chrono::duration<double, std::milli>(time).count();
}

int HttpStatusOf(WmsErrorCode code) {
    return code == WmsErrorCode::OperationNotSupported ? 501 : 400;
}

}  // namespace

std::string WmsService::ServerTiming(const MapTimes& times, Clock::duration whole) {
    char text[160];
    std::snprintf(text, sizeof text, "tiles;dur=%.3f, raster;dur=%.3f, encode;dur=%.3f, wms;dur=%.3f",
                  Milliseconds(times.tiles), Milliseconds(times.raster), Milliseconds(times.encode),
                  Milliseconds(whole));
    return text;
}

WmsAnswer ExceptionAnswer(int status, WmsVersion version, const char* code, const std::string& message) {
    WmsAnswer answer;
    answer.status = status;
    answer.contentType = ExceptionContentType(version);
    answer.body = ExceptionDocument(version, code, XmlCharacters(message, kMaxMessageBytes));
    return answer;
}

WmsAnswer WmsService::Answer(const QueryParameters& parameters, const std::string& serviceUrl,
                             Clock::time_point deadline) {
    const Clock::time_point received = Clock::now();
    WmsQuery query;
    WmsError error;
    if (!ParseWmsQuery(parameters, query, error)) {
        return ExceptionAnswer(HttpStatusOf(error.code), error.version, WmsErrorCodeName(error.code, error.version),
                               error.message);
    }
    if (query.operation == WmsOperation::GetCapabilities) {
        WmsAnswer answer;
        answer.contentType = CapabilitiesContentType(query.version);
        answer.body = CapabilitiesDocument(query.version, serviceUrl, description);
        return answer;
    }
    MapTimes times;
    WmsAnswer answer = GetMap(query.map, query.version, deadline, times);
    if (answer.status == 200) answer.serverTiming = ServerTiming(times, Clock::now() - received);
    return answer;
}

WmsAnswer WmsService::GetMap(const GetMapRequest& request, WmsVersion version, Clock::time_point deadline,
                             MapTimes& times) {
    WmsAnswer image;
    MapFailure failure;
    if (!Draw(request, deadline, image, failure, times)) {
        return ExceptionAnswer(failure.status, version, failure.code, failure.message);
    }
    return image;
}

bool WmsService::Draw(const GetMapRequest& request, Clock::time_point deadline, WmsAnswer& answer,
                      MapFailure& failure, MapTimes& times) {
    if (Clock::now() >= deadline) {
        failure = {504, nullptr, "the request waited past its deadline for a worker"};
        return false;
    }
    const PixelGrid grid = MapGrid(request.box, request.crs, request.width, request.height);
    MapDrawing drawing;
    drawing.zoom = MapZoom(request.box, request.crs, request.width, request.height, maxZoom);
    drawing.background = request.background;
    drawing.pluginGrid = pluginGrid;
    const Allowance::Share held(imageBytes, size_t{request.width} * request.height * 3 * 3);
    const Clock::time_point asked = Clock::now();
    RenderResult rendered = DrawMap(renderer, request.layer, grid, drawing, deadline);
    // The segments of an image may take their tiles on several threads at
    // once: their sum may exceed the time of the whole.
    times.tiles = rendered.tileTime;
    times.raster = std::max(Clock::duration{}, Clock::now() - asked - rendered.tileTime);
    switch (rendered.status) {
        case RenderStatus::Ok: break;
        case RenderStatus::TooManyTiles:
            failure = {400, "InvalidParameterValue", rendered.message + ": ask for a smaller image or a smaller box"};
            return false;
        case RenderStatus::TileUnavailable:
            failure = {502, nullptr, rendered.message};
            return false;
        case RenderStatus::TileLate:
            failure = {504, nullptr, rendered.message};
            return false;
        case RenderStatus::OutOfMemory:
            failure = {503, nullptr, rendered.message};
            return false;
        case RenderStatus::Refused:
        case RenderStatus::Failed:
            failure = {500, nullptr, rendered.message};
            return false;
    }
    std::vector<uint8_t> encoded;
    std::string error;
    RgbImage image;
    image.width = static_cast<int32_t>(request.width);
    image.height = static_cast<int32_t>(request.height);
    image.pixels = std::move(rendered.pixels);
    const Clock::time_point encoding = Clock::now();
    const bool encodedWell = request.format == ImageFormat::Png
                                 ? EncodePng(image, PngCompression::Fast, encoded, error)
                                 : EncodeJpeg(image, kJpegQuality, encoded, error);
    times.encode = Clock::now() - encoding;
    if (!encodedWell) {
        failure = {500, nullptr, "cannot encode the image: " + error};
        return false;
    }
    answer = WmsAnswer{};
    answer.contentType = request.format == ImageFormat::Png ? "image/png" : "image/jpeg";
    answer.body.assign(encoded.begin(), encoded.end());
    // An image wholly off the tiles was drawn at no zoom.
    answer.zoom = rendered.tiles == 0 ? 0 : drawing.zoom;
    answer.tiles = rendered.tiles;
    return true;
}
