#include "render/render_host.h"

#include <cstdio>
#include <exception>

#include "host/world_edges.h"

RenderHost::RenderHost(const PluginApi& api, std::unique_ptr<TileSource> source, RenderSettings settings)
    : api(api), source(std::move(source)), settings(std::move(settings)) {
    api.setDownloadCallback(&RenderHost::OnDownload, this);
    api.setEventCallback(&RenderHost::OnEvent, this);
}

RenderHost::~RenderHost() {
    if (worker.joinable()) worker.join();
    api.setDownloadCallback(nullptr, nullptr);
    api.setEventCallback(nullptr, nullptr);
}

int32_t KVL_CALL RenderHost::OnDownload(DownloadJob* job, DownloadDoneFn done, void* context) {
    auto* host = static_cast<RenderHost*>(context);
    // Called by the plug-in, a C interface: nothing may be thrown through it.
    try {
        return host->Accept(*job, done);
    } catch (const std::exception& e) {
        host->outcome.refusal = std::string("cannot take the job: ") + e.what();
    } catch (...) {
        host->outcome.refusal = "cannot take the job";
    }
    return 0;
}

int32_t RenderHost::Accept(const DownloadJob& offered, DownloadDoneFn done) {
    if (worker.joinable()) {
        outcome.refusal = "a job is already in flight";
        return 0;
    }
    // Refused before a single tile is fetched: the decoded tiles must fit.
    std::string error;
    if (!TilesFitBudget(static_cast<size_t>(offered.itemCount), settings.memoryBudgetBytes, error)) {
        outcome.refusal = error + "; a smaller box or zoom, or --max-memory, helps";
        return 0;
    }
    // The addresses are the plug-in's and vanish when we return: copy them.
    job = offered;
    std::vector<std::string> listed;
    const auto* const* texts = static_cast<const char16_t* const*>(offered.items);
    for (int32_t i = 0; i < offered.itemCount; ++i) {
        listed.push_back(ToUtf8(texts[i]));
    }
    // Rows beyond the world are not fetched; columns past the last wrap.
    if (!PlanTileSlots(offered.request, listed, slots)) {
        outcome.refusal = "the plug-in's tile list does not match the request";
        return 0;
    }
    urls.clear();
    for (const TileSlot& slot : slots) {
        if (!slot.outsideWorld) urls.push_back(slot.url);
    }
    worker = std::thread(&RenderHost::FetchAndComplete, this, done);
    return 1;
}

int32_t RenderHost::TakeInTiles() {
    Progress progress(settings.progress, stderr, "tiles");
    const size_t total = urls.size();
    intake = ::TakeInTiles(*source, urls, settings.intake, [&](size_t done) { progress.Update(done, total); });
    progress.Finish();
    {
        std::lock_guard<std::mutex> lock(mutex);
        outcome.tiles = total;
        outcome.tileBytes = intake.bodyBytes;
        outcome.missing = intake.missing;
        outcome.firstMissing = intake.firstMissing;
        outcome.problem = intake.problem;
    }
    if (!intake.complete) {
        return intake.problem.undecodable ? kTileUndecodable : kTileMissing;
    }
    images.clear();
    images.reserve(slots.size());
    size_t fetched = 0;
    for (const TileSlot& slot : slots) {
        const RgbImage& decoded = slot.outsideWorld ? BlankTile() : intake.images[fetched++];
        // Every blank tile shows the one shared background; the plug-in only reads it.
        const RgbImage& image = decoded.pixels.empty() ? BlankTile() : decoded;
        images.push_back(TileImage{const_cast<uint8_t*>(image.pixels.data()), static_cast<int32_t>(image.pixels.size()),
                                   image.width, image.height, 3, 0});
    }
    return 0;
}

// The worker: whatever happens, it ends with exactly one DownloadDone and
// lets no exception out of the thread.
void RenderHost::FetchAndComplete(DownloadDoneFn done) {
    int32_t status = kHostFailure;
    std::string failure;
    try {
        status = TakeInTiles();
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "unknown failure";
    }
    if (status == kHostFailure) {
        std::lock_guard<std::mutex> lock(mutex);
        outcome.problem = TileProblem{};
        outcome.problem.reason = failure;
        images.clear();
        intake = TileIntake{};
    }
    DownloadJob completed = job;
    completed.items = status == 0 ? images.data() : nullptr;
    completed.itemCount = status == 0 ? static_cast<int32_t>(images.size()) : 0;
    done(status, &completed);
}

void KVL_CALL RenderHost::OnEvent(int32_t result, DownloadJob*, LayerImage* image, void* context) {
    auto* host = static_cast<RenderHost*>(context);
    std::lock_guard<std::mutex> lock(host->mutex);
    host->outcome.eventResult = result;
    if (result == ZARVO_EVENT_RASTER_READY && image != nullptr && image->pixels != nullptr) {
        // The raster is the plug-in's and is freed when we return.
        try {
            host->outcome.raster.width = image->width;
            host->outcome.raster.height = image->height;
            host->outcome.raster.pixels.assign(image->pixels, image->pixels + image->byteSize);
        } catch (const std::exception& e) {
            host->outcome.eventResult = kHostFailure;
            host->outcome.problem.reason = std::string("cannot keep the raster: ") + e.what();
        }
    }
    host->haveEvent = true;
    host->eventArrived.notify_all();
}

RenderOutcome RenderHost::Render(const DataRequestBlock& request) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        outcome = RenderOutcome{};
        haveEvent = false;
    }
    const int32_t started = api.request(&request);
    std::unique_lock<std::mutex> lock(mutex);
    outcome.requestResult = started;
    if (started == ZARVO_REQUEST_STARTED) {
        eventArrived.wait(lock, [&] { return haveEvent; });
    }
    RenderOutcome result = std::move(outcome);
    lock.unlock();
    if (worker.joinable()) worker.join();
    intake = TileIntake{};
    images.clear();
    return result;
}

std::string DescribeRequestResult(int32_t code) {
    switch (code) {
        case ZARVO_REQUEST_REFUSED: return "the plug-in has no download function, or the host refused the job";
        case ZARVO_REQUEST_UNSERVABLE: return "no tile covers the request (zoom outside 1 to 21, edges not finite, too many tiles or too large a raster)";
        case ZARVO_REQUEST_NO_LAYER: return "the layer id is not bound to a layer";
        case ZARVO_REQUEST_OUT_OF_MEMORY: return "the plug-in ran out of memory";
        default: return "unexpected result " + std::to_string(code);
    }
}

std::string DescribeEventResult(int32_t code, const TileProblem& problem) {
    switch (code) {
        case kTileMissing: return "cannot fetch tile " + problem.url + ": " + problem.reason;
        case kTileUndecodable: return "cannot decode tile " + problem.url + ": " + problem.reason;
        case kHostFailure: return "the host failed: " + problem.reason;
        case ZARVO_EVENT_BAD_TILE_IMAGE: return "the plug-in found an unusable tile image";
        case ZARVO_EVENT_TILES_MISMATCH:
            return "the tile images do not match the request's tiles (wrong image count, or no tile covers the request)";
        case ZARVO_EVENT_NO_TRANSFORM: return "the layer has no coordinate transform";
        case ZARVO_EVENT_OUT_OF_MEMORY: return "the plug-in ran out of memory";
        default: return "unexpected result " + std::to_string(code);
    }
}
