#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/image_codec.h"
#include "host/plugin_library.h"
#include "host/tile_intake.h"
#include "host/tile_source.h"
#include "host/world_edges.h"
#include "render/progress.h"

// Host statuses for DownloadDone, beside the plug-in's own result codes.
enum HostStatus : int32_t {
    kTileMissing = 1001,       // a tile could not be fetched
    kTileUndecodable = 1002,   // a tile was fetched but is no tile
    kHostFailure = 1003,       // the host itself failed (out of memory, ...)
};

struct RenderSettings {
    IntakeOptions intake;
    uint64_t memoryBudgetBytes = uint64_t{2048} << 20;
    ProgressStyle progress = ProgressStyle::None;
};

// What one request came to.
struct RenderOutcome {
    int32_t requestResult = 0;  // DataRequest's result
    int32_t eventResult = 0;    // the event's result, when the request started
    std::string refusal;        // why the host refused the job, when it did
    RgbImage raster;
    TileProblem problem;        // the tile that stopped a kTile* status, or the kHostFailure reason
    size_t tiles = 0;
    size_t missing = 0;         // tiles drawn blank
    std::string firstMissing;
    uint64_t tileBytes = 0;
};

// A host as the map application is one: it copies the addresses in the
// download callback, fetches and decodes the tiles on a worker thread and
// completes the job from there, then waits for the event.
class RenderHost {
public:
    RenderHost(const PluginApi& api, std::unique_ptr<TileSource> source, RenderSettings settings);
    ~RenderHost();

    bool Bind(const std::u16string& layer, int32_t layerId) { return api.initLayer(layer.c_str(), layerId); }
    RenderOutcome Render(const DataRequestBlock& request);

private:
    static int32_t KVL_CALL OnDownload(DownloadJob* job, DownloadDoneFn done, void* context);
    static void KVL_CALL OnEvent(int32_t result, DownloadJob* job, LayerImage* image, void* context);
    int32_t Accept(const DownloadJob& job, DownloadDoneFn done);
    void FetchAndComplete(DownloadDoneFn done);
    int32_t TakeInTiles();

    const PluginApi& api;
    std::unique_ptr<TileSource> source;
    RenderSettings settings;

    // The job of the one request in flight, as the host keeps it.
    DownloadJob job{};
    std::vector<TileSlot> slots;    // every tile of the job
    std::vector<std::string> urls;  // those fetched
    TileIntake intake;
    std::vector<TileImage> images;
    std::thread worker;

    std::mutex mutex;
    std::condition_variable eventArrived;
    bool haveEvent = false;
    RenderOutcome outcome;
};

// One line that says what a DataRequest result, or an event result, means.
std::string DescribeRequestResult(int32_t code);
std::string DescribeEventResult(int32_t code, const TileProblem& problem);
