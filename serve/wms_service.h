#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "serve/allowance.h"
#include "serve/map_renderer.h"
#include "serve/wms_query.h"

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

// Answers WMS requests: capabilities, maps, and exception reports for
// everything else.
class WmsService {
public:
    WmsService(MapRenderer& renderer, int32_t maxZoom) : renderer(renderer), maxZoom(maxZoom) {}

    // Bytes that images being drawn and encoded may take at once: each
    // GetMap holds three images' worth (the plug-in's raster, the composed
    // image, the encoded file at most) from before its DataRequest until its
    // answer is ready.
    static constexpr size_t kImageBytesHeld = 256u << 20;

    // `serviceUrl` is the address the capabilities tell clients to use; a
    // GetMap whose tiles are not there by `deadline` gets 504.
    WmsAnswer Answer(const QueryParameters& parameters, const std::string& serviceUrl,
                     TileCache::Clock::time_point deadline = TileCache::Clock::time_point::max());

private:
    using Clock = std::chrono::steady_clock;
    struct MapTimes {
        Clock::duration tiles{};   // taking the tiles from the cache
        Clock::duration raster{};  // in the plug-in, besides the tiles
        Clock::duration encode{};
    };
    WmsAnswer GetMap(const GetMapRequest& request, WmsVersion version, TileCache::Clock::time_point deadline,
                     MapTimes& times);
    static std::string ServerTiming(const MapTimes& times, Clock::duration whole);

    MapRenderer& renderer;
    const int32_t maxZoom;
    Allowance imageBytes{kImageBytesHeld};
};

WmsAnswer ExceptionAnswer(int status, WmsVersion version, const char* code, const std::string& message);
