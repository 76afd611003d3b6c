#include "serve/operations/content_stamp.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace {

// Folders looked at, at most: a tile set of the finest zooms has hundreds of
// thousands of column folders, which a start must not wait for.
constexpr size_t kMaxFolders = 100000;
constexpr size_t kMaxPluginBytes = size_t{256} << 20;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::string Hex(uint64_t value) {
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

std::string HashOfFile(const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return "unreadable:" + path;
    uint64_t hash = 0xcbf29ce484222325ull;
    std::vector<unsigned char> buffer(1 << 16);
    size_t total = 0;
    for (size_t n; total < kMaxPluginBytes && (n = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0;) {
        for (size_t i = 0; i < n; ++i) {
            hash ^= buffer[i];
            hash *= 0x100000001b3ull;
        }
        total += n;
    }
    return Hex(hash) + "-" + std::to_string(total);
}

// The newest modification (ns) of `folder` and the folders below it, down
// to `depth` levels, counting each in `seen`.
void NewestChange(const std::filesystem::path& folder, int depth, int64_t& newest, size_t& seen) {
    struct stat info {};
    if (seen >= kMaxFolders || stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return;
    ++seen;
    newest = std::max<int64_t>(newest, int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec);
    if (depth == 0) return;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->is_directory(error)) NewestChange(it->path(), depth - 1, newest, seen);
    }
}

}  // namespace

std::time_t FileModified(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mtime : 0;
}

TileSetStamp StampTileSet(const std::string& tileSource) {
    TileSetStamp stamp;
    struct stat info {};
    const bool local = tileSource.find("://") == std::string::npos;
    if (local && stat(tileSource.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        // A tile file (MBTiles) changes as a whole.
        const int64_t changed = int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
        stamp.tiles = "file:" + std::to_string(changed) + ":" + std::to_string(info.st_size);
        stamp.lastModified = info.st_mtime;
        return stamp;
    }
    if (!local || tileSource.find('{') != std::string::npos) {
        stamp.tiles = (local ? "template:" : "server:") + tileSource;
        return stamp;
    }
    int64_t newest = 0;
    size_t seen = 0;
    NewestChange(tileSource, 3, newest, seen);  // DIR, LAYER, Z, X
    stamp.tiles = "directory:" + std::to_string(newest) + ":" + std::to_string(seen);
    stamp.lastModified = static_cast<std::time_t>(newest / 1000000000);
    return stamp;
}

ContentStamp StampContent(const std::string& pluginPath, const std::string& tileSource) {
    ContentStamp stamp;
    stamp.plugin = HashOfFile(pluginPath);
    stamp.tiles = StampTileSet(tileSource);
    return stamp;
}
