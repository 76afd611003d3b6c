#include "render/render_options.h"

#include <cmath>
#include <sstream>

#include "host/number_parsing.h"
#include "projection/zoom.h"

const char kRenderUsage[] =
    "usage: zarvo-render --layer map|aerial|hybrid --zoom Z|auto --tiles SOURCE --out FILE\n"
    "                    (--bbox WEST,SOUTH,EAST,NORTH --size WxH |\n"
    "                     -te XMIN YMIN XMAX YMAX (-ts W H | -tr XRES YRES)) [options]\n"
    "       zarvo-render --help | --version\n"
    "\n"
    "Asks the Zarvo data plug-in for a raster on a regular longitude/latitude grid\n"
    "(EPSG:4326) and writes it georeferenced, of any size: a large raster is drawn\n"
    "in parts and written as it goes. Each tile pixel's value is placed at its\n"
    "centre, as GIS programs place it (--plugin-grid keeps the plug-in's own\n"
    "positions). Pixels whose centres lie beyond the tiled world (north of 85.0511\n"
    "or south of -85.0511 degrees) have no data.\n"
    "\n"
    "  --zoom Z|auto       1 (one tile for the world) to 21; reads the tile service's\n"
    "                      zoom Z-1; auto: the zoom whose tiles have at least one\n"
    "                      pixel per output pixel (zarvo-serve's rule)\n"
    "  --bbox W,S,E,N      degrees; the centres of the edge pixels lie on the edges\n"
    "  --size WxH          with --bbox: 2 to 1048576 pixels each\n"
    "  -te XMIN YMIN XMAX YMAX  the outer edges, as gdalwarp takes them\n"
    "  -ts W H | -tr XRES YRES  with -te: the size in pixels, or the pixel size\n"
    "                      Latitudes lie within -90 to 90. A box across longitude\n"
    "                      180 has WEST > EAST, or an edge beyond 180 (up to 540).\n"
    "  --tiles SOURCE      a directory in the service's layout DIR/LAYER/Z/X/Y.EXT\n"
    "                      (rows from the south); a directory in any layout as a\n"
    "                      path template, e.g. DIR/{z}/{x}/{y}.png; an MBTiles file;\n"
    "                      http://HOST:PORT, which serves every tile address as it\n"
    "                      is; or a URL template over http or https. In templates\n"
    "                      {y} counts rows from the north (XYZ, as most servers),\n"
    "                      {-y} from the south (TMS); {z} is the service's zoom,\n"
    "                      {s:a,b,c} picks one of the listed servers ({s}: a, b, c),\n"
    "                      {layer} and {ext} are the layer and its image type\n"
    "  --out FILE          the raster; its extension names the format (.tif GeoTIFF,\n"
    "                      .png PNG with world file .pgw, .jpg) unless -of does\n"
    "  -of FORMAT          a GDAL raster driver that writes files: GTiff, COG, PNG, ...\n"
    "  -co NAME=VALUE      a creation option for the driver (again for more)\n"
    "  --overwrite         replace an existing output (else it is refused)\n"
    "  --nodata alpha|mask pixels without data: an alpha band (default) or a mask\n"
    "  --plugin-grid       the plug-in's own positions (a tile pixel's value at its\n"
    "                      north-west corner), as the map application shows them\n"
    "  --chunk K/N         only the K-th of N bands of rows (K = 1..N), into its\n"
    "                      own file; gdalbuildvrt assembles the N files\n"
    "  --missing blank|fail  a tile the source does not have (no file, HTTP 404) is\n"
    "                      drawn grey and counted (blank, the default) or fails the\n"
    "                      render; a render whose every tile is missing fails\n"
    "  --max-memory MB     memory the render may take (default 2048)\n"
    "  --tile-timeout S    time limit of one tile transfer (default 10)\n"
    "  --fetch-deadline S  time limit of the transfers of one part (default 300)\n"
    "  --max-tile-bytes N  largest tile file taken (default 4194304)\n"
    "  --plugin LIBRARY    the plug-in (default: libzarvo_data_plugin.so next to this\n"
    "                      program, else libzarvo_data_plugin.so.1 in ../lib)\n"
    "  --layer-id N        the layer id to bind (default 1)\n"
    "  -q, --quiet         print errors only\n"
    "  --verbose           also print the plug-in's descriptor\n"
    "\n"
    "Options take their value as --opt VALUE or --opt=VALUE.\n"
    "Exit status: 0 written, 1 failed, 2 bad arguments.\n";

namespace {

constexpr long long kMaxSide = 1 << 20;

bool ParseBox(const std::string& text, RenderOptions& o) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');) parts.push_back(part);
    return parts.size() == 4 && ParseFiniteNumber(parts[0], o.west) && ParseFiniteNumber(parts[1], o.south) &&
           ParseFiniteNumber(parts[2], o.east) && ParseFiniteNumber(parts[3], o.north);
}

bool ParseSize(const std::string& w, const std::string& h, long long low, RenderOptions& o) {
    long long width = 0, height = 0;
    if (!ParseWholeNumber(w, low, kMaxSide, width) || !ParseWholeNumber(h, low, kMaxSide, height)) return false;
    o.width = static_cast<uint32_t>(width);
    o.height = static_cast<uint32_t>(height);
    return true;
}

std::string CheckBox(RenderOptions& o) {
    if (o.south < -90 || o.north > 90) {
        return "latitudes lie within -90 to 90: the box's south is " + std::to_string(o.south) + " and north " +
               std::to_string(o.north);
    }
    if (o.west > o.east) o.east += 360;  // across longitude 180
    if (o.west == o.east || o.south >= o.north) {
        return "the box wants WEST != EAST and SOUTH < NORTH";
    }
    if (o.west < -540 || o.east > 540 || o.east - o.west > 360) {
        return "the box's longitudes lie within -540 to 540 and span at most 360 degrees";
    }
    return "";
}

// --opt=value is --opt value.
std::vector<std::string> SplitEquals(const std::vector<std::string>& args) {
    std::vector<std::string> split;
    for (const std::string& arg : args) {
        const size_t equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            split.push_back(arg.substr(0, equals));
            split.push_back(arg.substr(equals + 1));
        } else {
            split.push_back(arg);
        }
    }
    return split;
}

size_t ValueCount(const std::string& flag) {
    if (flag == "-te") return 4;
    if (flag == "-ts" || flag == "-tr") return 2;
    if (flag == "--quiet" || flag == "-q" || flag == "--verbose" || flag == "--overwrite" ||
        flag == "--plugin-grid") {
        return 0;
    }
    return 1;
}

}  // namespace

PixelGrid RenderOptions::Grid() const {
    return edges ? GridFromEdges(west, south, east, north, width, height)
                 : GridFromCentres(west, south, east, north, width, height);
}

bool ParseRenderOptions(const std::vector<std::string>& given, RenderOptions& o, std::string& error) {
    for (const std::string& arg : given) {
        if (arg == "--help" || arg == "-h") {
            o.action = RenderOptions::Action::Help;
            return true;
        }
        if (arg == "--version") {
            o.action = RenderOptions::Action::Version;
            return true;
        }
    }
    const std::vector<std::string> args = SplitEquals(given);
    bool haveZoom = false, haveBbox = false, haveTe = false, haveSize = false, haveRes = false;
    double xres = 0, yres = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& flag = args[i];
        const size_t count = ValueCount(flag);
        if (count == 0) {
            if (flag == "--quiet" || flag == "-q") o.quiet = true;
            if (flag == "--verbose") o.verbose = true;
            if (flag == "--overwrite") o.output.overwrite = true;
            if (flag == "--plugin-grid") o.pluginGrid = true;
            continue;
        }
        if (flag.empty() || flag[0] != '-') {
            error = "unexpected argument '" + flag + "'";
            return false;
        }
        if (i + count >= args.size()) {
            error = flag + (count == 1 ? " needs a value" : " needs " + std::to_string(count) + " values");
            return false;
        }
        const std::vector<std::string> values(args.begin() + static_cast<long>(i) + 1,
                                              args.begin() + static_cast<long>(i + count) + 1);
        i += count;
        const std::string& value = values[0];
        long long number = 0;
        const auto bad = [&](const std::string& wants) {
            std::string shown;
            for (const std::string& v : values) shown += (shown.empty() ? "" : " ") + v;
            error = flag + " wants " + wants + ", not '" + shown + "'";
            return false;
        };
        if (flag == "--layer") {
            o.layer = value;
        } else if (flag == "--zoom") {
            if (value == "auto") {
                o.zoom = 0;
            } else if (ParseWholeNumber(value, kMinZoom, kMaxZoom, number)) {
                o.zoom = static_cast<int32_t>(number);
            } else {
                return bad("1 to 21 or auto");
            }
            haveZoom = true;
        } else if (flag == "--bbox") {
            if (!ParseBox(value, o)) return bad("four finite numbers WEST,SOUTH,EAST,NORTH in degrees");
            haveBbox = true;
        } else if (flag == "-te") {
            if (!ParseFiniteNumber(values[0], o.west) || !ParseFiniteNumber(values[1], o.south) ||
                !ParseFiniteNumber(values[2], o.east) || !ParseFiniteNumber(values[3], o.north)) {
                return bad("four finite numbers XMIN YMIN XMAX YMAX in degrees");
            }
            haveTe = true;
        } else if (flag == "--size") {
            const size_t x = value.find('x');
            if (x == std::string::npos || !ParseSize(value.substr(0, x), value.substr(x + 1), 2, o)) {
                return bad("WIDTHxHEIGHT, each 2 to 1048576");
            }
            haveSize = true;
        } else if (flag == "-ts") {
            if (!ParseSize(values[0], values[1], 1, o)) return bad("WIDTH HEIGHT, each 1 to 1048576");
            haveSize = true;
        } else if (flag == "-tr") {
            if (!ParseFiniteNumber(values[0], xres) || !ParseFiniteNumber(values[1], yres) || xres <= 0 || yres <= 0) {
                return bad("two positive pixel sizes in degrees");
            }
            haveRes = true;
        } else if (flag == "--tiles") {
            o.tiles = value;
        } else if (flag == "--out") {
            o.output.path = value;
        } else if (flag == "-of") {
            o.output.driver = value;
        } else if (flag == "-co") {
            if (value.find('=') == std::string::npos || value[0] == '=') return bad("NAME=VALUE");
            o.output.creationOptions.push_back(value);
        } else if (flag == "--nodata") {
            if (value != "alpha" && value != "mask") return bad("alpha or mask");
            o.output.nodata = value == "mask" ? NodataStyle::Mask : NodataStyle::Alpha;
        } else if (flag == "--chunk") {
            long long k = 0, n = 0;
            const size_t slash = value.find('/');
            if (slash == std::string::npos || !ParseWholeNumber(value.substr(slash + 1), 1, kMaxSide, n) ||
                !ParseWholeNumber(value.substr(0, slash), 1, n, k)) {
                return bad("K/N with 1 <= K <= N");
            }
            o.chunkIndex = static_cast<uint32_t>(k);
            o.chunkCount = static_cast<uint32_t>(n);
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
    const char* missing = o.layer.empty()            ? "--layer"
                          : !haveZoom                ? "--zoom"
                          : !haveBbox && !haveTe     ? "--bbox or -te"
                          : o.tiles.empty()          ? "--tiles"
                          : o.output.path.empty()    ? "--out"
                                                     : nullptr;
    if (missing != nullptr) {
        error = std::string(missing) + " is missing";
        return false;
    }
    if (haveBbox == haveTe) {
        error = "--bbox (pixel centres) and -te (outer edges) exclude each other";
        return false;
    }
    o.edges = haveTe;
    if (haveBbox && (!haveSize || haveRes)) {
        error = haveRes ? "-tr goes with -te, not --bbox" : "--bbox wants --size";
        return false;
    }
    if (haveTe && haveSize == haveRes) {
        error = "-te wants one of -ts W H and -tr XRES YRES";
        return false;
    }
    error = CheckBox(o);
    if (!error.empty()) return false;
    if (haveRes) {
        const double columns = std::nearbyint((o.east - o.west) / xres);
        const double rows = std::nearbyint((o.north - o.south) / yres);
        if (!(columns >= 1 && columns <= kMaxSide && rows >= 1 && rows <= kMaxSide)) {
            error = "-tr makes the raster outside 1 to 1048576 pixels a side";
            return false;
        }
        o.width = static_cast<uint32_t>(columns);
        o.height = static_cast<uint32_t>(rows);
    }
    if (o.chunkCount > o.height) {
        error = "--chunk " + std::to_string(o.chunkIndex) + "/" + std::to_string(o.chunkCount) + ": the raster has " +
                std::to_string(o.height) + " rows";
        return false;
    }
    return true;
}
