#include "host/tile_address.h"

namespace {

void ReplaceAll(std::string& text, const std::string& key, const std::string& value) {
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size())) {
        text.replace(at, key.size(), value);
    }
}

}  // namespace

bool IsTileTemplate(const std::string& pattern) {
    return pattern.find("{z}") != std::string::npos && pattern.find("{x}") != std::string::npos &&
           pattern.find("{y}") != std::string::npos;
}

std::string ExpandTileTemplate(const std::string& pattern, const TileAddress& a) {
    std::string url = pattern;
    ReplaceAll(url, "{z}", std::to_string(a.z));
    ReplaceAll(url, "{x}", std::to_string(a.x));
    ReplaceAll(url, "{y}", std::to_string(a.y));
    ReplaceAll(url, "{layer}", a.layer);
    ReplaceAll(url, "{ext}", a.extension);
    return url;
}
