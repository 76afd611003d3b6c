#include "serve/host_adapter.h"

#include "host/image_codec.h"
#include "host/plugin_library.h"
#include "host/tile_source.h"

namespace {

constexpr int kJpegQuality = 90;
constexpr int32_t kTileSize = 256;

void DecodeInto(const std::vector<uint8_t>& body, TileOutcome& outcome) {
    if (body.size() > kMaxTileFileBytes) {
        outcome.error = "tile file of " + std::to_string(body.size()) + " bytes is over the limit of " +
                        std::to_string(kMaxTileFileBytes);
        return;
    }
    RgbImage image;
    std::string error;
    if (!DecodeImage(body, image, error)) {
        outcome.error = "cannot decode: " + error;
        return;
    }
    if (image.width != kTileSize || image.height != kTileSize) {
        outcome.error = "not a 256 x 256 tile";
        return;
    }
    auto tile = std::make_shared<DecodedTile>();
    tile->width = image.width;
    tile->height = image.height;
    tile->pixels = std::move(image.pixels);
    outcome.tile = std::move(tile);
}

}  // namespace

struct LoadedPlugin::Library {
    std::unique_ptr<PluginLibrary> handle;
};

LoadedPlugin::LoadedPlugin(std::unique_ptr<Library> library) : library(std::move(library)) {
    const PluginApi& api = this->library->handle->Api();
    exports.initLayer = api.initLayer;
    exports.request = api.request;
    exports.setDownloadCallback = api.setDownloadCallback;
    exports.setEventCallback = api.setEventCallback;
    exports.pluginInfo = api.pluginInfo;
}

LoadedPlugin::~LoadedPlugin() = default;

std::unique_ptr<LoadedPlugin> LoadedPlugin::Open(const std::string& path, std::string& error) {
    auto library = std::make_unique<Library>();
    library->handle = PluginLibrary::Open(path, error);
    if (!library->handle) return nullptr;
    return std::unique_ptr<LoadedPlugin>(new LoadedPlugin(std::move(library)));
}

TileBatchFetcher MakeTileFetcher(const std::string& source) {
    std::shared_ptr<TileSource> tiles(MakeTileSource(source));
    return [tiles](const std::vector<std::string>& urls, std::vector<TileOutcome>& outcomes) {
        outcomes.assign(urls.size(), TileOutcome{});
        std::vector<std::vector<uint8_t>> bodies;
        FetchFailure failure;
        if (!tiles->FetchAll(urls, bodies, failure, [](size_t) {})) {
            // The source stops at its first failure; the rest are unknown.
            for (size_t i = 0; i < urls.size(); ++i) {
                outcomes[i].skipped = urls[i] != failure.url;
                outcomes[i].error = outcomes[i].skipped ? "not fetched: " + failure.url + " failed" : failure.reason;
            }
            return;
        }
        for (size_t i = 0; i < urls.size(); ++i) {
            DecodeInto(bodies[i], outcomes[i]);
            std::vector<uint8_t>().swap(bodies[i]);
        }
    };
}

bool EncodeJpegRaster(std::vector<uint8_t> rgb, uint32_t width, uint32_t height, std::vector<uint8_t>& encoded,
                      std::string& error) {
    RgbImage image;
    image.width = static_cast<int32_t>(width);
    image.height = static_cast<int32_t>(height);
    image.pixels = std::move(rgb);
    return EncodeJpeg(image, kJpegQuality, encoded, error);
}

std::string Utf16ToUtf8(const char16_t* text) {
    return ToUtf8(text);
}

std::u16string Utf8ToUtf16(const std::string& text) {
    return ToUtf16(text);
}
