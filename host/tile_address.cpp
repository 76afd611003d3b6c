#include "host/tile_address.h"

#include <cctype>
#include <vector>

namespace {

constexpr char kServicePath[] = "/geowebcache/service/tms1.0.0/";

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_';
}

// Reads a decimal number of at most 10 digits up to `end`, advancing `at`.
bool ReadNumber(const std::string& text, size_t& at, char end, int64_t& value) {
    const size_t start = at;
    value = 0;
    while (at < text.size() && at - start < 10 && std::isdigit(static_cast<unsigned char>(text[at])) != 0) {
        value = value * 10 + (text[at++] - '0');
    }
    if (at == start || at >= text.size() || text[at] != end) {
        return false;
    }
    ++at;
    return true;
}

void ReplaceAll(std::string& text, const std::string& key, const std::string& value) {
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size())) {
        text.replace(at, key.size(), value);
    }
}

}  // namespace

bool ParseTileAddress(const std::string& url, TileAddress& address) {
    const size_t service = url.find(kServicePath);
    if (service == std::string::npos) {
        return false;
    }
    size_t at = service + sizeof kServicePath - 1;
    const size_t layerStart = at;
    while (at < url.size() && IsNameChar(url[at])) ++at;
    if (at == layerStart || at >= url.size() || url[at] != '/') {
        return false;
    }
    address.layer = url.substr(layerStart, at - layerStart);
    ++at;
    if (!ReadNumber(url, at, '/', address.z) || !ReadNumber(url, at, '/', address.x) ||
        !ReadNumber(url, at, '.', address.y)) {
        return false;
    }
    address.extension = url.substr(at);
    if (address.extension.empty()) {
        return false;
    }
    for (char c : address.extension) {
        if (!IsNameChar(c)) return false;
    }
    return true;
}

std::string RelativeTilePath(const TileAddress& a) {
    return a.layer + "/" + std::to_string(a.z) + "/" + std::to_string(a.x) + "/" + std::to_string(a.y) + "." +
           a.extension;
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
