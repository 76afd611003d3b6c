#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "layers/data_src_layer.h"
#include "layers/layer_registry.h"
#include "plugin/callback_slot.h"
#include <zarvo_data_plugin.h>

// Host layer id to layer. Refers to layers; the registry owns them.
using LayerTable = std::map<int32_t, DataSrcLayer*>;

// The one process-wide object behind the exports: the host's callbacks, the
// binding of layer ids to layers, and the flow of each request to the host
// and back. Its mutex guards the table and the registry and is never held
// while the host or a layer runs, so the host may call any export from
// inside its callbacks and from any thread.
class PluginManager {
public:
    // Allocates nothing: it runs when the library is loaded, where nothing
    // thrown could reach the host as a result.
    PluginManager() noexcept;
    ~PluginManager();
    PluginManager(const PluginManager&) = delete;
    PluginManager& operator=(const PluginManager&) = delete;

    static PluginManager& Instance();

    void SetEventCallback(EventCallback fn, void* context);
    void SetDownloadCallback(DownloadCallback fn, void* context);

    // Binds `layerId` to the layer named `name` (A to Z folded to a to z).
    // False, and no binding changed, when no layer has that name.
    bool InitLayer(std::u16string name, int32_t layerId);

    // Builds the job of `request` and hands it to the host's download
    // callback. Returns 1 when the host accepted it, or a negative code.
    int32_t StartRequest(const DataRequestBlock* request);

    // The body of DownloadDone: assembles the raster of a completed job and
    // reports it to the host's event callback. Never throws.
    void CompleteDownload(int32_t status, DownloadJob* job);

private:
    // The layer bound to `layerId`, or null. Holds the mutex for the
    // lookup only: layers live until teardown, so the pointer stays valid.
    DataSrcLayer* FindLayer(int32_t layerId);
    void Report(int32_t result, DownloadJob* job, LayerImage* image);

    // The host may register again while other threads are inside requests
    // and completions. Each use reads its function and context together,
    // once, so it calls one registration's function with that registration's
    // context; a call that read the earlier pair may still run it after the
    // new one is in place, which is why the host keeps an old context alive
    // until the calls running at its re-registration have returned.
    CallbackSlot<EventCallback> eventCallback;
    CallbackSlot<DownloadCallback> downloadCallback;
    LayerTable layerTable;
    LayerRegistry registry;
    std::recursive_mutex mutex;
};

// The completion routine whose address goes with every job.
extern "C" void KVL_CALL DownloadDone(int32_t status, DownloadJob* job);
