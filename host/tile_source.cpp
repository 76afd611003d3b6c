#include "host/tile_source.h"

#include <sys/stat.h>

#include "host/tile_address.h"

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

bool StartLocalFetch(const std::string& url, std::chrono::steady_clock::time_point deadline, TileAddress& address,
                     TileFetch& fetch) {
    if (!ParseTileAddress(url, address)) {
        fetch.reason = "not a tile service address";
        return false;
    }
    if (std::chrono::steady_clock::now() > deadline) {
        fetch.reason = "the fetch deadline passed";
        return false;
    }
    return true;
}

std::unique_ptr<TileSource> MakeTileSource(const std::string& description, std::string& error) {
    for (const std::string scheme : {"http://", "https://"}) {
        if (!StartsWith(description, scheme)) continue;
        if (IsTileTemplate(description)) {
            return MakeHttpTileSource("", description);
        }
        // The plug-in's addresses are http: only a plain server takes them as they are.
        if (scheme == "https://") {
            error = "'" + description + "' is no URL template with {z}, {x} and {y} or {-y}";
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
    if (IsTileTemplate(description)) {
        return MakePathTemplateTileSource(description);
    }
    struct stat info {};
    if (stat(description.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        return MakeMbtilesTileSource(description, error);
    }
    if (stat(description.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = "tile directory '" + description + "' does not exist";
        return nullptr;
    }
    return MakeDirectoryTileSource(description);
}
