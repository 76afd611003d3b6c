#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "serve/drawing/allowance.h"
#include "serve/drawing/map_renderer.h"
#include "serve/description/service_description.h"
#include "serve/wms/wms_query.h"

// An answer in HTTP terms, whatever carries it.
struct WmsAnswer {
    int status = 200;
    std::string contentType;
    std::string body;
    int32_t zoom = 0;  // the plug-in zoom a GetMap was drawn at; 0 when none
    size_t tiles = 0;  // the tiles it was drawn from
    // Where a drawn GetMap's time went, as the value of a Server-Timing
    // header (milliseconds): the tiles taken from the cache, the plug-in's
    // raster besides them, the encoding, and the whole answer from the
    // query's parsing on. Empty for everything else.
    std::string serverTiming;
};

// Why a map could not be drawn: the HTTP status, the exception code (null
// where there is no standard one) and the message.
struct MapFailure {
    int status = 500;
    const char* code = nullptr;
    std::string message;
};

// Answers WMS requests: capabilities, maps, and exception reports for
// everything else.
class WmsService {
public:
    // `description` gives the capabilities' texts and the tile set's zooms;
    // it outlives the service.
    // `pluginGrid`: the plug-in's own positions (see MapDrawing).
    WmsService(MapRenderer& renderer, const ServiceDescription& description, bool pluginGrid = false)
        : renderer(renderer), description(description), maxZoom(description.maxZoom), pluginGrid(pluginGrid) {}

    // Bytes that images being drawn and encoded may take at once: each
    // GetMap holds three images' worth (the image, the plug-in's raster of
    // a segment, the encoded file at most) from before its DataRequest until its
    // answer is ready.
    static constexpr size_t kImageBytesHeld = 256u << 20;

    // `serviceUrl` is the address the capabilities tell clients to use; a
    // GetMap whose tiles are not there by `deadline` gets 504.
    WmsAnswer Answer(const QueryParameters& parameters, const std::string& serviceUrl,
                     TileCache::Clock::time_point deadline = TileCache::Clock::time_point::max());

    using Clock = std::chrono::steady_clock;
    struct MapTimes {
        Clock::duration tiles{};   // taking the tiles from the cache
        Clock::duration raster{};  // in the plug-in, besides the tiles
        Clock::duration encode{};
    };

    // Draws and encodes one map in either grid: the path of every GetMap and
    // every WMTS tile. False, with `failure` filled, when it cannot; a map
    // whose tiles are not there by `deadline` fails with 504.
    bool Draw(const GetMapRequest& request, Clock::time_point deadline, WmsAnswer& image, MapFailure& failure,
              MapTimes& times);

    // The Server-Timing header's value for a drawn map.
    static std::string ServerTiming(const MapTimes& times, Clock::duration whole);

    int32_t MaxZoom() const { return maxZoom; }

private:
    WmsAnswer GetMap(const GetMapRequest& request, WmsVersion version, Clock::time_point deadline, MapTimes& times);

    MapRenderer& renderer;
    const ServiceDescription& description;
    const int32_t maxZoom;
    const bool pluginGrid;
    Allowance imageBytes{kImageBytesHeld};
};

WmsAnswer ExceptionAnswer(int status, WmsVersion version, const char* code, const std::string& message);
