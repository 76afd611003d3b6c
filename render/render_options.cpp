#include "render/render_options.h"

#include <sstream>

#include "host/number_parsing.h"

const char kRenderUsage[] =
    "usage: zarvo-render --layer map|aerial|hybrid --zoom Z --bbox WEST,SOUTH,EAST,NORTH --size WxH\n"
    "                    --tiles SOURCE --out FILE.tif|FILE.png [options]\n"
    "       zarvo-render --help | --version\n"
    "\n"
    "Asks the Zarvo data plug-in for one raster on a regular longitude/latitude grid\n"
    "(EPSG:4326) and writes it georeferenced: a GeoTIFF, or a PNG with a world file\n"
    "(.pgw) and a .aux.xml. Column 0 is sampled on WEST, the last column on EAST,\n"
    "row 0 on NORTH and the last row on SOUTH.\n"
    "\n"
    "  --zoom Z            1 (one tile for the world) to 21; reads the tile service's\n"
    "                      zoom Z-1 (its directory Z-1)\n"
    "  --bbox W,S,E,N      degrees, W < E and S < N; a box across longitude 180 is\n"
    "                      two renders, W,S,180,N and -180,S,E,N\n"
    "  --size WxH          2 to 32768 pixels each\n"
    "  --tiles SOURCE      a directory in the service's layout DIR/LAYER/Z/X/Y.EXT;\n"
    "                      http://HOST:PORT, which serves every tile address as it is;\n"
    "                      or a URL template over http or https with {z}, {x}, {y}\n"
    "                      (rows counted from the south) and optionally {layer}, {ext}\n"
    "  --missing blank|fail  a tile the source does not have (no file, HTTP 404) is\n"
    "                      drawn grey and counted (blank, the default) or fails the render\n"
    "  --max-memory MB     memory the decoded tiles may take (default 2048)\n"
    "  --tile-timeout S    time limit of one tile transfer (default 10)\n"
    "  --fetch-deadline S  time limit of all tile transfers together (default 300)\n"
    "  --max-tile-bytes N  largest tile file taken (default 4194304)\n"
    "  --plugin LIBRARY    the plug-in (default: libzarvo_data_plugin.so next to this\n"
    "                      program, else libzarvo_data_plugin.so.1 in ../lib)\n"
    "  --layer-id N        the layer id to bind (default 1)\n"
    "  --quiet             print errors only\n"
    "  --verbose           also print the plug-in's descriptor\n"
    "\n"
    "Exit status: 0 written, 1 failed, 2 bad arguments.\n";

namespace {

bool ParseBox(const std::string& text, RenderOptions& o) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');) parts.push_back(part);
    return parts.size() == 4 && ParseFiniteNumber(parts[0], o.west) && ParseFiniteNumber(parts[1], o.south) &&
           ParseFiniteNumber(parts[2], o.east) && ParseFiniteNumber(parts[3], o.north);
}

// A georeferenced raster needs two samples per axis to have a pixel size.
bool ParseSize(const std::string& text, RenderOptions& o) {
    const size_t x = text.find('x');
    long long w = 0, h = 0;
    if (x == std::string::npos || !ParseWholeNumber(text.substr(0, x), 2, 32768, w) ||
        !ParseWholeNumber(text.substr(x + 1), 2, 32768, h)) {
        return false;
    }
    o.width = static_cast<uint32_t>(w);
    o.height = static_cast<uint32_t>(h);
    return true;
}

std::string CheckBox(const RenderOptions& o) {
    if (o.west > o.east) {
        std::ostringstream text;
        text << "--bbox: west " << o.west << " is east of east " << o.east
             << "; a box across longitude 180 is two renders: --bbox " << o.west << "," << o.south << ",180,"
             << o.north << " and --bbox -180," << o.south << "," << o.east << "," << o.north;
        return text.str();
    }
    if (o.west == o.east || o.south >= o.north) {
        return "--bbox wants WEST < EAST and SOUTH < NORTH";
    }
    return "";
}

}  // namespace

bool ParseRenderOptions(const std::vector<std::string>& args, RenderOptions& o, std::string& error) {
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            o.action = RenderOptions::Action::Help;
            return true;
        }
        if (arg == "--version") {
            o.action = RenderOptions::Action::Version;
            return true;
        }
    }
    bool haveZoom = false, haveBox = false, haveSize = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& flag = args[i];
        if (flag == "--quiet" || flag == "--verbose") {
            (flag == "--quiet" ? o.quiet : o.verbose) = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            error = flag.rfind("--", 0) == 0 ? flag + " needs a value" : "unexpected argument '" + flag + "'";
            return false;
        }
        const std::string& value = args[++i];
        long long number = 0;
        const auto bad = [&](const std::string& wants) {
            error = flag + " wants " + wants + ", not '" + value + "'";
            return false;
        };
        if (flag == "--layer") {
            o.layer = value;
        } else if (flag == "--zoom") {
            if (!ParseWholeNumber(value, -1000, 1000, number)) return bad("a whole number");
            o.zoom = static_cast<int32_t>(number);
            haveZoom = true;
        } else if (flag == "--bbox") {
            if (!ParseBox(value, o)) return bad("four finite numbers WEST,SOUTH,EAST,NORTH in degrees");
            haveBox = true;
        } else if (flag == "--size") {
            if (!ParseSize(value, o)) return bad("WIDTHxHEIGHT, each 2 to 32768");
            haveSize = true;
        } else if (flag == "--tiles") {
            o.tiles = value;
        } else if (flag == "--out") {
            o.out = value;
        } else if (flag == "--plugin") {
            o.plugin = value;
        } else if (flag == "--layer-id") {
            if (!ParseWholeNumber(value, INT32_MIN, INT32_MAX, number)) return bad("a 32-bit whole number");
            o.layerId = static_cast<int32_t>(number);
        } else if (flag == "--missing") {
            if (value != "blank" && value != "fail") return bad("blank or fail");
            o.missing = value == "fail" ? MissingTiles::Fail : MissingTiles::Blank;
        } else if (flag == "--max-memory") {
            if (!ParseWholeNumber(value, 1, int64_t{1} << 30, number)) return bad("megabytes, 1 or more");
            o.memoryBudgetBytes = static_cast<uint64_t>(number) << 20;
        } else if (flag == "--tile-timeout" || flag == "--fetch-deadline") {
            if (!ParseWholeNumber(value, 1, 86400, number)) return bad("seconds, 1 to 86400");
            (flag == "--tile-timeout" ? o.limits.transferTimeout : o.limits.deadline) =
                std::chrono::seconds(number);
        } else if (flag == "--max-tile-bytes") {
            if (!ParseWholeNumber(value, 1, int64_t{1} << 30, number)) return bad("bytes, 1 to 2^30");
            o.limits.maxBodyBytes = static_cast<size_t>(number);
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
    error = CheckBox(o);
    return error.empty();
}
