#include <sys/stat.h>

#include <chrono>

#include "host/bounded_file.h"
#include "host/tile_address.h"
#include "host/tile_source.h"

namespace {

class DirectoryTileSource final : public TileSource {
public:
    explicit DirectoryTileSource(std::string directory) : directory(std::move(directory)) {}

    void Fetch(const std::vector<std::string>& urls, const FetchLimits& limits, const TileSink& sink) override {
        const auto deadline = std::chrono::steady_clock::now() + limits.deadline;
        for (size_t i = 0; i < urls.size(); ++i) {
            if (!sink(i, FetchOne(urls[i], limits, deadline))) {
                return;
            }
        }
    }

private:
    TileFetch FetchOne(const std::string& url, const FetchLimits& limits,
                       std::chrono::steady_clock::time_point deadline) const {
        TileFetch fetch;
        TileAddress address;
        // The parsed address has no "..": a path from outside stays inside the directory.
        if (!ParseTileAddress(url, address)) {
            fetch.reason = "not a tile service address";
            return fetch;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            fetch.reason = "the fetch deadline passed";
            return fetch;
        }
        const std::string path = directory + "/" + RelativeTilePath(address);
        switch (ReadBoundedFile(path, limits.maxBodyBytes, fetch.body, fetch.reason)) {
            case FileReadStatus::Read: fetch.outcome = TileOutcome::Body; break;
            case FileReadStatus::Missing:
                fetch.outcome = TileOutcome::Missing;
                fetch.reason = "no file " + path;
                break;
            case FileReadStatus::Refused: fetch.outcome = TileOutcome::Failed; break;
        }
        return fetch;
    }

    std::string directory;
};

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::unique_ptr<TileSource> MakeDirectoryTileSource(const std::string& directory) {
    return std::make_unique<DirectoryTileSource>(directory);
}

std::unique_ptr<TileSource> MakeTileSource(const std::string& description, std::string& error) {
    for (const std::string scheme : {"http://", "https://"}) {
        if (!StartsWith(description, scheme)) continue;
        if (IsTileTemplate(description)) {
            return MakeHttpTileSource("", description);
        }
        // The plug-in's addresses are http: only a plain server takes them as they are.
        if (scheme == "https://") {
            error = "'" + description + "' is no URL template with {z}, {x} and {y}";
            return nullptr;
        }
        std::string rest = description.substr(scheme.size());
        if (!rest.empty() && rest.back() == '/') rest.pop_back();
        const size_t colon = rest.rfind(':');
        if (rest.find('/') != std::string::npos || colon == std::string::npos || colon == 0 ||
            colon + 1 == rest.size() || rest.find_first_not_of("0123456789", colon + 1) != std::string::npos) {
            error = "'" + description + "' is neither " + scheme + "HOST:PORT nor a URL template with {z}, {x} and {y}";
            return nullptr;
        }
        return MakeHttpTileSource(rest, "");
    }
    if (description.find("://") != std::string::npos) {
        error = "'" + description + "': tiles come from a directory or over http or https";
        return nullptr;
    }
    struct stat info {};
    if (stat(description.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = "tile directory '" + description + "' does not exist";
        return nullptr;
    }
    return MakeDirectoryTileSource(description);
}
