#include "host/tile_address.h"

#include <vector>

namespace {

void ReplaceAll(std::string& text, const std::string& key, const std::string& value) {
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size())) {
        text.replace(at, key.size(), value);
    }
}

}  // namespace

std::string NameTile(const std::string& tried, const std::string& url) {
    std::string name = tried.empty() ? url : tried;
    TileAddress address;
    if (ParseTileAddress(url, address) && address.z < 62) {
        const int64_t fromNorth = (int64_t{1} << address.z) - 1 - address.y;
        name += " (level " + std::to_string(address.z) + ", column " + std::to_string(address.x) + ", row " +
                std::to_string(fromNorth) + " from the north)";
    }
    return name;
}

bool IsTileTemplate(const std::string& pattern) {
    return pattern.find("{z}") != std::string::npos && pattern.find("{x}") != std::string::npos &&
           (pattern.find("{y}") != std::string::npos || pattern.find("{-y}") != std::string::npos);
}

std::string ExpandTileTemplate(const std::string& pattern, const TileAddress& a) {
    std::string url = pattern;
    // The address counts rows from the south; {y} counts them from the north.
    const int64_t rows = a.z < 62 ? int64_t{1} << a.z : 0;
    ReplaceAll(url, "{z}", std::to_string(a.z));
    ReplaceAll(url, "{x}", std::to_string(a.x));
    ReplaceAll(url, "{-y}", std::to_string(a.y));
    ReplaceAll(url, "{y}", std::to_string(rows - 1 - a.y));
    ReplaceAll(url, "{layer}", a.layer);
    ReplaceAll(url, "{ext}", a.extension);
    // {s:a,b,c}: one of the listed servers, the same one for a tile every time.
    const size_t open = url.find("{s");
    if (open != std::string::npos) {
        const size_t close = url.find('}', open);
        std::string list = close == std::string::npos ? "" : url.substr(open + 2, close - open - 2);
        list = list.empty() ? "a,b,c" : list.substr(list[0] == ':' ? 1 : 0);
        std::vector<std::string> names;
        for (size_t at = 0;;) {
            const size_t comma = list.find(',', at);
            names.push_back(list.substr(at, comma - at));
            if (comma == std::string::npos) break;
            at = comma + 1;
        }
        const auto pick = static_cast<size_t>(a.x + a.y) % names.size();
        url.replace(open, close - open + 1, names[pick]);
    }
    return url;
}
