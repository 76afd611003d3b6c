#include "drawing/map_renderer.h"

#include <algorithm>
#include <memory>

#include "drawing/map_request.h"
#include "host/tile_provision.h"
#include "projection/tile_service.h"

namespace {

int32_t LayerId(const std::string& layer) {
    const std::vector<std::string>& layers = ServedLayers();
    for (size_t i = 0; i < layers.size(); ++i) {
        if (layers[i] == layer) return static_cast<int32_t>(i) + 1;
    }
    return 0;
}

}  // namespace

MapRenderer::MapRenderer(const PluginApi& plugin, TileCache& cache, RenderLimits limits)
    : host(plugin, CompleteOn::RenderingThread),
      cache(cache),
      limits(limits),
      tilesHeld(std::max(limits.maxTilesHeld, limits.maxTilesPerRender)) {}

bool MapRenderer::BindLayers(std::string& error) {
    for (const std::string& layer : ServedLayers()) {
        if (!host.Bind(layer, LayerId(layer))) {
            error = "the plug-in does not serve the layer '" + layer + "'";
            return false;
        }
    }
    return true;
}

size_t TilesAllowedFor(uint32_t columns, uint32_t rows) {
    const size_t across = (size_t{columns} + 255) / 256 + 1, down = (size_t{rows} + 255) / 256 + 1;
    return 16 * across * down;
}

size_t MapRenderer::TilesToFetch(const std::string& layer, const TileSpan& span, size_t limit) const {
    // The tiles' places in the service's layout: the cache's own keys.
    const int64_t worldTiles = int64_t{1} << (span.zoom - 1);
    TileAddress address;
    address.layer = layer;
    address.z = span.zoom - 1;
    address.extension = ServiceImageType(layer);
    std::vector<std::string> keys;
    for (int64_t row = span.north; row <= span.south && keys.size() < limit; ++row) {
        for (int64_t column = span.west; column <= span.east && keys.size() < limit; ++column) {
            address.x = (column % worldTiles + worldTiles) % worldTiles;
            address.y = worldTiles - 1 - row;  // the service counts rows from the south
            keys.push_back(RelativeTilePath(address));
        }
    }
    return keys.size() - cache.Holding(keys);
}

ProvidedTiles MapRenderer::ProvideTiles(const DataRequestBlock& request, const std::vector<std::string>& addresses,
                                        size_t allowed, TileCache::Clock::time_point deadline) {
    TileProvision provision(cache);
    provision.deadline = deadline;
    provision.fitsBudget = [allowed](size_t tiles, std::string& error) {
        if (tiles <= allowed) return true;
        error = "the image needs " + std::to_string(tiles) + " tiles, more than the " + std::to_string(allowed) +
                " an image of its size may use";
        return false;
    };
    provision.hold = [this](size_t tiles) { return std::make_shared<Allowance::Share>(tilesHeld, tiles); };
    provision.failureVerb = "cannot have";
    return ProvideJobTiles(request, addresses, provision);
}

RenderResult MapRenderer::Render(const std::string& layer, const DataRequestBlock& request, size_t allowedTiles,
                                 TileCache::Clock::time_point deadline) {
    ++dataRequests;
    DataRequestBlock asked = request;
    asked.layerId = LayerId(layer);
    std::chrono::steady_clock::duration tileTime{};
    size_t tiles = 0;
    RenderOutcome outcome = host.Render(asked, [&](const std::vector<std::string>& addresses) {
        const auto start = std::chrono::steady_clock::now();
        tiles = addresses.size();
        ProvidedTiles provided = ProvideTiles(asked, addresses, allowedTiles, deadline);
        tileTime += std::chrono::steady_clock::now() - start;
        return provided;
    });
    RenderResult result;
    result.tileTime = tileTime;
    result.tiles = tiles;
    result.failure = outcome.failure;
    result.message = std::move(outcome.message);
    if (outcome.Ok()) {
        result.pixels = std::move(outcome.raster.pixels);
    } else if (outcome.failure == RenderFailure::Unservable) {
        // The window is finite and inside the world, so what the plug-in
        // cannot serve is its tile count: more than it lists for one request.
        result.failure = RenderFailure::TooManyTiles;
        result.message = "the image needs more tiles than the plug-in lists for one request";
    } else if (outcome.failure == RenderFailure::OutOfMemory) {
        result.message = "out of memory";
    }
    return result;
}
