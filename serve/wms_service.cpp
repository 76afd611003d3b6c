#include "serve/wms_service.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "host/jpeg_encoder.h"
#include "host/png_encoder.h"
#include "serve/map_window.h"
#include "serve/mercator_render.h"
#include "serve/wms_documents.h"

namespace {

constexpr int kJpegQuality = 90;

double Milliseconds(std::chrono::steady_clock::duration time) {
    return std::chrono::duration<double, std::milli>(time).count();
}

int HttpStatusOf(WmsErrorCode code) {
    return code == WmsErrorCode::OperationNotSupported ? 501 : 400;
}

// The whole image in the background colour, with the window's raster laid
// in at its place.
std::vector<uint8_t> Compose(const GetMapRequest& request, const MapWindow& window, std::vector<uint8_t> raster) {
    const size_t stride = size_t{request.width} * 3;
    if (!window.empty && window.column0 == 0 && window.row0 == 0 && window.columns == request.width &&
        window.rows == request.height) {
        return raster;
    }
    std::vector<uint8_t> image(stride * request.height);
    const uint8_t fill[3] = {static_cast<uint8_t>(request.background >> 16),
                             static_cast<uint8_t>(request.background >> 8), static_cast<uint8_t>(request.background)};
    for (size_t i = 0; i < image.size(); i += 3) std::memcpy(&image[i], fill, 3);
    const size_t windowStride = size_t{window.columns} * 3;
    for (uint32_t row = 0; row < window.rows; ++row) {
        std::memcpy(&image[(window.row0 + row) * stride + size_t{window.column0} * 3], &raster[row * windowStride],
                    windowStride);
    }
    return image;
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
    answer.body = ExceptionDocument(version, code, message);
    return answer;
}

WmsAnswer WmsService::Answer(const QueryParameters& parameters, const std::string& serviceUrl) {
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
    WmsAnswer answer = GetMap(query.map, query.version, times);
    if (answer.status == 200) answer.serverTiming = ServerTiming(times, Clock::now() - received);
    return answer;
}

WmsAnswer WmsService::GetMap(const GetMapRequest& request, WmsVersion version, MapTimes& times) {
    WmsAnswer image;
    MapFailure failure;
    if (!Draw(request, image, failure, times)) {
        return ExceptionAnswer(failure.status, version, failure.code, failure.message);
    }
    return image;
}

bool WmsService::Draw(const GetMapRequest& request, WmsAnswer& answer, MapFailure& failure, MapTimes& times) {
    // Both grids end in the same placement: a window of covered pixels and
    // its raster, laid into the background.
    MapWindow window;
    MercatorWindow mercator;
    if (request.crs == MapCrs::WebMercator) {
        mercator = PlanMercatorWindow(request.box, request.width, request.height, maxZoom);
        window = mercator.window;
    } else {
        window = PlanMapWindow(request.box, request.width, request.height, maxZoom);
    }
    const Allowance::Share held(imageBytes, size_t{request.width} * request.height * 3 * 3);
    std::vector<uint8_t> raster;
    if (!window.empty) {
        const Clock::time_point asked = Clock::now();
        RenderResult rendered = request.crs == MapCrs::WebMercator
                                    ? RenderMercatorWindow(renderer, request.layer, mercator)
                                    : renderer.Render(request.layer, window);
        // A Mercator window's bands take their tiles on several threads at
        // once: their sum may exceed the time of the whole.
        times.tiles = rendered.tileTime;
        times.raster = std::max(Clock::duration{}, Clock::now() - asked - rendered.tileTime);
        switch (rendered.status) {
            case RenderStatus::Ok:
                raster = std::move(rendered.pixels);
                break;
            case RenderStatus::TooManyTiles:
                failure = {400, "InvalidParameterValue", rendered.message + ": ask for a smaller image or a smaller box"};
                return false;
            case RenderStatus::TileUnavailable:
                failure = {502, nullptr, rendered.message};
                return false;
            case RenderStatus::OutOfMemory:
                failure = {503, nullptr, rendered.message};
                return false;
            case RenderStatus::Refused:
            case RenderStatus::Failed:
                failure = {500, nullptr, rendered.message};
                return false;
        }
    }
    std::vector<uint8_t> encoded;
    std::string error;
    RgbImage image;
    image.width = static_cast<int32_t>(request.width);
    image.height = static_cast<int32_t>(request.height);
    image.pixels = Compose(request, window, std::move(raster));
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
    answer.zoom = window.empty ? 0 : window.zoom;
    return true;
}
