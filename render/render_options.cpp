#include "render/render_options.h"

#include <chrono>
#include <cmath>
#include <sstream>

#include "command_line/option_readers.h"
#include "host/number_parsing.h"
#include "render/memory_budget.h"
#include "projection/zoom.h"

namespace {

constexpr long long kMaxSide = 1 << 20;

// The forms of the usage: the box by its pixel centres with its size, or by
// its outer edges with its size or its pixel size.
enum UsageForm : unsigned { kCentres = 1, kEdgesBySize = 2, kEdgesByResolution = 4, kPyramid = 8, kMerge = 16 };
constexpr unsigned kRasterForms = kCentres | kEdgesBySize | kEdgesByResolution;

const char kDescription[] =
    "Asks the Zarvo data plug-in for a raster on a regular longitude/latitude grid (EPSG:4326) and writes it "
    "georeferenced, of any size: a large raster is drawn in parts and written as it goes. Each tile pixel's value is "
    "placed at its centre, as GIS programs place it (--plugin-grid keeps the plug-in's own positions). Pixels whose "
    "centres lie beyond the tiled world (north of 85.0511 or south of -85.0511 degrees) have no data.\n"
    "With --levels it draws a pyramid of tiles instead, each tile as zarvo-serve's WMTS draws it, into an MBTiles "
    "file, a GeoPackage, a PMTiles archive or a {z}/{x}/{y} directory.";

const char kExitStatus[] =
    "Exit status: 0 written, 1 failed, 2 bad arguments, 128 + N stopped by signal N (SIGTERM, SIGINT, SIGHUP), "
    "its temporary files removed.";

// Which of the grid's options were given; they are checked together once
// all are read.
struct GridArguments {
    bool zoom = false, bbox = false, edges = false, size = false, resolution = false;
    double xres = 0, yres = 0;
};

bool ParseNumbers(const std::vector<std::string>& words, std::vector<double*> into) {
    if (words.size() != into.size()) return false;
    for (size_t i = 0; i < words.size(); ++i) {
        if (!ParseFiniteNumber(words[i], *into[i])) return false;
    }
    return true;
}

bool ParseSize(const std::string& w, const std::string& h, long long low, RenderOptions& o) {
    long long width = 0, height = 0;
    if (!ParseWholeNumber(w, low, kMaxSide, width) || !ParseWholeNumber(h, low, kMaxSide, height)) return false;
    o.width = static_cast<uint32_t>(width);
    o.height = static_cast<uint32_t>(height);
    return true;
}

void DeclareGrid(CommandLine& line, RenderOptions& o, GridArguments& grid) {
    line.Option("--zoom", "Z|auto",
                "1 (one tile for the world) to 21; reads the tile service's zoom Z-1; auto: the zoom whose tiles have "
                "at least one pixel per output pixel (zarvo-serve's rule), no deeper than --max-zoom",
                [&o, &grid](const std::vector<std::string>& words) {
                    long long zoom = 0;
                    if (words[0] != "auto" && !ParseWholeNumber(words[0], kMinZoom, kMaxZoom, zoom)) {
                        return "1 to 21 or auto";
                    }
                    o.zoom = static_cast<int32_t>(zoom);
                    grid.zoom = true;
                    return "";
                })
        .InUsage(kRasterForms);
    line.Option("--max-zoom", "Z",
                "the deepest zoom --zoom auto picks, 1 to 21 (default: the deepest the tile source holds; 21 for a "
                "tile server or a URL template)",
                ReadWholeNumber(kMinZoom, kMaxZoom, o.maxZoom));
    line.Option("--bbox", "W,S,E,N",
                "degrees; the centres of the edge pixels lie on the edges. Latitudes lie within -90 to 90; a box "
                "across longitude 180 has WEST > EAST, or an edge beyond 180 (up to 540)",
                [&o, &grid](const std::vector<std::string>& words) {
                    std::vector<std::string> parts;
                    std::stringstream in(words[0]);
                    for (std::string part; std::getline(in, part, ',');) parts.push_back(part);
                    grid.bbox = true;
                    return ParseNumbers(parts, {&o.west, &o.south, &o.east, &o.north})
                               ? ""
                               : "four finite numbers WEST,SOUTH,EAST,NORTH in degrees";
                })
        .InUsage(kCentres);
    line.Option("--size", "WxH", "with --bbox: 2 to 1048576 pixels each",
                [&o, &grid](const std::vector<std::string>& words) {
                    const size_t x = words[0].find('x');
                    grid.size = true;
                    return x != std::string::npos && ParseSize(words[0].substr(0, x), words[0].substr(x + 1), 2, o)
                               ? ""
                               : "WIDTHxHEIGHT, each 2 to 1048576";
                })
        .InUsage(kCentres);
    line.Option("-te", "XMIN YMIN XMAX YMAX",
                "the outer edges in degrees, as gdalwarp takes them, within the ranges of --bbox",
                [&o, &grid](const std::vector<std::string>& words) {
                    grid.edges = true;
                    return ParseNumbers(words, {&o.west, &o.south, &o.east, &o.north})
                               ? ""
                               : "four finite numbers XMIN YMIN XMAX YMAX in degrees";
                })
        .InUsage(kEdgesBySize | kEdgesByResolution);
    line.Option("-ts", "W H", "with -te: the size, 1 to 1048576 pixels each",
                [&o, &grid](const std::vector<std::string>& words) {
                    grid.size = true;
                    return ParseSize(words[0], words[1], 1, o) ? "" : "WIDTH HEIGHT, each 1 to 1048576";
                })
        .InUsage(kEdgesBySize);
    line.Option("-tr", "XRES YRES", "with -te: the pixel size in degrees",
                [&grid](const std::vector<std::string>& words) {
                    grid.resolution = true;
                    return ParseNumbers(words, {&grid.xres, &grid.yres}) && grid.xres > 0 && grid.yres > 0
                               ? ""
                               : "two positive pixel sizes in degrees";
                })
        .InUsage(kEdgesByResolution);
}

void DeclareTiles(CommandLine& line, RenderOptions& o) {
    line.Option("--tiles", "SOURCE",
                "a directory in the service's layout DIR/LAYER/Z/X/Y.EXT (rows from the south); a directory in any "
                "layout as a path template, e.g. DIR/{z}/{x}/{y}.png; an MBTiles file; http://HOST:PORT, which serves "
                "every tile address as it is; or a URL template over http or https. In templates {y} counts rows "
                "from the north (XYZ, as most servers), {-y} from the south (TMS); {z} is the service's zoom, "
                "{s:a,b,c} picks one of the listed servers ({s}: a, b, c), {layer} and {ext} are the layer and its "
                "image type",
                ReadText(o.tiles))
        .InUsage(kRasterForms | kPyramid);
    line.Option("--missing", "blank|fail",
                "a tile the source does not have (no file, HTTP 404) is drawn grey and counted (blank, the default) or "
                "fails the render; a render whose every tile is missing fails",
                ReadChoice<MissingTiles>({{"blank", MissingTiles::Blank}, {"fail", MissingTiles::Fail}}, o.missing));
    const auto seconds = [](std::chrono::milliseconds& limit) {
        return ReadWholeNumber(1, 86400, [&limit](long long n) { limit = std::chrono::seconds(n); }, "seconds");
    };
    line.Option("--tile-timeout", "S", "time limit of one tile transfer (default 10)",
                seconds(o.limits.transferTimeout));
    line.Option("--fetch-deadline", "S", "time limit of the transfers of one part (default 300)",
                seconds(o.limits.deadline));
    line.Option("--max-tile-bytes", "N", "largest tile file taken (default 4194304)",
                ReadWholeNumber(1, int64_t{1} << 30, o.limits.maxBodyBytes, "bytes"));
}

void DeclareOutput(CommandLine& line, RenderOptions& o) {
    line.Option("--out", "FILE",
                "the raster; its extension names the format (.tif GeoTIFF, .png PNG with world file .pgw, .jpg) "
                "unless -of does",
                ReadText(o.output.path))
        .Required();
    line.Option("-of", "FORMAT", "a GDAL raster driver that writes files, e.g. GTiff, COG or PNG",
                ReadText(o.output.driver));
    line.Option("-co", "NAME=VALUE", "a creation option for the driver (again for more)",
                [&o](const std::vector<std::string>& words) {
                    if (words[0].find('=') == std::string::npos || words[0][0] == '=') return "NAME=VALUE";
                    o.output.creationOptions.push_back(words[0]);
                    return "";
                });
    line.Flag("-overwrite,--overwrite", "replace an existing output file (else it is refused)",
              o.outputRules.overwrite);
    line.Flag("--follow-link",
              "when --out is a symbolic link, write the file it points to (else a link is refused; what is not a "
              "regular file is never replaced)",
              o.outputRules.followLink);
    line.Option("--config", "KEY VALUE", "a GDAL configuration option (again for more)",
                [&o](const std::vector<std::string>& words) {
                    if (words[0].empty()) return "a KEY and its VALUE";
                    o.output.config.emplace_back(words[0], words[1]);
                    return "";
                });
    line.Option("--nodata", "alpha|mask", "pixels without data: an alpha band (default) or a mask",
                ReadChoice<NodataStyle>({{"alpha", NodataStyle::Alpha}, {"mask", NodataStyle::Mask}}, o.output.nodata));
    line.Option("--chunk", "K/N",
                "only the K-th of N bands of rows (K = 1..N), into its own file; gdalbuildvrt assembles the N files. "
                "With --levels, the K-th of N parts of the pyramid's tiles, which --merge joins",
                [&o](const std::vector<std::string>& words) {
                    long long k = 0, n = 0;
                    const size_t slash = words[0].find('/');
                    if (slash == std::string::npos || !ParseWholeNumber(words[0].substr(slash + 1), 1, kMaxSide, n) ||
                        !ParseWholeNumber(words[0].substr(0, slash), 1, n, k)) {
                        return "K/N with 1 <= K <= N";
                    }
                    o.chunkIndex = static_cast<uint32_t>(k);
                    o.chunkCount = static_cast<uint32_t>(n);
                    return "";
                });
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

// What the grid's options say together; "" when they make one grid.
std::string SettleGrid(const GridArguments& grid, RenderOptions& o) {
    if (!grid.bbox && !grid.edges) return "--bbox or -te is missing";
    if (grid.bbox && grid.edges) return "--bbox (pixel centres) and -te (outer edges) exclude each other";
    o.edges = grid.edges;
    if (grid.bbox && (!grid.size || grid.resolution)) {
        return grid.resolution ? "-tr goes with -te, not --bbox" : "--bbox wants --size";
    }
    if (grid.edges && grid.size == grid.resolution) return "-te wants one of -ts W H and -tr XRES YRES";
    const std::string box = CheckBox(o);
    if (!box.empty()) return box;
    if (grid.resolution) {
        const double columns = std::nearbyint((o.east - o.west) / grid.xres);
        const double rows = std::nearbyint((o.north - o.south) / grid.yres);
        if (!(columns >= 1 && columns <= kMaxSide && rows >= 1 && rows <= kMaxSide)) {
            return "-tr makes the raster outside 1 to 1048576 pixels a side";
        }
        o.width = static_cast<uint32_t>(columns);
        o.height = static_cast<uint32_t>(rows);
    }
    if (o.chunkCount > o.height) {
        return "--chunk " + std::to_string(o.chunkIndex) + "/" + std::to_string(o.chunkCount) + ": the raster has " +
               std::to_string(o.height) + " rows";
    }
    return "";
}

std::string SettleRaster(const GridArguments& grid, RenderOptions& o) {
    if (o.layer.empty()) return "--layer is missing";
    if (!grid.zoom) return "--zoom is missing";
    if (o.tiles.empty()) return "--tiles is missing";
    return SettleGrid(grid, o);
}

// Which of the pyramid's options were given.
struct PyramidArguments {
    bool levels = false, set = false, size = false, format = false;
};

void DeclarePyramids(CommandLine& line, PyramidOptions& p, PyramidArguments& given) {
    line.Option("--levels", "A-B",
                "draw a tile pyramid instead of a raster: the tile matrix set's levels A to B (or one level A), as "
                "zarvo-serve's WMTS offers them over the same tiles; the area is -te or --bbox (default: the whole "
                "set). The same command resumes an interrupted pyramid; --overwrite starts afresh",
                [&p, &given](const std::vector<std::string>& words) {
                    const size_t dash = words[0].find('-');
                    long long low = 0, high = 0;
                    const std::string first = words[0].substr(0, dash);
                    const std::string last = dash == std::string::npos ? first : words[0].substr(dash + 1);
                    // Level z of either set is drawn at plug-in zoom z + 1 or deeper.
                    if (!ParseWholeNumber(first, 0, kMaxZoom - 1, low) ||
                        !ParseWholeNumber(last, low, kMaxZoom - 1, high)) {
                        return "levels A-B with 0 <= A <= B <= " + std::to_string(kMaxZoom - 1);
                    }
                    p.minLevel = static_cast<int32_t>(low);
                    p.maxLevel = static_cast<int32_t>(high);
                    given.levels = true;
                    return std::string();
                })
        .InUsage(kPyramid);
    const OptionReader set = ReadChoice<TileMatrixSetId>(
        {{"WebMercatorQuad", TileMatrixSetId::WebMercatorQuad}, {"WorldCRS84Quad", TileMatrixSetId::WorldCrs84Quad}},
        p.set);
    line.Option("--tile-matrix-set", "SET",
                "WebMercatorQuad (EPSG:3857) or WorldCRS84Quad (longitude/latitude), the WMTS's tile matrix sets",
                [set, &given](const std::vector<std::string>& words) {
                    given.set = true;
                    return set(words);
                })
        .InUsage(kPyramid);
    const OptionReader size = ReadChoice<uint32_t>({{"256", 256}, {"512", 512}}, p.tileSize);
    line.Option("--tile-size", "256|512",
                "pixels a side (default 256); 512: the tiles of the set's 512-pixel twin (WebMercatorQuad512, "
                "WorldCRS84Quad512), for screens of twice the density",
                [size, &given](const std::vector<std::string>& words) {
                    given.size = true;
                    return size(words);
                });
    const OptionReader format = ReadChoice<ImageFormat>(
        {{"png", ImageFormat::Png}, {"jpeg", ImageFormat::Jpeg}, {"webp", ImageFormat::Webp}}, p.format);
    line.Option("--tile-format", "png|jpeg|webp", "the tiles' image format, as the WMTS encodes it (default png)",
                [format, &given](const std::vector<std::string>& words) {
                    given.format = true;
                    return format(words);
                });
    line.Flag("--write-empty",
              "also write the tiles that have no pixel on the tiled world (WorldCRS84Quad's rows beyond 85.0511 "
              "degrees north or south), which are otherwise counted and left out",
              p.writeEmpty);
    line.Option("--merge", "PART...",
                "join pyramid parts drawn with --chunk K/N (or any packages of one pyramid) into --out, as one run "
                "would have made it",
                [&p](const std::vector<std::string>& words) {
                    p.mergeParts.insert(p.mergeParts.end(), words.begin(), words.end());
                    return "";
                })
        .InUsage(kMerge);
}

std::string SettlePyramid(const GridArguments& grid, const PyramidArguments& given, RenderOptions& o) {
    PyramidOptions& p = o.pyramid;
    if (!given.levels) return "--levels is missing: --tile-matrix-set, --tile-size and --tile-format go with it";
    if (!given.set) return "--tile-matrix-set is missing";
    if (o.layer.empty()) return "--layer is missing";
    if (o.tiles.empty()) return "--tiles is missing";
    if (grid.zoom) return "--zoom goes with a raster: a pyramid's levels are drawn at zarvo-serve's zooms";
    if (grid.size || grid.resolution) return "--size, -ts and -tr go with a raster, not --levels";
    if (!o.output.driver.empty() || !o.output.creationOptions.empty() || o.output.nodata != NodataStyle::Alpha) {
        return "-of, -co and --nodata go with a raster: --out names a pyramid's target";
    }
    if (o.missing != MissingTiles::Blank) {
        return "--missing goes with a raster: a pyramid draws a missing tile as zarvo-serve does";
    }
    if (grid.bbox && grid.edges) return "give the area once, with -te or --bbox";
    if (grid.bbox || grid.edges) {
        if (!(o.west >= -180 && o.west < o.east && o.east <= 180 && o.south >= -90 && o.south < o.north &&
              o.north <= 90)) {
            return "a pyramid's area lies within -180,-90,180,90, with WEST < EAST and SOUTH < NORTH";
        }
        p.areaGiven = true;
    }
    o.mode = RenderMode::Pyramid;
    return "";
}

std::string SettleMerge(const GridArguments& grid, const PyramidArguments& given, RenderOptions& o) {
    if (given.levels || given.set || given.size || given.format || o.pyramid.writeEmpty || !o.layer.empty() ||
        !o.tiles.empty() || grid.zoom || grid.bbox || grid.edges || o.chunkCount > 0) {
        return "--merge joins the parts as they are: only --out, --overwrite and --quiet go with it";
    }
    o.mode = RenderMode::Merge;
    return "";
}

// What the options say together: a raster, a pyramid or a merge; "" when
// they make one.
std::string SettleMode(const GridArguments& grid, const PyramidArguments& given, RenderOptions& o) {
    if (!o.pyramid.mergeParts.empty()) return SettleMerge(grid, given, o);
    if (given.levels || given.set || given.size || given.format || o.pyramid.writeEmpty) {
        return SettlePyramid(grid, given, o);
    }
    return SettleRaster(grid, o);
}

}  // namespace

PixelGrid RenderOptions::Grid() const {
    return edges ? GridFromEdges(west, south, east, north, width, height)
                 : GridFromCentres(west, south, east, north, width, height);
}

CommandLineOutcome ParseRenderOptions(const std::vector<std::string>& args, const std::string& version,
                                      RenderOptions& o) {
    GridArguments grid;
    PyramidArguments pyramid;
    CommandLine line("zarvo-render", version, kDescription, kExitStatus);
    line.Group("The raster");
    line.Option("--layer", "LAYER", "the layer to draw: map, aerial or hybrid", ReadText(o.layer))
        .InUsage(kRasterForms | kPyramid);
    DeclareGrid(line, o, grid);
    line.Flag("--plugin-grid",
              "the plug-in's own positions (a tile pixel's value at its north-west corner), as the map application "
              "shows them",
              o.pluginGrid);
    line.Group("The tiles");
    DeclareTiles(line, o);
    line.Group("The output");
    DeclareOutput(line, o);
    line.Group("Tile pyramids");
    DeclarePyramids(line, o.pyramid, pyramid);
    line.Group("The plug-in");
    line.Option("--plugin", "LIBRARY",
                "the plug-in (default: libzarvo_data_plugin.so next to this program, else libzarvo_data_plugin.so.1 "
                "in ../lib)",
                ReadText(o.plugin));
    line.Option("--layer-id", "N", "the layer id to bind (default 1)",
                ReadWholeNumber(INT32_MIN, INT32_MAX, o.layerId));
    line.Group("Running");
    const auto budget = [&o](long long megabytes) { o.memoryBudgetBytes = static_cast<uint64_t>(megabytes) << 20; };
    line.Option("--max-memory", "MB",
                "memory the render may take, the program's own " + std::to_string(kProgramBytes >> 20) +
                    " MB included (default 2048, at least " + std::to_string(kLeastMemoryBudget >> 20) + ")",
                ReadWholeNumber(kLeastMemoryBudget >> 20, int64_t{1} << 30, budget, "megabytes"));
    line.Flag("-q,--quiet", "print only errors, warnings and the count of missing tiles", o.quiet);
    line.Flag("--verbose", "also print the plug-in's descriptor", o.verbose);

    const CommandLineOutcome outcome = line.Parse(args);
    if (outcome.next != CommandLineOutcome::Next::Run) return outcome;
    const std::string mistake = SettleMode(grid, pyramid, o);
    return mistake.empty() ? outcome : CommandLineOutcome::Refusal(mistake);
}
