#include <chrono>

#include "host/bounded_file.h"
#include "host/tile_address.h"
#include "host/tile_source.h"

namespace {

class DirectoryTileSource final : public TileSource {
public:
    // `pathTemplate` empty: the service's layout under `directory`.
    DirectoryTileSource(std::string directory, std::string pathTemplate)
        : directory(std::move(directory)), pathTemplate(std::move(pathTemplate)) {}

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
        if (!StartLocalFetch(url, deadline, address, fetch)) return fetch;
        fetch.address = pathTemplate.empty() ? directory + "/" + RelativeTilePath(address)
                                             : ExpandTileTemplate(pathTemplate, address);
        switch (ReadBoundedFile(fetch.address, limits.maxBodyBytes, fetch.body, fetch.reason)) {
            case FileReadStatus::Read: fetch.outcome = TileOutcome::Body; break;
            case FileReadStatus::Missing:
                fetch.outcome = TileOutcome::Missing;
                fetch.reason = "no such file";
                break;
            case FileReadStatus::Refused: fetch.outcome = TileOutcome::Failed; break;
        }
        return fetch;
    }

    std::string directory;
    std::string pathTemplate;
};

}  // namespace

std::unique_ptr<TileSource> MakeDirectoryTileSource(const std::string& directory) {
    return std::make_unique<DirectoryTileSource>(directory, "");
}

std::unique_ptr<TileSource> MakePathTemplateTileSource(const std::string& pathTemplate) {
    return std::make_unique<DirectoryTileSource>("", pathTemplate);
}
