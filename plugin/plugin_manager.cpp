#include "plugin/plugin_manager.h"

#include <vector>

#include "raster/raster_pool.h"

namespace {

// Built when the library is loaded, torn down when it is unloaded.
PluginManager manager;

void FoldAsciiCase(std::u16string& name) {
    for (char16_t& unit : name) {
        if (unit >= u'A' && unit <= u'Z') {
            unit = static_cast<char16_t>(unit + (u'a' - u'A'));
        }
    }
}

}  // namespace

PluginManager::PluginManager() noexcept = default;

PluginManager::~PluginManager() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    layerTable.clear();
    // The registry, and with it every layer, goes after the table.
}

PluginManager& PluginManager::Instance() {
    return manager;
}

void PluginManager::SetEventCallback(EventCallback fn, void* context) {
    eventCallback.Store(fn, context);
}

void PluginManager::SetDownloadCallback(DownloadCallback fn, void* context) {
    downloadCallback.Store(fn, context);
}

bool PluginManager::InitLayer(std::u16string name, int32_t layerId) {
    FoldAsciiCase(name);
    std::lock_guard<std::recursive_mutex> lock(mutex);
    DataSrcLayer* layer = registry.GetOrCreateLayer(name);
    if (layer == nullptr) {
        return false;
    }
    layerTable[layerId] = layer;
    return true;
}

DataSrcLayer* PluginManager::FindLayer(int32_t layerId) {
    std::unique_lock<std::recursive_mutex> lock(mutex);
    const auto found = layerTable.find(layerId);
    DataSrcLayer* layer = found == layerTable.end() ? nullptr : found->second;
    lock.unlock();
    return layer;
}

int32_t PluginManager::StartRequest(const DataRequestBlock* request) {
    if (request == nullptr) {
        return ZARVO_REQUEST_UNSERVABLE;
    }
    const CallbackSlot<DownloadCallback>::Registration download = downloadCallback.Load();
    if (download.fn == nullptr) {
        return ZARVO_REQUEST_REFUSED;
    }
    DataSrcLayer* layer = FindLayer(request->layerId);
    if (layer == nullptr) {
        return ZARVO_REQUEST_NO_LAYER;
    }

    DownloadJob job{};
    job.request = *request;
    job.jobWordA = 1;
    job.jobWordB = 2;
    AddressList urls;
    int32_t result = layer->BuildRequest(job.request, urls);
    if (result != ZARVO_REQUEST_STARTED) {
        return result;
    }
    // The texts stay ours: the host copies what it keeps before it returns.
    std::vector<const char16_t*> items(urls.Size());
    for (size_t i = 0; i < urls.Size(); ++i) {
        items[i] = urls.Text(i);
    }
    job.items = items.data();
    job.itemCount = static_cast<int32_t>(items.size());
    if (download.fn(&job, &DownloadDone, download.context) == 0) {
        result = ZARVO_REQUEST_REFUSED;
    }
    return result;
}

void PluginManager::Report(int32_t result, DownloadJob* job, LayerImage* image) {
    const CallbackSlot<EventCallback>::Registration event = eventCallback.Load();
    if (event.fn != nullptr) {
        event.fn(result, job, image, event.context);
    }
}

void PluginManager::CompleteDownload(int32_t status, DownloadJob* job) {
    if (job == nullptr) {
        return;
    }
    LayerImage image{};
    if (status != 0) {
        Report(status, job, &image);  // the host's own status, unchanged
        return;
    }
    int32_t result = ZARVO_EVENT_OUT_OF_MEMORY;
    try {
        DataSrcLayer* layer = FindLayer(job->request.layerId);
        if (layer == nullptr) {
            return;  // a completion for an unbound id has no one to report to
        }
        result = layer->ProcessDownload(*job, image);
    } catch (...) {
        // Only allocations throw below here; nothing was handed over.
        image = LayerImage{};
        result = ZARVO_EVENT_OUT_OF_MEMORY;
    }
    const PooledRaster raster(image.pixels, RasterReturn{static_cast<size_t>(image.byteSize)});
    Report(result, job, &image);
}

extern "C" void KVL_CALL DownloadDone(int32_t status, DownloadJob* job) {
    PluginManager::Instance().CompleteDownload(status, job);
}
