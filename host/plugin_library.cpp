#include "host/plugin_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

void* OpenLibrary(const std::string& path, std::string& error) {
#ifdef _WIN32
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    }
    return reinterpret_cast<void*>(module);
#else
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        // dlerror() may have nothing to say (null), which no string takes.
        const char* reason = dlerror();
        error = reason != nullptr ? reason : "cannot load " + path;
    }
    return handle;
#endif
}

void CloseLibrary(void* handle) {
#ifdef _WIN32
    FreeLibrary(reinterpret_cast<HMODULE>(handle));
#else
    dlclose(handle);
#endif
}

void* FindSymbol(void* handle, const char* name) {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle), name));
#else
    return dlsym(handle, name);
#endif
}

template <typename Fn>
bool Resolve(const PluginLibrary& library, const char* name, Fn& out, std::string& error) {
    out = reinterpret_cast<Fn>(library.Symbol(name));
    if (out == nullptr) {
        error = std::string("the plug-in does not export ") + name;
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<PluginLibrary> PluginLibrary::Open(const std::string& path, std::string& error) {
    void* handle = OpenLibrary(path, error);
    if (handle == nullptr) {
        return nullptr;
    }
    std::unique_ptr<PluginLibrary> library(new PluginLibrary(handle));
    PluginApi& api = library->api;
    if (!Resolve(*library, "DataInitLayer", api.initLayer, error) ||
        !Resolve(*library, "DataRequest", api.request, error) ||
        !Resolve(*library, "DataSetDownloadCallback", api.setDownloadCallback, error) ||
        !Resolve(*library, "DataSetEventCallback", api.setEventCallback, error) ||
        !Resolve(*library, "KvlPluginInfo", api.pluginInfo, error)) {
        return nullptr;
    }
    return library;
}

PluginLibrary::~PluginLibrary() {
    CloseLibrary(handle);
}

void* PluginLibrary::Symbol(const char* name) const {
    return FindSymbol(handle, name);
}
