#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "host/plugin_host.h"
#include "host/plugin_library.h"
#include "serve/allowance.h"
#include "serve/host_adapter.h"
#include "serve/map_window.h"
#include "host/tile_cache.h"

enum class RenderStatus {
    Ok,
    TooManyTiles,     // the window needs more tiles than one render may hold
    TileUnavailable,  // a tile could not be fetched or decoded
    Refused,          // the plug-in would not serve the request
    OutOfMemory,
    Failed,           // the host or the plug-in failed otherwise
};

struct RenderResult {
    RenderStatus status = RenderStatus::Refused;
    std::string message;           // why, when not Ok
    std::vector<uint8_t> pixels;   // the window's raster, 3 bytes per pixel
    std::chrono::steady_clock::duration tileTime{};  // spent taking the tiles from the cache
};

// Every tile a render holds is decoded in memory (192 kB) until its raster
// is made, cached or not: these bound that memory.
struct RenderLimits {
    size_t maxTilesPerRender = 1024;  // a request that needs more is refused
    size_t maxTilesHeld = 1024;       // by all renders at once; renders beyond wait their turn
};

// Drives the loaded plug-in through the plug-in host: one DataRequest per
// render, its tiles taken from the cache. The job is completed on the
// rendering thread, inside the download callback, so the renders of several
// threads run side by side, each over when DataRequest returns.
class MapRenderer {
public:
    MapRenderer(const PluginApi& plugin, TileCache& cache, RenderLimits limits);
    MapRenderer(const MapRenderer&) = delete;
    MapRenderer& operator=(const MapRenderer&) = delete;

    // Binds the served layers to their ids. False, with the reason, when
    // the plug-in does not know one of them.
    bool BindLayers(std::string& error);

    RenderResult Render(const std::string& layer, const MapWindow& window);

    uint64_t DataRequests() const { return dataRequests.load(); }
    // The tiles one image may use.
    size_t TileBudget() const { return limits.maxTilesPerRender; }

private:
    // The tiles of one job from the cache, held against maxTilesHeld until
    // the plug-in has drawn them.
    ProvidedTiles ProvideTiles(const std::vector<std::string>& addresses);

    PluginHost host;
    TileCache& cache;
    const RenderLimits limits;
    std::atomic<uint64_t> dataRequests{0};

    Allowance tilesHeld;  // of maxTilesHeld
};
