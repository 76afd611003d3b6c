#pragma once

#include <array>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/plugin_job.h"
#include "host/plugin_library.h"
#include "tests/support/tile_fixtures.h"

// What the plug-in handed to the download callback, copied while the
// callback ran (the plug-in frees its texts when the callback returns).
struct OutgoingJob {
    std::array<uint8_t, sizeof(DataRequestBlock)> requestBytes;
    std::vector<std::string> urls;  // UTF-8
    int32_t itemCount;
    int32_t jobWordA;
    int32_t jobWordB;
    DownloadDoneFn done;
    void* context;
};

// One call of the event callback, with a copy of the raster.
struct HostEvent {
    int32_t result;
    DownloadJob* job;
    LayerImage image;
    std::vector<uint8_t> raster;
    void* context;
};

// When the host completes the jobs it accepts.
enum class Completion {
    Later,           // when the test calls CompletePending
    InsideCallback,  // from inside the download callback, on the same thread
    WorkerThread,    // from a thread of its own, as a real host does
};

// A host standing in for the map application that probes the interface
// itself: it drives a loaded plug-in through its exports only, records what
// comes back, and completes jobs with synthetic tiles (PatternFill) owned by
// the host, in ways no well-behaved host does (later, refused, with foreign
// statuses, with host words of its own). It reads and answers jobs with the
// plug-in host's pieces (host/plugin_job.h); renders that need none of this
// go through PluginHost with PatternTiles.
class StandInHost {
public:
    explicit StandInHost(const PluginApi& api);
    ~StandInHost();  // waits for its worker threads

    void RegisterCallbacks();
    int32_t Request(const DataRequestBlock& request) { return api.request(&request); }

    // Settings for the jobs that follow.
    int32_t acceptResult = 1;  // what the download callback returns
    Completion completion = Completion::Later;
    int32_t completionStatus = 0;
    int32_t bytesPerPixel = 3;

    // Completes every job accepted with Completion::Later.
    void CompletePending();
    void JoinWorkers();

    std::vector<OutgoingJob> Outgoing();
    std::vector<HostEvent> Events();

    // The host's own record of a completed job: tiles for every address.
    struct CompletedJob {
        DownloadJob job;
        TileSet tiles;
    };

    static int32_t KVL_CALL OnDownload(DownloadJob* job, DownloadDoneFn done, void* context);
    static void KVL_CALL OnEvent(int32_t result, DownloadJob* job, LayerImage* image, void* context);

private:
    CompletedJob* PrepareCompletion(const DataRequestBlock& request, size_t tileCount);

    const PluginApi& api;
    std::mutex mutex;
    std::vector<OutgoingJob> outgoing;
    std::vector<HostEvent> events;
    std::list<CompletedJob> completed;  // stable addresses: the plug-in hands them back
    std::vector<std::pair<CompletedJob*, DownloadDoneFn>> pending;
    std::vector<std::thread> workers;
};
