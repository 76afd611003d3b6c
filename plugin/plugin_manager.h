#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "layers/data_src_layer.h"
#include "layers/layer_registry.h"
#include "plugin/zarvo_data_plugin.h"

// Host layer id to layer. Refers to layers; the registry owns them.
using LayerTable = std::map<int32_t, DataSrcLayer*>;

// The one process-wide object behind the exports: the host's callbacks, the
// binding of layer ids to layers, and the flow of each request to the host
// and back. Its mutex guards the table and the registry and is never held
// while the host or a layer runs, so the host may call back from anywhere.
class PluginManager {
public:
    PluginManager();
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

    // Each word is atomic: the host may replace a callback while another
    // thread reads it. Readers load the function once per use.
    std::atomic<EventCallback> eventCallback{nullptr};
    std::atomic<void*> eventContext{nullptr};
    std::atomic<DownloadCallback> downloadCallback{nullptr};
    std::atomic<void*> downloadContext{nullptr};
    LayerTable layerTable;
    std::unique_ptr<LayerRegistry> registry;
    std::recursive_mutex mutex;
};

// The completion routine whose address goes with every job.
extern "C" void KVL_CALL DownloadDone(int32_t status, DownloadJob* job);
