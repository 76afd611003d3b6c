#include "render/render_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

const char kRenderUsage[] =
    "usage: zarvo-render --layer map|aerial|hybrid --zoom Z --bbox WEST,SOUTH,EAST,NORTH --size WxH\n"
    "                    --tiles DIR|http://HOST:PORT --out FILE.png [--plugin LIBRARY] [--layer-id N] [--quiet]\n";

namespace {

bool ParseDouble(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(value);
}

bool ParseLong(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0' && value >= low && value <= high;
}

bool ParseBox(const std::string& text, RenderOptions& o) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');) parts.push_back(part);
    return parts.size() == 4 && ParseDouble(parts[0], o.west) && ParseDouble(parts[1], o.south) &&
           ParseDouble(parts[2], o.east) && ParseDouble(parts[3], o.north);
}

bool ParseSize(const std::string& text, RenderOptions& o) {
    const size_t x = text.find('x');
    long long w = 0, h = 0;
    if (x == std::string::npos || !ParseLong(text.substr(0, x), 1, 32768, w) ||
        !ParseLong(text.substr(x + 1), 1, 32768, h)) {
        return false;
    }
    o.width = static_cast<uint32_t>(w);
    o.height = static_cast<uint32_t>(h);
    return true;
}

}  // namespace

bool ParseRenderOptions(const std::vector<std::string>& args, RenderOptions& o, std::string& error) {
    bool haveZoom = false, haveBox = false, haveSize = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& flag = args[i];
        if (flag == "--quiet") {
            o.quiet = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            error = flag.rfind("--", 0) == 0 ? flag + " needs a value" : "unexpected argument '" + flag + "'";
            return false;
        }
        const std::string& value = args[++i];
        long long number = 0;
        if (flag == "--layer") {
            o.layer = value;
        } else if (flag == "--zoom") {
            if (!ParseLong(value, -1000, 1000, number)) {
                error = "--zoom wants a whole number, not '" + value + "'";
                return false;
            }
            o.zoom = static_cast<int32_t>(number);
            haveZoom = true;
        } else if (flag == "--bbox") {
            if (!ParseBox(value, o)) {
                error = "--bbox wants four finite numbers WEST,SOUTH,EAST,NORTH in degrees, not '" + value + "'";
                return false;
            }
            haveBox = true;
        } else if (flag == "--size") {
            if (!ParseSize(value, o)) {
                error = "--size wants WIDTHxHEIGHT, each 1 to 32768, not '" + value + "'";
                return false;
            }
            haveSize = true;
        } else if (flag == "--tiles") {
            o.tiles = value;
        } else if (flag == "--out") {
            o.out = value;
        } else if (flag == "--plugin") {
            o.plugin = value;
        } else if (flag == "--layer-id") {
            if (!ParseLong(value, INT32_MIN, INT32_MAX, number)) {
                error = "--layer-id wants a 32-bit whole number, not '" + value + "'";
                return false;
            }
            o.layerId = static_cast<int32_t>(number);
        } else {
            error = "unknown option '" + flag + "'";
            return false;
        }
    }
    const char* missing = o.layer.empty() ? "--layer"
                          : !haveZoom     ? "--zoom"
                          : !haveBox      ? "--bbox"
                          : !haveSize     ? "--size"
                          : o.tiles.empty() ? "--tiles"
                          : o.out.empty()   ? "--out"
                                            : nullptr;
    if (missing != nullptr) {
        error = std::string(missing) + " is missing";
        return false;
    }
    return true;
}
