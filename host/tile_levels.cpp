#include "host/tile_levels.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <system_error>
#include <vector>

#include "host/number_parsing.h"
#include "host/tile_address.h"
#include "projection/tile_service.h"
#include "projection/zoom.h"

namespace {

namespace fs = std::filesystem;

// An MBTiles file's levels are asked for within this; a file whose tiles
// take longer to count (a view that never ends) cannot say.
constexpr std::chrono::seconds kMbtilesQueryTime{5};

// The plug-in's zoom of the service's level `level`; 0 for none.
int32_t ZoomOfLevel(long long level) {
    return level < 0 ? 0 : static_cast<int32_t>(std::min<long long>(level + 1, kMaxZoom));
}

// The deepest level named by the entries of `directory` that `name` matches
// (its first group the level), -1 when none does. Entries that are not
// folders count only when `files` (the last part of a path).
long long DeepestEntry(const fs::path& directory, const std::regex& name, bool files) {
    long long deepest = -1;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        std::smatch match;
        const std::string entry = it->path().filename().string();
        if (!std::regex_match(entry, match, name)) continue;
        std::error_code kind;
        if (!files && !it->is_directory(kind)) continue;
        long long level = 0;
        if (ParseWholeNumber(match[1].str(), 0, kMaxZoom, level)) deepest = std::max(deepest, level);
    }
    return deepest;
}

std::string EscapedForRegex(const std::string& text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

// One part of a path template as a pattern over names: {z} captured, the
// other placeholders as what they can be.
std::regex PartPattern(const std::string& part, const std::string& layer) {
    std::string pattern;
    for (size_t at = 0; at < part.size();) {
        const size_t open = part.find('{', at);
        const size_t close = open == std::string::npos ? std::string::npos : part.find('}', open);
        if (close == std::string::npos) {
            pattern += EscapedForRegex(part.substr(at));
            break;
        }
        pattern += EscapedForRegex(part.substr(at, open - at));
        const std::string key = part.substr(open, close - open + 1);
        pattern += key == "{z}"       ? "([0-9]{1,2})"
                   : key == "{layer}" ? EscapedForRegex(layer)
                   : key == "{ext}"   ? "[A-Za-z0-9]+"
                                      : "[0-9]+";
        at = close + 1;
    }
    return std::regex(pattern);
}

// A path template: the folder before the part that holds {z}, with {layer}
// in place, is listed; a placeholder other than {layer} before it cannot be
// listed.
int32_t DeepestInTemplate(const std::string& pathTemplate, const std::string& layer) {
    const size_t z = pathTemplate.find("{z}");
    const size_t slash = pathTemplate.rfind('/', z);
    const size_t first = slash == std::string::npos ? 0 : slash + 1;
    const size_t end = pathTemplate.find('/', z);
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : pathTemplate.substr(0, slash);
    for (size_t at = folder.find("{layer}"); at != std::string::npos; at = folder.find("{layer}", at + layer.size())) {
        folder.replace(at, 7, layer);
    }
    if (folder.find('{') != std::string::npos) return kLevelsUnknown;
    const std::string part = pathTemplate.substr(first, end == std::string::npos ? std::string::npos : end - first);
    return ZoomOfLevel(DeepestEntry(folder, PartPattern(part, layer), end == std::string::npos));
}

struct DatabaseCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};

int PastDeadline(void* context) {
    return std::chrono::steady_clock::now() > *static_cast<const std::chrono::steady_clock::time_point*>(context);
}

// The first column of the first row of `sql` as text; false when there is none.
bool QueryText(sqlite3* db, const char* sql, std::string& text) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) return false;
    const unsigned char* value = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_text(statement, 0) : nullptr;
    if (value != nullptr) text = reinterpret_cast<const char*>(value);
    sqlite3_finalize(statement);
    return value != nullptr;
}

int32_t DeepestInMbtiles(const std::string& path) {
    sqlite3* opened = nullptr;
    const int status = sqlite3_open_v2(path.c_str(), &opened, SQLITE_OPEN_READONLY, nullptr);
    const std::unique_ptr<sqlite3, DatabaseCloser> db(opened);
    if (status != SQLITE_OK) return kLevelsUnknown;
    auto deadline = std::chrono::steady_clock::now() + kMbtilesQueryTime;
    sqlite3_progress_handler(db.get(), 1000, PastDeadline, &deadline);
    std::string text;
    long long level = 0;
    if (QueryText(db.get(), "SELECT value FROM metadata WHERE name = 'maxzoom'", text) &&
        ParseWholeNumber(text, 0, 1000, level)) {
        return ZoomOfLevel(level);
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db.get(), "SELECT MAX(zoom_level) FROM tiles", -1, &statement, nullptr) != SQLITE_OK) {
        return kLevelsUnknown;
    }
    int32_t zoom = kLevelsUnknown;
    if (sqlite3_step(statement) == SQLITE_ROW) {
        zoom = sqlite3_column_type(statement, 0) == SQLITE_NULL
                   ? 0
                   : ZoomOfLevel(std::min<sqlite3_int64>(sqlite3_column_int64(statement, 0), 1000));
    }
    sqlite3_finalize(statement);
    return zoom;
}

}  // namespace

int32_t DeepestZoomHeld(const std::string& source, const std::string& layer) {
    if (source.find("://") != std::string::npos) return kLevelsUnknown;
    if (IsTileTemplate(source)) return DeepestInTemplate(source, layer);
    struct stat info {};
    if (stat(source.c_str(), &info) != 0) return 0;
    if (S_ISREG(info.st_mode)) return DeepestInMbtiles(source);
    return ZoomOfLevel(DeepestEntry(fs::path(source) / layer, std::regex("([0-9]{1,2})"), false));
}

LayersHeld LayersInSource(const std::string& source) {
    LayersHeld held;
    held.maxZoom = kMaxZoom;
    for (const char* layer : kServiceLayers) {
        const int32_t deepest = DeepestZoomHeld(source, layer);
        if (deepest == 0) continue;  // a layer the source does not have
        held.layers.emplace_back(layer);
        if (deepest != kLevelsUnknown) held.maxZoom = std::min(held.maxZoom, deepest);
    }
    if (held.layers.empty()) held.maxZoom = 0;
    return held;
}
