#include "host/image_codec.h"
#include "host/tile_source.h"

namespace {

constexpr char kServicePath[] = "/geowebcache/service/tms1.0.0/";

class DirectoryTileSource final : public TileSource {
public:
    explicit DirectoryTileSource(std::string directory) : directory(std::move(directory)) {}

    bool FetchAll(const std::vector<std::string>& urls, std::vector<std::vector<uint8_t>>& bodies,
                  FetchFailure& failure, const std::function<void(size_t)>& progress) override {
        bodies.assign(urls.size(), {});
        for (size_t i = 0; i < urls.size(); ++i) {
            const std::string relative = ServiceRelativePath(urls[i]);
            // The plug-in never makes "..", but a path from outside stays inside the directory.
            if (relative.empty() || relative.find("..") != std::string::npos) {
                failure = {urls[i], "not a tile service address"};
                return false;
            }
            const std::string path = directory + "/" + relative;
            if (!ReadFile(path, bodies[i])) {
                failure = {urls[i], "no file " + path};
                return false;
            }
            progress(i + 1);
        }
        return true;
    }

private:
    std::string directory;
};

}  // namespace

std::string ServiceRelativePath(const std::string& url) {
    const size_t at = url.find(kServicePath);
    return at == std::string::npos ? std::string() : url.substr(at + sizeof kServicePath - 1);
}

std::unique_ptr<TileSource> MakeDirectoryTileSource(const std::string& directory) {
    return std::make_unique<DirectoryTileSource>(directory);
}

std::unique_ptr<TileSource> MakeTileSource(const std::string& source) {
    const std::string scheme = "http://";
    if (source.compare(0, scheme.size(), scheme) == 0) {
        return MakeHttpTileSource(source.substr(scheme.size()));
    }
    return MakeDirectoryTileSource(source);
}
