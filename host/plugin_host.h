#pragma once

// The one conversation every host program has with the plug-in: bind a
// layer, ask for a raster, hand over the tiles the plug-in names, take the
// raster back. A host supplies only where the tiles come from.
//
// Contract
//
// Threads. Render may be called from any number of threads at once; each
// call is one DataRequest and one job, told apart in the plug-in's callbacks
// by the request's host words. Render returns only once its job has ended
// (the plug-in's event arrived, or the plug-in refused the request).
//
// Completion. CompleteOn::RenderingThread calls the provider inside the
// download callback, so the whole job runs on the thread of Render.
// CompleteOn::WorkerThread copies the addresses, returns from the download
// callback and calls the provider on a thread of the job's own, as the map
// application does; Render waits for it.
//
// Lifetimes. One PluginHost per loaded plug-in at a time: it registers the
// plug-in's two callbacks in its constructor and removes them in its
// destructor, so the PluginApi (and its library) must outlive it, and no
// Render may be running when it is destroyed. The tiles a provider returns
// must stay valid until the plug-in has drawn them: the provider keeps them
// alive through ProvidedTiles::keep, which the host drops after the plug-in
// has finished with them.
//
// Providers. A provider is called once per job with the job's tile
// addresses (UTF-8, in the plug-in's order), on the thread given by the
// completion. It returns one tile per address or one failure; it may block
// (fetch, decode, wait for memory) and may throw: anything thrown ends the
// job as OutOfMemory (std::bad_alloc) or HostFailure (the rest), never
// leaves the host. Providers of concurrent renders run concurrently.
//
// Cancellation. An accepted job is always finished: the plug-in needs
// exactly one completion for it. A host that gives up returns a failure from
// its provider (say, at a deadline), which ends the job at once without
// handing the plug-in any tile.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <zarvo_data_plugin.h>

#include "host/plugin_library.h"
#include "host/rgb_image.h"

// Why a render has no raster.
enum class RenderFailure {
    None,
    Unservable,       // the plug-in lists no tile for the request (zoom, edges, tile count, raster size)
    NoLayer,          // the request's layer id is bound to no layer
    Refused,          // the plug-in has no download callback, or the host could not take the job
    TooManyTiles,     // the provider: the job needs more tiles than it may hold
    TileMissing,      // the provider: a tile could not be fetched
    TileLate,         // the provider: a tile was not there by the deadline
    TileUndecodable,  // the provider: a tile was fetched but is no tile
    OutOfMemory,      // the plug-in or the host ran out of memory
    HostFailure,      // the provider failed otherwise
    PluginFailure,    // the plug-in could not draw the tiles it was given
};

// One decoded tile lent to the plug-in, which only reads it.
struct TileView {
    const uint8_t* pixels = nullptr;
    size_t byteSize = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t bytesPerPixel = 3;
};

// What a provider returns for one job: a tile per address, or one failure.
struct ProvidedTiles {
    std::vector<TileView> tiles;       // tile k for address k
    std::shared_ptr<const void> keep;  // owns the tiles' pixels while the plug-in draws them
    RenderFailure failure = RenderFailure::None;
    std::string message;  // one line naming the culprit, when failed

    static ProvidedTiles Failed(RenderFailure failure, std::string message);
};

using TileProvider = std::function<ProvidedTiles(const std::vector<std::string>& addresses)>;

// What one render came to: the raster, or why there is none.
struct RenderOutcome {
    RenderFailure failure = RenderFailure::None;
    std::string message;  // one line, when failed
    RgbImage raster;      // 3 bytes per pixel, when not failed

    bool Ok() const { return failure == RenderFailure::None; }
};

// Where a job is completed.
enum class CompleteOn {
    RenderingThread,  // the provider runs inside the download callback
    WorkerThread,     // the provider runs on a thread of the job's own
};

class PluginHost {
public:
    PluginHost(const PluginApi& api, CompleteOn completion);
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // Binds `layerId` to the layer named `layer`. False when the plug-in
    // does not know it.
    bool Bind(const std::string& layer, int32_t layerId);

    // One raster for a request block as the caller built it, from the layer
    // bound to its layer id, its tiles from `provider`. The request's host
    // words are the host's own and are overwritten.
    RenderOutcome Render(const DataRequestBlock& request, const TileProvider& provider);

private:
    struct Job;
    static int32_t KVL_CALL OnDownload(DownloadJob* job, DownloadDoneFn done, void* context);
    static void KVL_CALL OnEvent(int32_t result, DownloadJob* job, LayerImage* image, void* context);
    static Job* JobOf(const DownloadJob* job, const void* context);

    const PluginApi& api;
    const CompleteOn completion;
};

// The plug-in's own words for a DataRequest result and an event result.
std::string DescribeRequestResult(int32_t code);
std::string DescribeEventResult(int32_t code);
