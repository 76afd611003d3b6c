#include "render/render_host.h"

#include <cstdio>

RenderHost::RenderHost(const PluginApi& api, std::unique_ptr<TileSource> source, bool quiet)
    : api(api), source(std::move(source)), quiet(quiet) {
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
    if (host->worker.joinable()) {
        return 0;  // one request at a time
    }
    // The addresses are the plug-in's and vanish when we return: copy them.
    host->job = *job;
    host->urls.clear();
    const auto* const* texts = static_cast<const char16_t* const*>(job->items);
    for (int32_t i = 0; i < job->itemCount; ++i) {
        host->urls.push_back(ToUtf8(texts[i]));
    }
    host->worker = std::thread(&RenderHost::FetchAndComplete, host, done);
    return 1;
}

void RenderHost::FetchAndComplete(DownloadDoneFn done) {
    std::vector<std::vector<uint8_t>> bodies;
    FetchFailure failure;
    const size_t total = urls.size();
    const bool fetched = source->FetchAll(urls, bodies, failure, [&](size_t n) {
        if (!quiet) std::fprintf(stderr, "\rtiles fetched: %zu of %zu", n, total);
    });
    if (!quiet) std::fprintf(stderr, "\n");

    int32_t status = fetched ? 0 : kTileMissing;
    decoded.assign(fetched ? total : 0, RgbImage{});
    size_t bytes = 0;
    for (size_t i = 0; status == 0 && i < total; ++i) {
        std::string error;
        bytes += bodies[i].size();
        if (!DecodeImage(bodies[i], decoded[i], error)) {
            status = kTileUndecodable;
            failure = {urls[i], error};
        } else if (decoded[i].width != 256 || decoded[i].height != 256) {
            status = kTileUndecodable;
            failure = {urls[i], "not a 256 x 256 tile"};
        }
    }
    images.clear();
    for (RgbImage& image : decoded) {
        images.push_back(TileImage{image.pixels.data(), static_cast<int32_t>(image.pixels.size()), image.width,
                                   image.height, 3, 0});
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        outcome.failure = failure;
        outcome.tiles = total;
        outcome.tileBytes = bytes;
    }
    DownloadJob completed = job;
    completed.items = images.empty() ? nullptr : images.data();
    completed.itemCount = static_cast<int32_t>(images.size());
    done(status, &completed);
}

void KVL_CALL RenderHost::OnEvent(int32_t result, DownloadJob*, LayerImage* image, void* context) {
    auto* host = static_cast<RenderHost*>(context);
    std::lock_guard<std::mutex> lock(host->mutex);
    host->outcome.eventResult = result;
    if (result == 0 && image->pixels != nullptr) {
        // The raster is the plug-in's and is freed when we return.
        host->outcome.raster.width = image->width;
        host->outcome.raster.height = image->height;
        host->outcome.raster.pixels.assign(image->pixels, image->pixels + image->byteSize);
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
    if (started == 1) {
        eventArrived.wait(lock, [&] { return haveEvent; });
    }
    RenderOutcome result = std::move(outcome);
    lock.unlock();
    if (worker.joinable()) worker.join();
    return result;
}

std::string DescribeRequestResult(int32_t code) {
    switch (code) {
        case -1: return "the plug-in has no download function, or the host refused the job";
        case -2: return "no tile covers the request (zoom outside 1 to 21, edges not finite, too many tiles or too large a raster)";
        case -3: return "the layer id is not bound to a layer";
        case -4: return "the plug-in ran out of memory";
        default: return "unexpected result " + std::to_string(code);
    }
}

std::string DescribeEventResult(int32_t code, const FetchFailure& failure) {
    switch (code) {
        case kTileMissing: return "cannot fetch tile " + failure.url + ": " + failure.reason;
        case kTileUndecodable: return "cannot decode tile " + failure.url + ": " + failure.reason;
        case -1: return "the plug-in found an unusable tile image";
        case -2: return "the plug-in got the wrong number of tile images";
        case -3: return "the layer has no coordinate transform";
        case -4: return "the plug-in ran out of memory";
        default: return "unexpected result " + std::to_string(code);
    }
}
