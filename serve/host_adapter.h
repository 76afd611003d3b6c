#pragma once

// Everything zarvo-serve takes from the shared host code, behind one seam:
// loading the plug-in, fetching and decoding tiles, encoding images, text
// conversion. Nothing else in serve/ includes from host/.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "plugin/zarvo_data_plugin.h"
#include "serve/tile_cache.h"

// The five exports of a loaded plug-in.
struct PluginExports {
    decltype(&DataInitLayer) initLayer = nullptr;
    decltype(&DataRequest) request = nullptr;
    decltype(&DataSetDownloadCallback) setDownloadCallback = nullptr;
    decltype(&DataSetEventCallback) setEventCallback = nullptr;
    decltype(&KvlPluginInfo) pluginInfo = nullptr;
};

// The plug-in library, loaded once; unloaded when this is destroyed.
class LoadedPlugin {
public:
    static std::unique_ptr<LoadedPlugin> Open(const std::string& path, std::string& error);
    ~LoadedPlugin();
    const PluginExports& Exports() const { return exports; }

private:
    struct Library;
    explicit LoadedPlugin(std::unique_ptr<Library> library);
    std::unique_ptr<Library> library;
    PluginExports exports;
};

// Fetches tiles from any source zarvo-render takes (a directory in the
// service layout, http://HOST:PORT, a URL template), within the shared
// host's limits, and decodes them into 256 x 256 RGB tiles; a tile the
// source does not have becomes the shared blank tile. Null, with the reason
// in `error`, for a source that cannot be used.
TileBatchFetcher MakeTileFetcher(const std::string& source, std::string& error);

// An RGB raster encoded as JPEG.
bool EncodeJpegRaster(std::vector<uint8_t> rgb, uint32_t width, uint32_t height, std::vector<uint8_t>& encoded,
                      std::string& error);

std::string Utf16ToUtf8(const char16_t* text);
std::u16string Utf8ToUtf16(const std::string& text);
