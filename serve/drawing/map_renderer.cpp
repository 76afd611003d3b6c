#include "serve/drawing/map_renderer.h"

#include <algorithm>
#include <memory>

#include "host/tile_intake.h"
#include "host/world_edges.h"
#include "projection/tile_service.h"
#include "projection/zarvo_coord_transform.h"
#include "serve/drawing/map_request.h"

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
    // The addresses as the plug-in writes them for these tiles, so that they
    // are the cache's own keys.
    const LayerKind kinds[] = {LayerKind::Map, LayerKind::Aerial, LayerKind::Hybrid};
    const int32_t id = LayerId(layer);
    if (id == 0) return 0;
    const ZarvoCoordTransform transform(kinds[id - 1], std::u16string(layer.begin(), layer.end()));
    const int64_t worldTiles = int64_t{1} << (span.zoom - 1);
    const int64_t northEdge = int64_t{1} << (span.zoom + 9);
    std::vector<std::string> urls;
    for (int64_t row = span.north; row <= span.south && urls.size() < limit; ++row) {
        for (int64_t column = span.west; column <= span.east && urls.size() < limit; ++column) {
            const int64_t wrapped = (column % worldTiles + worldTiles) % worldTiles;
            const TileKey key{static_cast<int32_t>(wrapped * 256), static_cast<int32_t>(northEdge + row * 256),
                              span.zoom};
            const std::u16string url = transform.TileUrl(key);
            urls.emplace_back(url.begin(), url.end());
        }
    }
    return urls.size() - cache.Holding(urls);
}

ProvidedTiles MapRenderer::ProvideTiles(const DataRequestBlock& request, const std::vector<std::string>& addresses,
                                        size_t allowed, TileCache::Clock::time_point deadline) {
    std::vector<TileSlot> slots;
    if (!PlanTileSlots(request, addresses, slots)) {
        return ProvidedTiles::Failed(RenderFailure::HostFailure, "the plug-in's tile list does not match the request");
    }
    const std::vector<std::string> urls = AddressesToFetch(slots);
    if (urls.size() > allowed) {
        return ProvidedTiles::Failed(RenderFailure::TooManyTiles,
                                     "the image needs " + std::to_string(urls.size()) + " tiles, more than the " +
                                         std::to_string(allowed) + " an image of its size may use");
    }
    // The tiles go before their share of the allowance.
    struct Held {
        Allowance::Share share;
        std::vector<TileResult> outcomes;
        Held(Allowance& allowance, size_t count) : share(allowance, count) {}
    };
    auto held = std::make_shared<Held>(tilesHeld, urls.size());
    held->outcomes = cache.GetAll(urls, deadline);
    const std::vector<TileResult>& outcomes = held->outcomes;
    // Name the tile that failed, not one skipped because of it.
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < outcomes.size(); ++i) {
            if (!outcomes[i].tile && (pass == 1 || !outcomes[i].skipped)) {
                return ProvidedTiles::Failed(outcomes[i].late ? RenderFailure::TileLate : RenderFailure::TileMissing,
                                             "cannot have tile " + urls[i] + ": " + outcomes[i].error);
            }
        }
    }
    ProvidedTiles tiles;
    tiles.tiles.reserve(slots.size());
    size_t fetched = 0;
    for (const TileSlot& slot : slots) {
        const DecodedTile& tile = slot.outsideWorld ? *SharedBlankTile() : *outcomes[fetched++].tile;
        tiles.tiles.push_back(TileView{tile.pixels.data(), tile.pixels.size(), tile.width, tile.height, 3});
    }
    tiles.keep = std::move(held);
    return tiles;
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
