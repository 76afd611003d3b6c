#pragma once

#include <memory>
#include <string>

#include <zarvo_data_plugin.h>

// The five exports of a loaded plug-in, resolved by name.
struct PluginApi {
    decltype(&DataInitLayer) initLayer = nullptr;
    decltype(&DataRequest) request = nullptr;
    decltype(&DataSetDownloadCallback) setDownloadCallback = nullptr;
    decltype(&DataSetEventCallback) setEventCallback = nullptr;
    decltype(&KvlPluginInfo) pluginInfo = nullptr;
};

// A plug-in library loaded the way the host loads it: dynamically, with
// every export looked up by its undecorated name. Unloaded on destruction.
class PluginLibrary {
public:
    // Null, with the reason in `error`, when the file cannot be loaded or
    // lacks an export.
    static std::unique_ptr<PluginLibrary> Open(const std::string& path, std::string& error);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const PluginApi& Api() const { return api; }
    // The raw address of any symbol, or null.
    void* Symbol(const char* name) const;

private:
    explicit PluginLibrary(void* handle) : handle(handle) {}

    void* handle;
    PluginApi api;
};
