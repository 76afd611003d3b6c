#include "host/plugin_host.h"

#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "host/plugin_job.h"
#include "host/utf16.h"
#include "projection/zoom.h"

namespace {

// Marks a request as one of a PluginHost's jobs in its host words, beside
// the job's address in the first two.
constexpr uint32_t kJobMark = 0x5A485354u;

// The statuses the host hands to DownloadDone for a provider's failure; the
// plug-in passes them to the event unchanged.
struct HostStatus {
    RenderFailure failure;
    int32_t status;
};
constexpr HostStatus kHostStatuses[] = {
    {RenderFailure::TileMissing, 1001},  {RenderFailure::TileUndecodable, 1002},
    {RenderFailure::HostFailure, 1003},  {RenderFailure::TooManyTiles, 1004},
    {RenderFailure::OutOfMemory, 1005},
};

int32_t StatusOf(RenderFailure failure) {
    for (const HostStatus& s : kHostStatuses) {
        if (s.failure == failure) return s.status;
    }
    return 1003;
}

bool IsHostStatus(int32_t status) {
    for (const HostStatus& s : kHostStatuses) {
        if (s.status == status) return true;
    }
    return false;
}

// The provider's tiles as the plug-in reads them. False when one cannot be
// described to it.
bool ToImages(const std::vector<TileView>& tiles, std::vector<TileImage>& images) {
    images.reserve(tiles.size());
    for (const TileView& tile : tiles) {
        if (tile.byteSize > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return false;
        // The plug-in only reads tile pixels; the record has no const.
        images.push_back(TileImage{const_cast<uint8_t*>(tile.pixels), static_cast<int32_t>(tile.byteSize), tile.width,
                                   tile.height, tile.bytesPerPixel, 0});
    }
    return true;
}

}  // namespace

ProvidedTiles ProvidedTiles::Failed(RenderFailure failure, std::string message) {
    ProvidedTiles failed;
    failed.failure = failure;
    failed.message = std::move(message);
    return failed;
}

// One render's job, on the stack of Render; the callbacks find it through
// the request's host words.
struct PluginHost::Job {
    const PluginHost* host = nullptr;
    const TileProvider* provider = nullptr;
    std::vector<std::string> addresses;  // copied in the download callback
    std::thread worker;

    std::mutex mutex;
    RenderFailure refusal = RenderFailure::None;  // why the download callback refused the job
    RenderFailure failure = RenderFailure::None;  // the provider's
    std::string message;
    bool eventSeen = false;
    int32_t eventResult = 0;
    bool rasterLost = false;  // the raster arrived but could not be kept
    RgbImage raster;

    // Asks the provider for the tiles and completes the job with them:
    // exactly one DownloadDone, whatever the provider does.
    void Complete(const DownloadJob& outgoing, DownloadDoneFn done);
};

void PluginHost::Job::Complete(const DownloadJob& outgoing, DownloadDoneFn done) {
    ProvidedTiles provided;
    std::vector<TileImage> images;
    try {
        provided = (*provider)(addresses);
        if (provided.failure == RenderFailure::None && provided.tiles.size() != addresses.size()) {
            provided = ProvidedTiles::Failed(RenderFailure::HostFailure,
                                             "the host failed: " + std::to_string(provided.tiles.size()) +
                                                 " tiles for " + std::to_string(addresses.size()) + " addresses");
        }
        if (provided.failure == RenderFailure::None && !ToImages(provided.tiles, images)) {
            provided = ProvidedTiles::Failed(RenderFailure::HostFailure, "the host failed: a tile of over 2 GB");
        }
    } catch (const std::bad_alloc&) {
        provided = ProvidedTiles::Failed(RenderFailure::OutOfMemory, "the host ran out of memory");
    } catch (const std::exception& e) {
        provided = ProvidedTiles::Failed(RenderFailure::HostFailure, std::string("the host failed: ") + e.what());
    } catch (...) {
        provided = ProvidedTiles::Failed(RenderFailure::HostFailure, "the host failed: unknown failure");
    }
    const bool failed = provided.failure != RenderFailure::None;
    if (failed) {
        std::lock_guard<std::mutex> lock(mutex);
        failure = provided.failure;
        message = std::move(provided.message);
    }
    if (failed) images.clear();
    DownloadJob completed = CompletedJob(outgoing.request, images);
    done(failed ? StatusOf(provided.failure) : 0, &completed);
    // provided.keep releases the tiles here, after the plug-in has drawn them.
}

PluginHost::PluginHost(const PluginApi& api, CompleteOn completion) : api(api), completion(completion) {
    api.setDownloadCallback(&PluginHost::OnDownload, this);
    api.setEventCallback(&PluginHost::OnEvent, this);
}

PluginHost::~PluginHost() {
    api.setDownloadCallback(nullptr, nullptr);
    api.setEventCallback(nullptr, nullptr);
}

bool PluginHost::Bind(const std::string& layer, int32_t layerId) {
    return api.initLayer(ToUtf16(layer).c_str(), layerId);
}

PluginHost::Job* PluginHost::JobOf(const DownloadJob* job, const void* context) {
    if (job == nullptr || job->request.hostWords[2] != kJobMark) return nullptr;
    const uint64_t bits = (uint64_t{job->request.hostWords[1]} << 32) | job->request.hostWords[0];
    Job* found = nullptr;
    std::memcpy(&found, &bits, sizeof found);
    return found != nullptr && found->host == context ? found : nullptr;
}

int32_t KVL_CALL PluginHost::OnDownload(DownloadJob* job, DownloadDoneFn done, void* context) {
    Job* mine = JobOf(job, context);
    if (mine == nullptr || done == nullptr) return 0;
    // Called by the plug-in, a C interface: nothing may be thrown through it.
    try {
        mine->addresses = CopyAddresses(*job);
        if (mine->host->completion == CompleteOn::RenderingThread) {
            mine->Complete(*job, done);
        } else {
            const DownloadJob outgoing = *job;
            mine->worker = std::thread([mine, outgoing, done] { mine->Complete(outgoing, done); });
        }
        return 1;
    } catch (const std::bad_alloc&) {
        mine->refusal = RenderFailure::OutOfMemory;
        mine->message = "the host ran out of memory taking the job";
    } catch (const std::exception& e) {
        mine->refusal = RenderFailure::HostFailure;
        mine->message = std::string("the host cannot take the job: ") + e.what();
    }
    return 0;
}

void KVL_CALL PluginHost::OnEvent(int32_t result, DownloadJob* job, LayerImage* image, void* context) {
    Job* mine = JobOf(job, context);
    if (mine == nullptr) return;
    std::lock_guard<std::mutex> lock(mine->mutex);
    mine->eventSeen = true;
    mine->eventResult = result;
    if (result == ZARVO_EVENT_RASTER_READY && image != nullptr) {
        try {
            CopyRaster(*image, mine->raster);
        } catch (const std::bad_alloc&) {
            mine->rasterLost = true;
        }
    }
}

RenderOutcome PluginHost::Render(const DataRequestBlock& asked, const TileProvider& provider) {
    Job job;
    job.host = this;
    job.provider = &provider;
    DataRequestBlock request = asked;
    Job* address = &job;
    uint64_t bits = 0;
    std::memcpy(&bits, &address, sizeof address);
    request.hostWords[0] = static_cast<uint32_t>(bits);
    request.hostWords[1] = static_cast<uint32_t>(bits >> 32);
    request.hostWords[2] = kJobMark;
    request.hostWords[3] = 0;

    const int32_t started = api.request(&request);
    // The job has ended once its completion has returned: inside DataRequest,
    // or on the worker.
    if (job.worker.joinable()) job.worker.join();

    RenderOutcome outcome;
    std::lock_guard<std::mutex> lock(job.mutex);
    if (started != ZARVO_REQUEST_STARTED) {
        if (started == ZARVO_REQUEST_REFUSED && job.refusal != RenderFailure::None) {
            outcome.failure = job.refusal;
            outcome.message = job.message;
            return outcome;
        }
        outcome.failure = started == ZARVO_REQUEST_UNSERVABLE      ? RenderFailure::Unservable
                          : started == ZARVO_REQUEST_NO_LAYER      ? RenderFailure::NoLayer
                          : started == ZARVO_REQUEST_OUT_OF_MEMORY ? RenderFailure::OutOfMemory
                          : started == ZARVO_REQUEST_REFUSED       ? RenderFailure::Refused
                                                                   : RenderFailure::PluginFailure;
        outcome.message = "request refused (" + std::to_string(started) + "): " + DescribeRequestResult(started);
        return outcome;
    }
    if (!job.eventSeen) {
        outcome.failure = RenderFailure::PluginFailure;
        outcome.message = "the plug-in ended the job without an event";
    } else if (IsHostStatus(job.eventResult) && job.failure != RenderFailure::None) {
        outcome.failure = job.failure;
        outcome.message = std::move(job.message);
    } else if (job.eventResult != ZARVO_EVENT_RASTER_READY) {
        outcome.failure =
            job.eventResult == ZARVO_EVENT_OUT_OF_MEMORY ? RenderFailure::OutOfMemory : RenderFailure::PluginFailure;
        outcome.message = DescribeEventResult(job.eventResult);
    } else if (job.rasterLost) {
        outcome.failure = RenderFailure::OutOfMemory;
        outcome.message = "the host ran out of memory keeping the raster";
    } else if (job.raster.width != static_cast<int64_t>(request.width) ||
               job.raster.height != static_cast<int64_t>(request.height) ||
               job.raster.pixels.size() != size_t{request.width} * request.height * 3) {
        outcome.failure = RenderFailure::PluginFailure;
        outcome.message = "the plug-in delivered a raster of the wrong size";
    } else {
        outcome.raster = std::move(job.raster);
    }
    return outcome;
}

std::string DescribeRequestResult(int32_t code) {
    switch (code) {
        case ZARVO_REQUEST_REFUSED: return "the plug-in has no download function, or the host refused the job";
        case ZARVO_REQUEST_UNSERVABLE:
            return "no tile covers the request (zoom outside " + std::to_string(kMinZoom) + " to " +
                   std::to_string(kMaxZoom) + ", edges not finite, too many tiles or too large a raster)";
        case ZARVO_REQUEST_NO_LAYER: return "the layer id is not bound to a layer";
        case ZARVO_REQUEST_OUT_OF_MEMORY: return "the plug-in ran out of memory";
        default: return "unexpected result " + std::to_string(code);
    }
}

std::string DescribeEventResult(int32_t code) {
    switch (code) {
        case ZARVO_EVENT_BAD_TILE_IMAGE: return "the plug-in found an unusable tile image";
        case ZARVO_EVENT_TILES_MISMATCH:
            return "the tile images do not match the request's tiles (wrong image count, or no tile covers the "
                   "request)";
        case ZARVO_EVENT_NO_TRANSFORM: return "the layer has no coordinate transform";
        case ZARVO_EVENT_OUT_OF_MEMORY: return "the plug-in ran out of memory";
        default: return "unexpected result " + std::to_string(code);
    }
}
