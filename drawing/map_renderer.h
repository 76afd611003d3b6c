#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "drawing/allowance.h"
#include "host/plugin_host.h"
#include "host/plugin_library.h"
#include "host/tile_cache.h"
#include "drawing/map_cost.h"

// One raster of the plug-in, or why there is none.
struct RenderResult {
    RenderFailure failure = RenderFailure::None;
    std::string message;           // why, when failed
    std::vector<uint8_t> pixels;   // the raster, 3 bytes per pixel
    std::chrono::steady_clock::duration tileTime{};  // spent taking the tiles from the cache
    size_t tiles = 0;              // the tiles it was drawn from, each counted once

    bool Ok() const { return failure == RenderFailure::None; }
};

// Every tile a render holds is decoded in memory (192 kB) until its raster
// is made, cached or not: these bound that memory.
struct RenderLimits {
    size_t maxTilesPerRender = 1024;  // a request that needs more is refused, whatever its size
    size_t maxTilesHeld = 1024;       // by all renders at once; renders beyond wait their turn
};

// The tiles an image of `columns` x `rows` pixels may need: sixteen times
// the tiles its pixels fill at one tile pixel per image pixel, edges
// included, which covers the zoom rule's rounding and Mercator's stretch
// over a whole box; a tiny image whose few pixels lie far apart at a fine
// zoom needs more, and is refused before any tile is fetched.
size_t TilesAllowedFor(uint32_t columns, uint32_t rows);

// Drives the loaded plug-in through the plug-in host: one DataRequest per
// render, its tiles taken from the cache (rows beyond the world's edges
// blank, never fetched; columns past the last wrapped). The job is
// completed on the rendering thread, inside the download callback, so the
// renders of several threads run side by side, each over when DataRequest
// returns.
class MapRenderer {
public:
    MapRenderer(const PluginApi& plugin, TileCache& cache, RenderLimits limits);
    MapRenderer(const MapRenderer&) = delete;
    MapRenderer& operator=(const MapRenderer&) = delete;

    // Binds the served layers to their ids. False, with the reason, when
    // the plug-in does not know one of them.
    bool BindLayers(std::string& error);

    // The plug-in's raster for `request` (request.width x request.height
    // pixels), from at most `allowedTiles` tiles. Tiles not there by
    // `deadline` end the render as TileLate.
    RenderResult Render(const std::string& layer, const DataRequestBlock& request, size_t allowedTiles,
                        TileCache::Clock::time_point deadline = TileCache::Clock::time_point::max());

    uint64_t DataRequests() const { return dataRequests.load(); }
    // How many of the tiles of `span` (at most `limit` of them looked at)
    // of `layer` are not decoded in the cache now.
    size_t TilesToFetch(const std::string& layer, const TileSpan& span, size_t limit) const;
    // The tiles an image of `columns` x `rows` pixels may use.
    size_t TileBudget(uint32_t columns, uint32_t rows) const {
        return std::min(limits.maxTilesPerRender, TilesAllowedFor(columns, rows));
    }

private:
    // The tiles of one job from the cache, held against maxTilesHeld until
    // the plug-in has drawn them; TileLate for one not there by `deadline`.
    ProvidedTiles ProvideTiles(const DataRequestBlock& request, const std::vector<std::string>& addresses,
                               size_t allowed, TileCache::Clock::time_point deadline);

    PluginHost host;
    TileCache& cache;
    const RenderLimits limits;
    std::atomic<uint64_t> dataRequests{0};

    Allowance tilesHeld;  // of maxTilesHeld
};
