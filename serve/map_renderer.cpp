#include "serve/map_renderer.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "serve/tile_address.h"

namespace {

// Statuses this host hands to DownloadDone, beside the plug-in's own codes.
enum HostStatus : int32_t {
    kTooManyTiles = 2001,
    kTileUnavailable = 2002,
    kHostOutOfMemory = 2003,
};

// Marks a request block as carrying a job of this renderer in hostWords.
constexpr uint32_t kJobMark = 0x5A53524Eu;

int32_t LayerId(const std::string& layer) {
    const std::vector<std::string>& layers = ServedLayers();
    for (size_t i = 0; i < layers.size(); ++i) {
        if (layers[i] == layer) return static_cast<int32_t>(i) + 1;
    }
    return 0;
}

}  // namespace

struct MapRenderer::Job {
    MapRenderer* renderer = nullptr;
    bool eventSeen = false;
    int32_t eventResult = 0;
    std::string failure;  // set by the download callback
    std::vector<uint8_t> raster;
    std::chrono::steady_clock::duration tileTime{};
};

MapRenderer::MapRenderer(const PluginApi& plugin, TileCache& cache, RenderLimits limits)
    : plugin(plugin), cache(cache), limits(limits), tilesHeld(std::max(limits.maxTilesHeld, limits.maxTilesPerRender)) {
    plugin.setDownloadCallback(&MapRenderer::OnDownload, this);
    plugin.setEventCallback(&MapRenderer::OnEvent, this);
}

MapRenderer::~MapRenderer() {
    plugin.setDownloadCallback(nullptr, nullptr);
    plugin.setEventCallback(nullptr, nullptr);
}

bool MapRenderer::BindLayers(std::string& error) {
    for (const std::string& layer : ServedLayers()) {
        if (!plugin.initLayer(ToUtf16(layer).c_str(), LayerId(layer))) {
            error = "the plug-in does not serve the layer '" + layer + "'";
            return false;
        }
    }
    return true;
}

MapRenderer::Job* MapRenderer::JobOf(const DownloadJob* job) {
    if (job == nullptr || job->request.hostWords[2] != kJobMark) return nullptr;
    uint64_t bits = (uint64_t{job->request.hostWords[1]} << 32) | job->request.hostWords[0];
    Job* found = nullptr;
    std::memcpy(&found, &bits, sizeof found);
    return found;
}

int32_t KVL_CALL MapRenderer::OnDownload(DownloadJob* job, DownloadDoneFn done, void* context) {
    auto* renderer = static_cast<MapRenderer*>(context);
    Job* mine = JobOf(job);
    if (renderer == nullptr || mine == nullptr || mine->renderer != renderer) return 0;

    int32_t status = 0;
    std::vector<TileResult> outcomes;  // keeps the tiles alive until done() returns
    std::vector<TileImage> images;
    std::unique_ptr<Allowance::Share> held;  // released after done() has drawn the raster
    try {
        if (static_cast<size_t>(job->itemCount) > renderer->limits.maxTilesPerRender) {
            status = kTooManyTiles;
            mine->failure = "the image needs " + std::to_string(job->itemCount) + " tiles, more than the " +
                            std::to_string(renderer->limits.maxTilesPerRender) + " one image may use";
        } else {
            held = std::make_unique<Allowance::Share>(renderer->tilesHeld, static_cast<size_t>(job->itemCount));
            // The addresses are the plug-in's and vanish when we return.
            std::vector<std::string> urls(static_cast<size_t>(job->itemCount));
            const auto* const* texts = static_cast<const char16_t* const*>(job->items);
            for (size_t i = 0; i < urls.size(); ++i) urls[i] = WrapTileColumn(ToUtf8(texts[i]));
            const auto asked = std::chrono::steady_clock::now();
            outcomes = renderer->cache.GetAll(urls);
            mine->tileTime += std::chrono::steady_clock::now() - asked;
            // Name the tile that failed, not one skipped because of it.
            for (int pass = 0; pass < 2 && status == 0; ++pass) {
                for (size_t i = 0; status == 0 && i < outcomes.size(); ++i) {
                    if (!outcomes[i].tile && (pass == 1 || !outcomes[i].skipped)) {
                        status = kTileUnavailable;
                        mine->failure = "cannot have tile " + urls[i] + ": " + outcomes[i].error;
                    }
                }
            }
            for (size_t i = 0; status == 0 && i < outcomes.size(); ++i) {
                const DecodedTile& tile = *outcomes[i].tile;
                // The plug-in only reads tile pixels; the record has no const.
                images.push_back(TileImage{const_cast<uint8_t*>(tile.pixels.data()),
                                           static_cast<int32_t>(tile.pixels.size()), tile.width, tile.height, 3, 0});
            }
        }
    } catch (const std::exception&) {
        status = kHostOutOfMemory;
        images.clear();
    }
    DownloadJob completed = *job;
    completed.items = status == 0 ? images.data() : nullptr;
    completed.itemCount = status == 0 ? static_cast<int32_t>(images.size()) : 0;
    done(status, &completed);
    return 1;
}

void KVL_CALL MapRenderer::OnEvent(int32_t result, DownloadJob* job, LayerImage* image, void* context) {
    Job* mine = JobOf(job);
    if (mine == nullptr || mine->renderer != context) return;
    mine->eventSeen = true;
    mine->eventResult = result;
    if (result == ZARVO_EVENT_RASTER_READY && image != nullptr && image->pixels != nullptr) {
        try {
            // The raster is the plug-in's and is freed when we return.
            mine->raster.assign(image->pixels, image->pixels + image->byteSize);
        } catch (const std::bad_alloc&) {
            mine->eventResult = ZARVO_EVENT_OUT_OF_MEMORY;
        }
    }
}

RenderResult MapRenderer::Render(const std::string& layer, const MapWindow& window) {
    Job job;
    job.renderer = this;
    DataRequestBlock request{};
    request.zoom = window.zoom;
    request.layerId = LayerId(layer);
    request.width = window.columns;
    request.height = window.rows;
    request.west = window.west;
    request.east = window.east;
    request.north = window.north;
    request.south = window.south;
    Job* address = &job;
    uint64_t bits = 0;
    std::memcpy(&bits, &address, sizeof address);
    request.hostWords[0] = static_cast<uint32_t>(bits);
    request.hostWords[1] = static_cast<uint32_t>(bits >> 32);
    request.hostWords[2] = kJobMark;

    ++dataRequests;
    const int32_t started = plugin.request(&request);
    RenderResult result;
    result.tileTime = job.tileTime;
    if (started == ZARVO_REQUEST_UNSERVABLE) {
        // The window is finite and inside the world, so what the plug-in
        // cannot serve is its tile count: more than it lists for one request.
        result.status = RenderStatus::TooManyTiles;
        result.message = "the image needs more tiles than the plug-in lists for one request";
        return result;
    }
    if (started != ZARVO_REQUEST_STARTED || !job.eventSeen) {
        result.status = started == ZARVO_REQUEST_OUT_OF_MEMORY ? RenderStatus::OutOfMemory : RenderStatus::Refused;
        result.message = "the plug-in refused the request (result " + std::to_string(started) + ")";
        return result;
    }
    switch (job.eventResult) {
        case ZARVO_EVENT_RASTER_READY:
            if (job.raster.size() != size_t{window.columns} * window.rows * 3) {
                result.message = "the plug-in delivered a raster of the wrong size";
                return result;
            }
            result.status = RenderStatus::Ok;
            result.pixels = std::move(job.raster);
            return result;
        case kTooManyTiles:
            result.status = RenderStatus::TooManyTiles;
            break;
        case kTileUnavailable:
            result.status = RenderStatus::TileUnavailable;
            break;
        case kHostOutOfMemory:
        case ZARVO_EVENT_OUT_OF_MEMORY:
            result.status = RenderStatus::OutOfMemory;
            job.failure = "out of memory";
            break;
        default:
            job.failure = "the plug-in could not draw the tiles (result " + std::to_string(job.eventResult) + ")";
    }
    result.message = job.failure;
    return result;
}
